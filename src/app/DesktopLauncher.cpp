#include "DesktopLauncher.h"

#include "Desktop.h"
#include "DesktopApps.h"

#include "ui/OpenWithDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>

namespace tamsin::app {

bool DesktopLauncher::open(const std::string& path)
{
    return desktop_.openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void DesktopLauncher::openWith(const std::string& path)
{
    const QString file = QString::fromStdString(path);
    const QMimeType type = QMimeDatabase().mimeTypeForFile(file);
    const std::vector<DesktopApp> apps = applicationsFor(type.name());
    QStringList names;
    QList<QIcon> icons;
    for (const DesktopApp& app : apps) {
        names << app.name;
        icons << (QFileInfo(app.icon).isAbsolute() ? QIcon(app.icon) : QIcon::fromTheme(app.icon));
    }
    ui::OpenWithDialog dialog(parent_, QFileInfo(file).fileName(), type.comment(), names, icons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (const int row = dialog.chosen(); row >= 0) {
        const QStringList command = commandFor(apps[static_cast<std::size_t>(row)].exec, file);
        if (!command.isEmpty())
            desktop_.startProgram(command.front(), command.mid(1));
        return;
    }
    const QString program = QFileDialog::getOpenFileName(parent_, QStringLiteral("Other Program"), QStringLiteral("/usr/bin"));
    if (!program.isEmpty())
        desktop_.startProgram(program, {file});
}

} // namespace tamsin::app
