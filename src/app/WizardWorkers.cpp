// The volume search and the mount on worker threads, and how their reports
// change the window.

#include "WizardDialog.h"

#include "ContentsModel.h"
#include "FolderTreeModel.h"
#include "FolderTreeView.h"
#include "NameCodec.h"
#include "VolumeTree.h"
#include "WizardTexts.h"
#include "WorkerThread.h"

#include "mount/VolumeReports.h"
#include "ui/CopyChooserDialog.h"
#include "ui/MessageDialog.h"

#include <QTreeView>

namespace tamsin::app {
namespace {

std::string invalidVolumeMessage(std::uint32_t sectorsPerBlock)
{
    std::string message = "This volume cannot be mounted: its table entry gives ";
    message.append(std::to_string(sectorsPerBlock))
        .append(" sectors per block, and a volume has 1 to ")
        .append(std::to_string(kMaxSectorsPerBlock))
        .append(". The entry is damaged; Search Volumes may find the volume's table intact elsewhere.");
    return message;
}

} // namespace

void WizardDialog::startWorker(std::function<void()> body)
{
    if (worker_) {
        // The last worker has made its final report and is only returning.
        worker_->wait();
        worker_.reset();
    }
    worker_ = std::make_unique<WorkerThread>(std::move(body));
    worker_->start();
}

void WizardDialog::startVolumeSearch(SearchRange range)
{
    pickedRows_.clear();
    volumeTree_->recreate({session_.disks.selectedDisk});
    state_.beginVolumeSearch(range.end);
    applyState();
    const std::uint32_t runLength = session_.settings.sectorsPerAttempt();
    SearchDisplay* display = this;
    startWorker([this, range, runLength, display] {
        SearchReporter reporter(this, *display);
        const SearchOutcome outcome = searchVolumes(session_.reader, session_.volumes, range, runLength,
                                                    session_.mounted.stopRequested, reporter);
        reporter.finish(outcome);
    });
}

void WizardDialog::showSearchProgress(std::uint64_t cursor, std::uint64_t scanned, std::uint64_t total, int percent)
{
    if (closing_)
        return;
    state_.showSearchProgress(cursor, scanningStatus(scanned, total), percent);
    applyState();
}

void WizardDialog::addFoundVolume(const VolumeInfo& volume, std::uint32_t count)
{
    if (closing_)
        return;
    volumeTree_->addVolume(names_->toDisplay(volume.name), static_cast<int>(count - 1));
    state_.showVolumesFound(count);
    applyState();
}

void WizardDialog::searchFinished(const SearchOutcome&)
{
    if (closing_)
        return;
    session_.mounted.stopRequested = false;
    state_.endVolumeSearch();
    applyState();
}

void WizardDialog::startMount()
{
    // The new folder tree has only its root until the mount is done; the
    // list lets go of the nodes the mount is about to free.
    contents_->clear();
    contents_->clearDamage();
    folderModel_->recreate(names_->toDisplay(session_.mounted.volumeName));
    state_.beginMount();
    applyState();
    MountDisplay* display = this;
    startWorker([this, display] {
        MountReporter reporter(this, *display);
        const MountResult result = mountVolume(session_.mounted, session_.reader, reporter);
        reporter.finish(result);
    });
}

void WizardDialog::showMountStatus(const std::string& text)
{
    if (closing_)
        return;
    state_.mountStatus(text);
    applyState();
}

void WizardDialog::showMountProgress(int percent)
{
    if (closing_)
        return;
    state_.mountProgress(percent);
    applyState();
}

void WizardDialog::showMountInstruction(const std::string& text)
{
    if (closing_)
        return;
    state_.mountInstruction(text);
    applyState();
}

void WizardDialog::enterMountStage(MountStage stage)
{
    if (closing_)
        return;
    state_.mountStage(stage);
    applyState();
}

void WizardDialog::showMountCounters(std::uint32_t folders, std::uint32_t files, const std::string& lastName)
{
    if (closing_)
        return;
    state_.mountCounters(folders, files, names_->toDisplay(lastName).toStdString());
    applyState();
}

CopyChoice WizardDialog::askCopy(TableKind kind)
{
    if (closing_)
        return CopyChoice::Cancel;
    return ui::CopyChooserDialog::ask(this, kind);
}

void WizardDialog::mountFinished(MountResult result)
{
    if (closing_)
        return;
    // A Stop confirmed after the last poll must not reach the next work.
    session_.mounted.stopRequested = false;
    if (result != MountResult::Completed) {
        if (result == MountResult::Invalid)
            ui::MessageDialog::show(this, invalidVolumeMessage(session_.mounted.sectorsPerBlock), ui::MessageKind::Error);
        folderModel_->clear();
        const auto position = session_.mounted.volumeIndex;
        if (!pickedRows_.empty())
            state_.abandonMount(pickedRows_);
        else
            state_.abandonMount(position < session_.volumes.volumeCount() ? session_.volumes[position] : VolumeInfo{});
        applyState();
        return;
    }
    folderModel_->attach();
    state_.completeMount();
    focusPane_ = Pane::List;
    showFolderOfItem(FolderTree::kRootItem);
    // The root is the tree's current folder, so the first key pressed in the
    // tree moves from it.
    const QModelIndex root = folderModel_->indexForItem(FolderTree::kRootItem);
    folderTree_->expand(root);
    quietTree_ = true;
    folderTree_->setCurrentIndex(root);
    quietTree_ = false;
    applyState();
    // The browsing step hides the status panel: say it once, in a message.
    if (const TableReadDamage& damage = session_.mounted.tableDamage; damage.any()) {
        std::string message = std::string(text::kTableDamageHead) + "\r\n\r\n";
        for (const auto& [label, value] : tableDamageRows(damage))
            message += label + ' ' + value + "\r\n";
        ui::MessageDialog::show(this, message + "\r\n" + text::kTableDamageTail, ui::MessageKind::Information);
    }
}

} // namespace tamsin::app
