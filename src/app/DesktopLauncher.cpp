#include "DesktopLauncher.h"

#include "Desktop.h"

#include <QFileDialog>
#include <QUrl>

namespace tamsin::app {

bool DesktopLauncher::open(const std::string& path)
{
    return desktop_.openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void DesktopLauncher::openWith(const std::string& path)
{
    const QString program = QFileDialog::getOpenFileName(parent_, QStringLiteral("Open With"), QStringLiteral("/usr/bin"));
    if (!program.isEmpty())
        desktop_.startProgram(program, {QString::fromStdString(path)});
}

} // namespace tamsin::app
