#pragma once
// What the wizard asks of the desktop: opening pages and files, starting a
// program, and ending the process. Tests replace it.

#include <QString>
#include <QStringList>
#include <QUrl>

namespace tamsin::app {

class Desktop {
public:
    virtual ~Desktop() = default;
    // Opens a web page or a file with the desktop's program for it.
    virtual bool openUrl(const QUrl& url) = 0;
    // Starts a program without waiting for it.
    virtual bool startProgram(const QString& program, const QStringList& arguments) = 0;
    // Ends the process at once, even while a worker runs.
    virtual void exitNow() = 0;
};

// The real desktop: QDesktopServices, QProcess, and an immediate exit.
class SystemDesktop final : public Desktop {
public:
    bool openUrl(const QUrl& url) override;
    bool startProgram(const QString& program, const QStringList& arguments) override;
    void exitNow() override;
};

} // namespace tamsin::app
