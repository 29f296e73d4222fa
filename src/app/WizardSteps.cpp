// The disk and volume steps: selection in the trees, Next, Back, Stop and Exit.

#include "WizardDialog.h"

#include "ContentsModel.h"
#include "Desktop.h"
#include "DiskTree.h"
#include "FolderTreeModel.h"
#include "NameCodec.h"
#include "VolumeList.h"
#include "VolumeTree.h"
#include "WizardTexts.h"

#include "disk/DiskEnumerator.h"
#include "disk/RescueMap.h"
#include "ui/MessageDialog.h"
#include "volumes/VolumeTableReader.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QFile>
#include <QFileDialog>
#include <QRadioButton>
#include <QTreeWidgetItem>
#include <QUrl>

#include <algorithm>
#include <filesystem>

namespace tamsin::app {

using ui::MessageDialog;
using ui::MessageKind;

void WizardDialog::onDiskClicked(int index)
{
    if (!session_.disks.disk(static_cast<std::size_t>(index)))
        return;
    showPickedDisks(index);
}

void WizardDialog::showPickedDisks(int shown)
{
    if (state_.wizardStep != 0 || state_.workerRunning)
        return;
    const std::vector<int>& picked = diskTree_->selectedDisks();
    const DiskInfo* first = picked.empty() ? nullptr : session_.disks.disk(static_cast<std::size_t>(picked.front()));
    if (!first) {
        state_.noDiskSelected();
        applyState();
        return;
    }
    const bool shownPicked = std::find(picked.begin(), picked.end(), shown) != picked.end();
    const DiskInfo* clicked = shownPicked ? session_.disks.disk(static_cast<std::size_t>(shown)) : first;
    session_.disks.selectedDisk = static_cast<std::uint16_t>(picked.front());
    state_.disksSelected(*first, *clicked, selectionLine());
    applyState();
}

std::string WizardDialog::selectionLine() const
{
    const std::vector<int>& picked = diskTree_->selectedDisks();
    if (picked.size() < 2)
        return {};
    std::string line = std::to_string(picked.size()) + " disks selected: ";
    for (std::size_t i = 0; i < picked.size(); ++i)
        line += (i ? ", " : "") + diskItemText(static_cast<std::size_t>(picked[i]));
    if (state_.identifyMode == IdentifyMode::SearchVolumes)
        line += " (Search Volumes scans " + diskItemText(static_cast<std::size_t>(picked.front())) + ")";
    return line;
}

void WizardDialog::openDiskImage()
{
    if (!state_.commandEnabled(CommandId::OpenDiskImage))
        return;
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("openDiskImageDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    // The filters only narrow the listing: a chosen file is opened by its content.
    // The first filter shows rescue maps too, so an image and its map can be
    // picked together.
    dialog.setNameFilters({QStringLiteral("Disk images and rescue maps (*.img *.dd *.raw *.bin *.ima *.vmdk *.vhd *.vhdx "
                                          "*.qcow2 *.qcow *.E01 *.e01 *.map *.mapfile)"),
                           QStringLiteral("Raw disk images (*.img *.dd *.raw *.bin *.ima)"),
                           QStringLiteral("VMware disk images (*.vmdk)"),
                           QStringLiteral("Virtual PC disk images (*.vhd)"),
                           QStringLiteral("Hyper-V disk images (*.vhdx)"),
                           QStringLiteral("QEMU disk images (*.qcow2 *.qcow)"),
                           QStringLiteral("EWF evidence files (*.E01 *.e01)"),
                           QStringLiteral("Rescue maps (*.map *.mapfile *.log)"),
                           QStringLiteral("All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    addDiskFiles(dialog.selectedFiles());
}

void WizardDialog::addDiskFiles(const QStringList& files)
{
    if (!state_.commandEnabled(CommandId::OpenDiskImage))
        return;
    // Rescue maps handed over with the images are told apart by content.
    std::vector<std::string> images;
    std::vector<std::string> maps;
    for (const QString& file : files) {
        const std::string path = QFile::encodeName(file).toStdString();
        (looksLikeRescueMap(path) ? maps : images).push_back(path);
    }

    // Counted disks come first in the table; the new ones join them.
    DiskTable& disks = session_.disks;
    std::vector<int> added;
    for (const std::string& path : images) {
        DiskInfo disk;
        std::string error;
        if (!probeDiskPath(path, disk, error)) {
            MessageDialog::show(this, error, MessageKind::Error);
            continue;
        }
        const int index = disks.diskCount;
        disks.entries.insert(disks.entries.begin() + index, std::move(disk));
        ++disks.diskCount;
        added.push_back(index);
    }

    // A map goes with the image whose file name it begins with, else with
    // the one image given with it, else with the image disk picked now.
    bool mapsTaken = false;
    for (const std::string& map : maps) {
        const std::string mapName = std::filesystem::path(map).filename().string();
        int target = -1;
        for (int index : added) {
            const std::filesystem::path image(disks.entries[static_cast<std::size_t>(index)].path);
            if (mapName.starts_with(image.filename().string() + ".") || mapName.starts_with(image.stem().string() + "."))
                target = index;
        }
        if (target < 0 && added.size() == 1)
            target = added.front();
        if (target < 0 && images.empty() && disks.disk(disks.selectedDisk) && disks.disk(disks.selectedDisk)->isImage)
            target = disks.selectedDisk;
        if (target < 0) {
            MessageDialog::show(this, "The rescue map " + map + " names no disk image: open it together with its image, "
                                "or pick the image first.", MessageKind::Error);
            continue;
        }
        DiskInfo& disk = disks.entries[static_cast<std::size_t>(target)];
        std::string why;
        if (!RescueMap::load(map, disk.sizeBytes, why)) {
            MessageDialog::show(this, "The rescue map " + map + " cannot be used: " + why, MessageKind::Error);
            continue;
        }
        disk.rescueMap = map;
        mapsTaken = true;
        if (std::find(added.begin(), added.end(), target) == added.end())
            added.push_back(target);
    }
    if (added.empty() || (images.empty() && !mapsTaken))
        return;
    // The images opened together are picked together, the first first.
    diskTree_->populate(disks);
    diskTree_->selectDisks(added);
    showPickedDisks(added.front());
}

void WizardDialog::onIdentifyModeChosen()
{
    const IdentifyMode mode = searchVolumes_->isChecked() ? IdentifyMode::SearchVolumes : IdentifyMode::VolumeTable;
    state_.chooseIdentifyMode(mode, session_.disks.disk(session_.disks.selectedDisk));
    state_.showDiskSelection(selectionLine());
    applyState();
}

void WizardDialog::onVolumeClicked(int position)
{
    pickVolume(position, false);
}

void WizardDialog::onSegmentClicked(int position)
{
    pickVolume(position, true);
}

void WizardDialog::pickVolume(int position, bool segment)
{
    if (state_.wizardStep != 1 || state_.workerRunning || position < 0
        || static_cast<std::uint32_t>(position) >= session_.volumes.volumeCount())
        return;
    const VolumeInfo& volume = session_.volumes[static_cast<std::size_t>(position)];
    // Any record of a volume of several segments mounts the whole volume.
    session_.mounted.selectVolume(volume, static_cast<std::uint16_t>(position));
    volumeTree_->setCurrentItem(segment ? volumeTree_->segmentItem(position) : volumeTree_->volumeItem(position));
    contents_->clear();
    const bool wholeVolume = !segment && volume.layout && volume.segmentCount > 1;
    pickedRows_ = wholeVolume ? spannedVolumeRows(session_.volumes, static_cast<std::uint32_t>(position))
                              : segmentRows(volume);
    state_.volumeSelected(pickedRows_);
    applyState();
}

void WizardDialog::listVolumes()
{
    pickedRows_.clear();
    volumeTree_->recreate(sessionDisks_);
    for (const VolumeEntry& entry : volumeEntries(session_.volumes)) {
        const VolumeInfo& record = session_.volumes[entry.position];
        const QString name = names_->toDisplay(record.name);
        if (!entry.spanned) {
            volumeTree_->addVolume(name, static_cast<int>(entry.position), record.diskIndex);
            continue;
        }
        QTreeWidgetItem* item = volumeTree_->addVolume(name + QString::fromStdString(volumeItemSuffix(record)),
                                                       static_cast<int>(entry.position), record.diskIndex);
        for (const SegmentEntry& segment : entry.segments)
            volumeTree_->addSegment(item, QString::fromStdString(segmentItemText(session_.volumes, record, segment)),
                                    segment.found ? static_cast<int>(segment.position) : -1);
    }
}

bool WizardDialog::openMoreDisks()
{
    sessionDisks_ = {session_.disks.selectedDisk};
    for (int index : diskTree_->selectedDisks()) {
        const DiskInfo* disk = session_.disks.disk(static_cast<std::size_t>(index));
        if (!disk || index == session_.disks.selectedDisk)
            continue;
        std::string error;
        if (!openDisk_(session_.addDisk(), *disk, error)) {
            MessageDialog::show(this, error, MessageKind::Error);
            session_.closeMoreDisks();
            sessionDisks_ = {session_.disks.selectedDisk};
            return false;
        }
        sessionDisks_.push_back(index);
    }
    return true;
}

void WizardDialog::closeMoreDisks()
{
    session_.volumes.clear();
    session_.mounted.layout.reset();
    session_.closeMoreDisks();
}

void WizardDialog::onNext()
{
    if (state_.workerRunning)
        return;
    // Next while browsing brings the details view back and goes on to the
    // recovery of what is selected; it stays offered.
    if (state_.wizardStep == 2) {
        state_.listView = ListViewMode::Details;
        applyState();
        if (QAction* recover = action(CommandId::RecoverSelected); recover && recover->isEnabled())
            recover->trigger();
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

void WizardDialog::nextFromDiskStep()
{
    const DiskInfo* disk = session_.disks.disk(session_.disks.selectedDisk);
    if (!disk)
        return;
    // A failed Next may have left disks open; this one opens them afresh.
    closeMoreDisks();
    std::string error;
    if (!openDisk_(session_.reader, *disk, error)) {
        MessageDialog::show(this, error, MessageKind::Error);
        return;
    }

    // A search scans the selected disk alone.
    if (state_.identifyMode == IdentifyMode::SearchVolumes) {
        const RangeCheck check = checkSearchRange(state_.startSectorText, state_.endSectorText);
        if (!check.ok) {
            MessageDialog::show(this, check.message, MessageKind::Error);
            return;
        }
        contents_->clear();
        startVolumeSearch(check.range);
        return;
    }

    if (!openMoreDisks())
        return;
    const std::vector<const SectorReader*> disks = session_.openDisks();
    const VolumeTableStatus status = readVolumeTables(disks, session_.volumes);
    if (status != VolumeTableStatus::VolumesFound) {
        // A disk without a partition table has no volume in a table either.
        MessageDialog::show(this, text::kNoVolumeFound, MessageKind::Information);
        return;
    }
    listVolumes();
    contents_->clear();
    state_.enterVolumeStep();
    applyState();
}

void WizardDialog::onBack()
{
    if (state_.workerRunning)
        return;
    const BackEffect effect = state_.back();
    contents_->clear();
    if (effect == BackEffect::CloseDisk) {
        volumeTree_->clear();
        pickedRows_.clear();
        closeMoreDisks();
        session_.reader.closeDisk();
        // The disks picked before stay picked, with their details and Next;
        // a range the user typed stays too.
        const std::string start = state_.startSectorText;
        const std::string end = state_.endSectorText;
        const QTreeWidgetItem* current = diskTree_->currentItem();
        showPickedDisks(current && current != diskTree_->root() ? current->data(0, Qt::UserRole).toInt() : -1);
        state_.startSectorText = start;
        state_.endSectorText = end;
    } else if (effect == BackEffect::ReleaseMount) {
        // The models let go of the folders before they are freed.
        folderModel_->clear();
        session_.mounted.releaseMount();
        // The volume mounted stays picked, with its details and Next.
        if (!pickedRows_.empty())
            state_.volumeSelected(pickedRows_);
    }
    applyState();
}

void WizardDialog::confirmStop()
{
    if (!MessageDialog::ask(this, text::kStopQuestion))
        return;
    // The work may have ended while the question was open; a stale request
    // must not reach the next one.
    if (state_.workerRunning)
        session_.mounted.stopRequested = true;
}

bool WizardDialog::confirmExit()
{
    return MessageDialog::ask(this, text::kExitQuestion);
}

void WizardDialog::exitProgram()
{
    if (!state_.workerRunning) {
        folderModel_->clear();
        contents_->clear();
        session_.mounted.releaseMount();
    }
    openHomePage();
    openedFiles_.remove();  // exitNow skips the destructors
    desktop_->exitNow();
}

void WizardDialog::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    const bool files = !urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
    if (files && state_.commandEnabled(CommandId::OpenDiskImage))
        event->acceptProposedAction();
}

void WizardDialog::dropEvent(QDropEvent* event)
{
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            files.push_back(url.toLocalFile());
    if (files.isEmpty() || !state_.commandEnabled(CommandId::OpenDiskImage))
        return;
    event->acceptProposedAction();
    addDiskFiles(files);
}

void WizardDialog::closeEvent(QCloseEvent* event)
{
    if (closing_) {
        event->accept();
        return;
    }
    if (!confirmExit()) {
        event->ignore();
        return;
    }
    if (state_.workerRunning) {
        openHomePage();
        openedFiles_.remove();
        desktop_->exitNow();
        event->ignore();
        return;
    }
    folderModel_->clear();
    contents_->clear();
    session_.mounted.releaseMount();
    openHomePage();
    closing_ = true;
    event->accept();
}

void WizardDialog::openHomePage()
{
    if (!homePage_.isEmpty())
        desktop_->openUrl(QUrl(homePage_));
}

} // namespace tamsin::app
