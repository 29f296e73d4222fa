#pragma once
// Starts the program for an extracted file through the desktop; Open With,
// or a type without a program, offers the desktop's applications for the
// type, and any other program.

#include "OpenFile.h"

class QWidget;

namespace tamsin::app {

class Desktop;

class DesktopLauncher final : public Launcher {
public:
    DesktopLauncher(QWidget* parent, Desktop& desktop) : parent_(parent), desktop_(desktop) {}

    bool open(const std::string& path) override;
    void openWith(const std::string& path) override;

private:
    QWidget* parent_;
    Desktop& desktop_;
};

} // namespace tamsin::app
