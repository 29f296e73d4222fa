#include "DesktopLauncher.h"

#include "Desktop.h"
#include "DesktopApps.h"

#include "ui/OpenWithDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStandardPaths>
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
    // A program that runs in a terminal gets the desktop's terminal, or is
    // not offered where there is none.
    const QString terminal = QStandardPaths::findExecutable(QStringLiteral("x-terminal-emulator"));
    std::vector<DesktopApp> apps = applicationsFor(type.name());
    std::erase_if(apps, [&](const DesktopApp& app) { return app.terminal && terminal.isEmpty(); });
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
        const DesktopApp& app = apps[static_cast<std::size_t>(row)];
        QStringList command = commandFor(app.exec, file);
        if (app.terminal && !command.isEmpty())
            command = QStringList{terminal, QStringLiteral("-e")} + command;
        if (!command.isEmpty())
            desktop_.startProgram(command.front(), command.mid(1));
        return;
    }
    const QString program = QFileDialog::getOpenFileName(parent_, QStringLiteral("Other Program"), QStringLiteral("/usr/bin"));
    if (!program.isEmpty())
        desktop_.startProgram(program, {file});
}

} // namespace tamsin::app
