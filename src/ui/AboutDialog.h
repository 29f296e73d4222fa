#pragma once
// The About box: the product picture, its name and version, and OK.

#include <QDialog>

namespace tamsin::ui {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent);
};

} // namespace tamsin::ui
