// tamsin-gui [--no-devices] [IMAGE...]: the recovery wizard.

#include "WizardDialog.h"

#include "disk/DiskEnumerator.h"
#include "ui/MessageDialog.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tamsin-gui"));
    QApplication::setApplicationVersion(QStringLiteral(TAMSIN_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("tamsin-gui"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Recovers data from Novell NetWare traditional volumes on disks and raw disk images.\n"
                       "Every disk and image is opened read-only."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption noDevices(QStringLiteral("no-devices"),
                                       QStringLiteral("List only the images named on the command line."));
    parser.addOption(noDevices);
    parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("Raw disk images to list after the disks."),
                                 QStringLiteral("[IMAGE...]"));
    parser.process(app);

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
