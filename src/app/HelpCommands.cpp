// Live Update, the manual, the About box and the home page.

#include "HelpCommands.h"

#include "Desktop.h"
#include "WizardTexts.h"

#include "ui/AboutDialog.h"
#include "ui/HelpWindow.h"
#include "ui/MessageDialog.h"

#include <QFileInfo>
#include <QUrl>

namespace tamsin::app {

using ui::MessageDialog;
using ui::MessageKind;

HelpCommands::HelpCommands(Desktop& desktop, QWidget* window) : desktop_(desktop), window_(window) {}

void HelpCommands::liveUpdate()
{
    // No updater of its own: the system's packages bring new versions.
    MessageDialog::show(window_, text::kLiveUpdateBySystem, MessageKind::Information);
}

void HelpCommands::helpContents()
{
    const QString page = manualFolder_ + QLatin1Char('/') + QString::fromUtf8(text::kManualPage);
    if (manualFolder_.isEmpty() || !QFileInfo::exists(page)) {
        MessageDialog::show(window_, text::kHelpMissing, MessageKind::Error);
        return;
    }
    if (!help_)
        help_ = new ui::HelpWindow(window_, QString::fromUtf8(text::kHelpCaption),
                                   QString::fromUtf8(text::kHelpSearchPlaceholder));
    help_->openPage(page);
    help_->show();
    help_->raise();
    help_->activateWindow();
}

void HelpCommands::showAbout()
{
    ui::AboutDialog dialog(window_);
    dialog.exec();
}


void HelpCommands::openHomePage()
{
    if (!homePage_.isEmpty())
        desktop_.openUrl(QUrl(homePage_));
}

} // namespace tamsin::app
