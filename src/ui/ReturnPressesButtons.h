#pragma once
// Return and Enter press the focused push or tool button, as Space does, in
// every window of the application (Qt leaves Return to a dialog's default
// button, and main windows ignore it).

#include <QObject>

namespace tamsin::ui {

class ReturnPressesButtons : public QObject {
    Q_OBJECT
public:
    // Watches every widget of the application while this object lives.
    explicit ReturnPressesButtons(QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace tamsin::ui
