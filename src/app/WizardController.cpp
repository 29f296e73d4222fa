// Next, Back and Stop; the volume search and the mount on the worker thread,
// and how their reports change the pages.

#include "WizardController.h"

#include "BrowsingPage.h"
#include "DiskStepPage.h"
#include "NameCodec.h"
#include "VolumeRows.h"
#include "VolumeStepPage.h"
#include "WizardTexts.h"
#include "WorkerThread.h"

#include "disk/FileDevice.h"
#include "disk/RescueMap.h"
#include "ui/CopyChooserDialog.h"
#include "ui/MessageDialog.h"
#include "volumes/VolumeTableReader.h"

namespace tamsin::app {
namespace {

using ui::MessageDialog;
using ui::MessageKind;

std::string invalidVolumeMessage(std::uint32_t sectorsPerBlock)
{
    std::string message = "This volume cannot be mounted: its table entry gives ";
    message.append(std::to_string(sectorsPerBlock))
        .append(" sectors per block, and a volume has 1 to ")
        .append(std::to_string(kMaxSectorsPerBlock))
        .append(". The entry is damaged; Search Volumes may find the volume's table intact elsewhere.");
    return message;
}

// Opens the disk; an image is read through the rescue map the user gave for
// it or else the one beside it (IMAGE.map or IMAGE.mapfile), and a map that
// cannot be used refuses the disk with the reason.
bool openWithReader(SectorReader& reader, const DiskInfo& disk, std::string& error)
{
    OpenError failure;
    if (!reader.openDisk(disk, &failure)) {
        error = failure.message;
        return false;
    }
    std::string mapPath;
    std::string why;
    if (useRescueMap(reader, disk.rescueMap, true, mapPath, why))
        return true;
    reader.closeDisk();
    error = "The rescue map " + mapPath + " cannot be used: " + why;
    return false;
}

} // namespace

WizardController::WizardController(DiskTable disks, const NameCodec& names, QWidget* window) :
    session_(disks.accessMode), names_(names), window_(window), openDisk_(openWithReader)
{
    session_.disks = std::move(disks);
}

WizardController::~WizardController()
{
    shutDown();
}

void WizardController::attachPages(DiskStepPage& disks, VolumeStepPage& volumes, BrowsingPage& browsing)
{
    disks_ = &disks;
    volumes_ = &volumes;
    browsing_ = &browsing;
}

void WizardController::shutDown()
{
    closing_ = true;
    // A worker waiting for a report to be shown goes on without it.
    reports_.close();
    if (!worker_)
        return;
    // The search and each phase of the mount clear the flag when they start:
    // it is set again until the worker has ended.
    session_.mounted.stopRequested = true;
    while (!worker_->wait(10))
        session_.mounted.stopRequested = true;
    worker_.reset();
}

void WizardController::next()
{
    if (state_.workerRunning)
        return;
    // Next while browsing brings the details view back and goes on to the
    // recovery of what is selected; it stays offered.
    if (state_.wizardStep == 2) {
        state_.listView = ListViewMode::Details;
        applyState();
        emit recoverSelectedRequested();
        return;
    }
    session_.filters.clear();
    state_.beginNext();
    applyState();
    switch (state_.wizardStep) {
    case 0:
        nextFromDiskStep();
        if (session_.disks.disk(session_.disks.selectedDisk)) {
            state_.nextStayedOnDisk();
            applyState();
        }
        break;
    case 1:
        startMount();
        break;
    default:
        break;
    }
}

void WizardController::nextFromDiskStep()
{
    const DiskInfo* disk = session_.disks.disk(session_.disks.selectedDisk);
    if (!disk)
        return;
    // A failed Next may have left disks open; this one opens them afresh.
    closeMoreDisks();
    std::string error;
    if (!openDisk_(session_.reader, *disk, error)) {
        MessageDialog::show(window_, error, MessageKind::Error);
        return;
    }

    // A search scans the selected disk alone.
    if (state_.identifyMode == IdentifyMode::SearchVolumes) {
        const RangeCheck check = checkSearchRange(state_.startSectorText, state_.endSectorText);
        if (!check.ok) {
            MessageDialog::show(window_, rangeMessage(check.problem), MessageKind::Error);
            return;
        }
        browsing_->clearList();
        startVolumeSearch(check.range);
        return;
    }

    if (!openMoreDisks())
        return;
    const std::vector<const SectorReader*> disks = session_.openDisks();
    const VolumeTableStatus status = readVolumeTables(disks, session_.volumes);
    if (status != VolumeTableStatus::VolumesFound) {
        // A disk without a partition table has no volume in a table either.
        MessageDialog::show(window_, text::kNoVolumeFound, MessageKind::Information);
        return;
    }
    volumes_->listVolumes(sessionDisks_);
    browsing_->clearList();
    state_.enterVolumeStep();
    applyState();
}

bool WizardController::openMoreDisks()
{
    sessionDisks_ = {session_.disks.selectedDisk};
    for (int index : disks_->selectedDisks()) {
        const DiskInfo* disk = session_.disks.disk(static_cast<std::size_t>(index));
        if (!disk || index == session_.disks.selectedDisk)
            continue;
        std::string error;
        if (!openDisk_(session_.addDisk(), *disk, error)) {
            MessageDialog::show(window_, error, MessageKind::Error);
            session_.closeMoreDisks();
            sessionDisks_ = {session_.disks.selectedDisk};
            return false;
        }
        sessionDisks_.push_back(index);
    }
    return true;
}

void WizardController::closeMoreDisks()
{
    session_.volumes.clear();
    session_.mounted.layout.reset();
    session_.closeMoreDisks();
}

void WizardController::back()
{
    if (state_.workerRunning)
        return;
    const BackEffect effect = state_.back();
    browsing_->clearList();
    if (effect == BackEffect::CloseDisk) {
        volumes_->clear();
        closeMoreDisks();
        session_.reader.closeDisk();
        // The disks picked before stay picked, with their details and Next;
        // a range the user typed stays too.
        const std::string start = state_.startSectorText;
        const std::string end = state_.endSectorText;
        disks_->showCurrentPick();
        state_.startSectorText = start;
        state_.endSectorText = end;
    } else if (effect == BackEffect::ReleaseMount) {
        // The models let go of the folders before they are freed.
        browsing_->dropFolders();
        session_.mounted.releaseMount();
        // The volume mounted stays picked, with its details and Next.
        if (!volumes_->pickedRows().empty())
            state_.volumeSelected(volumes_->pickedRows());
    }
    applyState();
}

void WizardController::confirmStop()
{
    if (!MessageDialog::ask(window_, text::kStopQuestion))
        return;
    // The work may have ended while the question was open; a stale request
    // must not reach the next one.
    if (state_.workerRunning)
        session_.mounted.stopRequested = true;
}

void WizardController::releaseVolume()
{
    browsing_->releaseFolders();
    session_.mounted.releaseMount();
}

void WizardController::startWorker(std::function<void()> body)
{
    if (worker_) {
        // The last worker has made its final report and is only returning.
        worker_->wait();
        worker_.reset();
    }
    worker_ = std::make_unique<WorkerThread>(std::move(body));
    worker_->start();
}

void WizardController::startVolumeSearch(SearchRange range)
{
    volumes_->recreate({session_.disks.selectedDisk});
    state_.beginVolumeSearch(range.end);
    applyState();
    const std::uint32_t runLength = session_.settings.sectorsPerAttempt();
    SearchDisplay* display = this;
    startWorker([this, range, runLength, display] {
        SearchReporter reporter(&reports_, *display);
        const SearchOutcome outcome = searchVolumes(session_.reader, session_.volumes, range, runLength,
                                                    session_.mounted.stopRequested, reporter);
        reporter.finish(outcome);
    });
}

void WizardController::showSearchProgress(std::uint64_t cursor, std::uint64_t scanned, std::uint64_t total, int percent)
{
    if (closing_)
        return;
    state_.showSearchProgress(cursor, words::scanningStatus(scanned, total), percent);
    applyState();
}

void WizardController::addFoundVolume(const VolumeInfo& volume, std::uint32_t count)
{
    if (closing_)
        return;
    volumes_->addFoundVolume(names_.toDisplay(volume.name), static_cast<int>(count - 1));
    state_.showVolumesFound(count);
    applyState();
}

void WizardController::searchFinished(const SearchOutcome&)
{
    if (closing_)
        return;
    session_.mounted.stopRequested = false;
    state_.endVolumeSearch();
    applyState();
}

void WizardController::startMount()
{
    // The new folder tree has only its root until the mount is done; the
    // list lets go of the nodes the mount is about to free.
    browsing_->clearList();
    browsing_->clearDamage();
    browsing_->newFolderTree(names_.toDisplay(session_.mounted.volumeName));
    state_.beginMount();
    applyState();
    MountDisplay* display = this;
    startWorker([this, display] {
        MountReporter reporter(&reports_, *display);
        const MountResult result = mountVolume(session_.mounted, session_.reader, reporter);
        reporter.finish(result);
    });
}

void WizardController::showMountStatus(const std::string& text)
{
    if (closing_)
        return;
    state_.mountStatus(text);
    applyState();
}

void WizardController::showMountProgress(int percent)
{
    if (closing_)
        return;
    state_.mountProgress(percent);
    applyState();
}

void WizardController::showMountInstruction(const std::string& text)
{
    if (closing_)
        return;
    state_.mountInstruction(text);
    applyState();
}

void WizardController::enterMountStage(MountStage stage)
{
    if (closing_)
        return;
    state_.mountStage(stage);
    applyState();
}

void WizardController::showMountCounters(std::uint32_t folders, std::uint32_t files, const std::string& lastName)
{
    if (closing_)
        return;
    state_.mountCounters(folders, files, names_.toDisplay(lastName).toStdString());
    applyState();
}

CopyChoice WizardController::askCopy(TableKind kind)
{
    if (closing_)
        return CopyChoice::Cancel;
    return ui::CopyChooserDialog::ask(window_, kind);
}

void WizardController::mountFinished(MountResult result)
{
    if (closing_)
        return;
    // A Stop confirmed after the last poll must not reach the next work.
    session_.mounted.stopRequested = false;
    if (result != MountResult::Completed) {
        if (result == MountResult::Invalid)
            MessageDialog::show(window_, invalidVolumeMessage(session_.mounted.sectorsPerBlock), MessageKind::Error);
        browsing_->dropFolders();
        const auto position = session_.mounted.volumeIndex;
        if (!volumes_->pickedRows().empty())
            state_.abandonMount(volumes_->pickedRows());
        else
            state_.abandonMount(position < session_.volumes.volumeCount() ? session_.volumes[position] : VolumeInfo{});
        applyState();
        return;
    }
    browsing_->attachFolders();
    state_.completeMount();
    // The root is the tree's current folder, so the first key pressed in the
    // tree moves from it.
    browsing_->showRoot(true);
    applyState();
    // The browsing step hides the status panel: say it once, in a message.
    if (const TableReadDamage& damage = session_.mounted.tableDamage; damage.any()) {
        std::string message = std::string(text::kTableDamageHead) + "\r\n\r\n";
        for (const auto& [label, value] : tableDamageRows(damage))
            message += label + ' ' + value + "\r\n";
        MessageDialog::show(window_, message + "\r\n" + text::kTableDamageTail, MessageKind::Information);
    }
}

} // namespace tamsin::app
