#pragma once
// What the program says of itself: Live Update, the manual, the About box,
// and the home page the logo and the exit open.

#include <QString>

class QWidget;

namespace tamsin::ui {
class HelpWindow;
}

namespace tamsin::app {

class Desktop;

class HelpCommands {
public:
    HelpCommands(Desktop& desktop, QWidget* window);

    // The address the logo and the exit open; empty: none.
    void setHomePage(const QString& address) { homePage_ = address; }
    // The folder holding the user manual.
    void setManualFolder(const QString& folder) { manualFolder_ = folder; }

    void liveUpdate();
    void helpContents();
    void showAbout();
    void openHomePage();

private:
    Desktop& desktop_;
    QWidget* window_;
    QString homePage_;
    QString manualFolder_;
    ui::HelpWindow* help_ = nullptr;  // made on first use, owned by the window
};

} // namespace tamsin::app
