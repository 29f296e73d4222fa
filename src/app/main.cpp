// tamsin-gui [--no-devices] [IMAGE...]: the recovery wizard.

#include "WizardDialog.h"

#include "disk/DiskEnumerator.h"
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

    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("tamsin-gui"));
    // Without a desktop's icon theme (a bare X server), take Adwaita's icons.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));

    std::vector<std::string> images;
    for (const QString& image : parser.positionalArguments())
        images.push_back(image.toStdString());
    tamsin::DiskSources sources;
    if (parser.isSet(noDevices))
        sources.sysBlock.clear();
    tamsin::EnumerationResult listing = tamsin::enumerateDisks(images, sources);

    tamsin::app::WizardDialog window(std::move(listing.table));
    window.show();
    for (const std::string& error : listing.errors)
        tamsin::ui::MessageDialog::show(&window, error, tamsin::ui::MessageKind::Error);
    return app.exec();
}
