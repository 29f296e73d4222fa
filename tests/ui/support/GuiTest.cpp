#include "GuiTest.h"

#include <QElapsedTimer>
#include <QThread>

namespace tamsin::test {

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

void pump(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

ModalWatcher::ModalWatcher(std::function<bool(QWidget*)> answer) : answer_(std::move(answer))
{
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &ModalWatcher::poll);
    timer_.start();
}

bool ModalWatcher::waitAnswered(int timeoutMs)
{
    return waitUntil([this] { return answered_; }, timeoutMs);
}

void ModalWatcher::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || answered_)
        return;
    if (answer_(modal)) {
        answered_ = true;
        timer_.stop();
    }
}

} // namespace tamsin::test
