// The commands of the Recovery, Tools and Help menus that are not about
// browsing: snapshots, Live Update, the manual and the About box.

#include "WizardDialog.h"

#include "ContentsModel.h"
#include "Desktop.h"
#include "FolderTreeModel.h"
#include "FolderTreeView.h"
#include "NameCodec.h"
#include "WizardTexts.h"

#include "snapshot/Snapshot.h"
#include "snapshot/SnapshotDiskCheck.h"
#include "ui/AboutDialog.h"
#include "ui/HelpWindow.h"
#include "ui/MessageDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QTreeView>

namespace tamsin::app {

using ui::MessageDialog;
using ui::MessageKind;

void WizardDialog::saveSnapshot()
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("saveSnapshotDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("*.vsnp (*.vsnp)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const std::string path = snapshotPath(dialog.selectedFiles().constFirst().toStdString());
    const SnapshotResult result = tamsin::saveSnapshot(session_.mounted, session_.disks.selectedDisk, path);
    if (!result.ok())
        MessageDialog::show(this, result.message, MessageKind::Error);
}

void WizardDialog::loadSnapshot()
{
    if (!state_.canLoadSnapshot())
        return;
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("loadSnapshotDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(QStringLiteral("*.VSNP (*.VSNP)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const std::string path = dialog.selectedFiles().constLast().toStdString();

    // The views let go of the nodes; the loader checks the whole file before
    // it replaces anything.
    folderModel_->clear();
    contents_->clear();
    contents_->clearDamage();
    // A snapshot the open disks do not hold would recover other data.
    const SnapshotDiskGuard guard{session_.openDisks(), [this](const std::string& question) {
                                      return MessageDialog::ask(this, question, MessageDialog::Default::No);
                                  }};
    const SnapshotResult result = tamsin::loadSnapshot(session_.mounted, path, nullptr, guard);
    if (result.status == SnapshotStatus::OtherDisk)
        return;
    if (!result.ok()) {
        MessageDialog::show(this, result.message, MessageKind::Error);
        return;
    }
    // The snapshot holds no layout; the volume table read in this step
    // knows where the volume's segments lie.
    session_.mounted.adoptLayout(session_.volumes);
    folderModel_->recreate(names_->toDisplay(session_.mounted.volumeName));
    folderModel_->attach();
    state_.enterBrowsingFromSnapshot();
    focusPane_ = Pane::List;
    showFolderOfItem(FolderTree::kRootItem);
    folderTree_->expand(folderModel_->indexForItem(FolderTree::kRootItem));
    applyState();
}

void WizardDialog::liveUpdate()
{
    // No updater of its own: the system's packages bring new versions.
    MessageDialog::show(this, text::kLiveUpdateBySystem, MessageKind::Information);
}

void WizardDialog::helpContents()
{
    const QString page = manualFolder_ + QLatin1Char('/') + QString::fromUtf8(text::kManualPage);
    if (manualFolder_.isEmpty() || !QFileInfo::exists(page)) {
        MessageDialog::show(this, text::kHelpMissing, MessageKind::Error);
        return;
    }
    if (!help_)
        help_ = new ui::HelpWindow(this, QString::fromUtf8(text::kHelpCaption),
                                   QString::fromUtf8(text::kHelpSearchPlaceholder));
    help_->openPage(page);
    help_->show();
    help_->raise();
    help_->activateWindow();
}

void WizardDialog::showAbout()
{
    ui::AboutDialog dialog(this);
    dialog.exec();
}

} // namespace tamsin::app
