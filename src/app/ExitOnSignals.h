#pragma once
// Turns SIGTERM, SIGHUP and SIGINT into an orderly end of the event loop, so
// the window's destructors run (the private folder of opened files among
// them) instead of the process dying where it stands. The handler only
// writes the signal's number to a pipe; the rest happens on the UI thread.

#include <QObject>

class QSocketNotifier;

namespace tamsin::app {

class ExitOnSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; at most one instance may live at a time.
    explicit ExitOnSignals(QObject* parent = nullptr);
    ~ExitOnSignals() override;

signals:
    // Emitted on the UI thread for each signal caught, before the
    // application is told to exit with 128 + signal.
    void received(int signal);

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tamsin::app
