// tamsin-gui [--access-mode N|F] [--no-devices] [IMAGE...]: the recovery wizard.

#include "ExitOnSignals.h"
#include "HelperStart.h"
#include "WizardDialog.h"

#include "disk/DiskEnumerator.h"
#include "disk/HelperDisk.h"
#include "disk/HelperLibraries.h"
#include "PrivateFolder.h"
#include "ui/MessageDialog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("tamsin-gui"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMSIN_VERSION));

    // The options are read before the window system is reached, so --help
    // and --version also work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Recovers data from Novell NetWare traditional volumes on disks and raw disk images.\n"
                       "Every disk and image is opened read-only."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption noDevices(QStringLiteral("no-devices"),
                                       QStringLiteral("List only the images named on the command line."));
    parser.addOption(noDevices);
    const QCommandLineOption accessMode(
        QStringLiteral("access-mode"),
        QStringLiteral("N (default): read disks and images directly. F: list and read the disks through the "
                       "helper libraries Disk32.dll and disk2.dll (from TAMSIN_HELPER_DIR when set)."),
        QStringLiteral("mode"), QStringLiteral("N"));
    parser.addOption(accessMode);
    parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("Raw disk images to list after the disks."),
                                 QStringLiteral("[IMAGE...]"));
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "tamsin-gui: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        QString text = parser.helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("tamsin-gui"));
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("tamsin-gui %s\n", TAMSIN_VERSION);
        return 0;
    }

    const char mode = tamsin::app::accessModeLetter(parser.value(accessMode));
    if (mode == 0) {
        std::fprintf(stderr, "tamsin-gui: unknown access mode '%s' (N or F)\n", qPrintable(parser.value(accessMode)));
        return 2;
    }
    if (mode == 'F' && !parser.positionalArguments().isEmpty()) {
        std::fputs("tamsin-gui: in access mode F the helper libraries list the disks; image files are listed in "
                   "access mode N\n",
                   stderr);
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("tamsin-gui"));
    // Without a desktop's icon theme (a bare X server), take Adwaita's icons.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));

    tamsin::EnumerationResult listing;
    if (mode == 'F') {
        // A library that cannot be loaded ends the program once its message is read.
        if (!tamsin::app::loadHelperLibraries())
            return 0;
        listing.table = tamsin::listHelperDisks(tamsin::HelperLibraries::process());
    } else {
        std::vector<std::string> images;
        for (const QString& image : parser.positionalArguments())
            images.push_back(image.toStdString());
        tamsin::DiskSources sources;
        if (parser.isSet(noDevices))
            sources.sysBlock.clear();
        listing = tamsin::enumerateDisks(images, sources);
    }

    // Opened-file folders of runs that were killed or crashed go now; a
    // signal ends this run through the event loop so its own folder goes too.
    tamsin::app::PrivateFolder::removeAbandoned();
    tamsin::app::ExitOnSignals exitOnSignals;

    tamsin::app::WizardDialog window(std::move(listing.table));
    window.show();
    for (const std::string& error : listing.errors)
        tamsin::ui::MessageDialog::show(&window, error, tamsin::ui::MessageKind::Error);
    return app.exec();
}
