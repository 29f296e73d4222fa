#include "Desktop.h"

#include <QDesktopServices>
#include <QProcess>

#include <cstdlib>

namespace tamsin::app {

bool SystemDesktop::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

bool SystemDesktop::startProgram(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

void SystemDesktop::exitNow()
{
    // Nothing is written by the program, so nothing is lost by skipping the
    // destructors; a worker thread may still be reading.
    std::_Exit(0);
}

} // namespace tamsin::app
