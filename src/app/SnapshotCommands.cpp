// Saving the mounted volume's scan as a snapshot, and loading one instead
// of mounting.

#include "SnapshotCommands.h"

#include "BrowsingPage.h"
#include "NameCodec.h"
#include "SnapshotTexts.h"
#include "WizardController.h"

#include "snapshot/Snapshot.h"
#include "ui/MessageDialog.h"

#include <QFileDialog>

namespace tamsin::app {

using ui::MessageDialog;
using ui::MessageKind;

SnapshotCommands::SnapshotCommands(WizardController& controller, BrowsingPage& browsing, const NameCodec& names,
                                   QWidget* window) :
    controller_(controller), session_(controller.session()), state_(controller.state()), browsing_(browsing),
    names_(&names), window_(window)
{
}

void SnapshotCommands::save()
{
    QFileDialog dialog(window_);
    dialog.setObjectName(QStringLiteral("saveSnapshotDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("*.vsnp (*.vsnp)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const std::string path = snapshotPath(dialog.selectedFiles().constFirst().toStdString());
    const SnapshotResult result = tamsin::saveSnapshot(session_.mounted, session_.disks.selectedDisk, path);
    if (!result.ok())
        MessageDialog::show(window_, snapshotMessage(result), MessageKind::Error);
}

void SnapshotCommands::load()
{
    if (!state_.canLoadSnapshot())
        return;
    QFileDialog dialog(window_);
    dialog.setObjectName(QStringLiteral("loadSnapshotDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(QStringLiteral("*.VSNP (*.VSNP)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const std::string path = dialog.selectedFiles().constLast().toStdString();

    // The views let go of the nodes; the loader checks the whole file before
    // it replaces anything.
    browsing_.releaseFolders();
    browsing_.clearDamage();
    // A snapshot the open disks do not hold would recover other data.
    const SnapshotDiskGuard guard{session_.openDisks(), [this](SnapshotDiskMatch match) {
                                      return MessageDialog::ask(window_, words::snapshotOtherDiskQuestion(match),
                                                                MessageDialog::Default::No);
                                  }};
    const SnapshotResult result = tamsin::loadSnapshot(session_.mounted, path, nullptr, guard);
    if (result.status == SnapshotStatus::OtherDisk)
        return;
    if (!result.ok()) {
        MessageDialog::show(window_, snapshotMessage(result), MessageKind::Error);
        return;
    }
    // The snapshot holds no layout; the volume table read in this step
    // knows where the volume's segments lie.
    session_.mounted.adoptLayout(session_.volumes);
    browsing_.newFolderTree(names_->toDisplay(session_.mounted.volumeName));
    browsing_.attachFolders();
    state_.enterBrowsingFromSnapshot();
    browsing_.showRoot(false);
    controller_.applyState();
}

} // namespace tamsin::app
