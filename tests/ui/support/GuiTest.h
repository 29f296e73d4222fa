#pragma once
// Helpers for tests that drive real widgets: waiting for the event loop to
// reach a state, and answering modal dialogs through their own buttons
// while the code under test is blocked in exec().

#include <QApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace tamsin::test {

// Runs the event loop until done() holds or timeoutMs passes; returns done().
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 15000);

// Runs the event loop for ms milliseconds.
void pump(int ms);

// Watches for the next modal dialog that answer() accepts (returns true for)
// and lets it answer from inside the dialog's own event loop.
class ModalWatcher : public QObject {
    Q_OBJECT
public:
    explicit ModalWatcher(std::function<bool(QWidget*)> answer);
    bool answered() const { return answered_; }
    // Waits until a dialog was answered.
    bool waitAnswered(int timeoutMs = 15000);

private:
    void poll();

    std::function<bool(QWidget*)> answer_;
    QTimer timer_;
    bool answered_ = false;
};

// Answers the next modal dialog of type T with f.
template <typename T>
class DialogAnswer : public ModalWatcher {
public:
    explicit DialogAnswer(std::function<void(T&)> f) :
        ModalWatcher([f = std::move(f)](QWidget* widget) {
            T* dialog = qobject_cast<T*>(widget);
            if (!dialog)
                return false;
            f(*dialog);
            return true;
        })
    {
    }
};

} // namespace tamsin::test
