#pragma once
// A thread that runs one piece of long work (a volume search or a mount).

#include <QThread>

#include <functional>

namespace tamsin::app {

class WorkerThread : public QThread {
    Q_OBJECT
public:
    explicit WorkerThread(std::function<void()> body, QObject* parent = nullptr) :
        QThread(parent), body_(std::move(body))
    {
    }

protected:
    void run() override { body_(); }

private:
    std::function<void()> body_;
};

} // namespace tamsin::app
