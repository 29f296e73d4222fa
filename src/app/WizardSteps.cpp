// The disk and volume steps: selection in the trees, Next, Back, Stop and Exit.

#include "WizardDialog.h"

#include "ContentsModel.h"
#include "Desktop.h"
#include "DiskTree.h"
#include "FolderTreeModel.h"
#include "NameCodec.h"
#include "VolumeTree.h"
#include "WizardTexts.h"

#include "disk/DiskEnumerator.h"
#include "ui/MessageDialog.h"
#include "volumes/VolumeTableReader.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QRadioButton>
#include <QTreeWidgetItem>
#include <QUrl>

namespace tamsin::app {

using ui::MessageDialog;
using ui::MessageKind;

void WizardDialog::onDiskClicked(int index)
{
    const DiskInfo* disk = session_.disks.disk(static_cast<std::size_t>(index));
    if (!disk || state_.wizardStep != 0 || state_.workerRunning)
        return;
    session_.disks.selectedDisk = static_cast<std::uint16_t>(index);
    state_.diskSelected(*disk);
    applyState();
}

void WizardDialog::openDiskImage()
{
    if (!state_.commandEnabled(CommandId::OpenDiskImage))
        return;
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("openDiskImageDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("Disk images (*.img *.dd *.raw *.bin *.ima)"), QStringLiteral("All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    DiskInfo disk;
    std::string error;
    if (!probeDiskPath(dialog.selectedFiles().constFirst().toStdString(), disk, error)) {
        MessageDialog::show(this, error, MessageKind::Error);
        return;
    }
    // Counted disks come first in the table; the new one joins them.
    DiskTable& disks = session_.disks;
    const int index = disks.diskCount;
    disks.entries.insert(disks.entries.begin() + index, std::move(disk));
    ++disks.diskCount;
    diskTree_->populate(disks);
    diskTree_->setCurrentItem(diskTree_->diskItem(index));
    onDiskClicked(index);
}

void WizardDialog::onIdentifyModeChosen()
{
    const IdentifyMode mode = searchVolumes_->isChecked() ? IdentifyMode::SearchVolumes : IdentifyMode::VolumeTable;
    state_.chooseIdentifyMode(mode, session_.disks.disk(session_.disks.selectedDisk));
    applyState();
}

void WizardDialog::onVolumeClicked(int position)
{
    if (state_.wizardStep != 1 || state_.workerRunning || position < 0
        || static_cast<std::uint32_t>(position) >= session_.volumes.volumeCount())
        return;
    const VolumeInfo& volume = session_.volumes[static_cast<std::size_t>(position)];
    session_.mounted.selectVolume(volume, static_cast<std::uint16_t>(position));
    volumeTree_->setCurrentItem(volumeTree_->volumeItem(position));
    contents_->clear();
    state_.volumeSelected(volume);
    applyState();
}

void WizardDialog::onNext()
{
    if (state_.workerRunning)
        return;
    session_.filters.clear();
    state_.beginNext();
    applyState();
    switch (state_.wizardStep) {
    case 0:
        nextFromDiskStep();
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
    std::string error;
    if (!openDisk_(session_.reader, *disk, error)) {
        MessageDialog::show(this, error, MessageKind::Error);
        return;
    }

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

    const VolumeTableStatus status = readVolumeTables(session_.reader, session_.volumes);
    if (status != VolumeTableStatus::VolumesFound) {
        if (status == VolumeTableStatus::NoVolumeFound)
            MessageDialog::show(this, text::kNoVolumeFound, MessageKind::Information);
        return;
    }
    volumeTree_->recreate(session_.disks.selectedDisk);
    for (std::uint32_t i = 0; i < session_.volumes.volumeCount(); ++i)
        volumeTree_->addVolume(names_->toDisplay(session_.volumes[i].name), static_cast<int>(i));
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
        session_.reader.closeDisk();
    } else if (effect == BackEffect::ReleaseMount) {
        // The models let go of the folders before they are freed.
        folderModel_->clear();
        session_.mounted.releaseMount();
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
    desktop_->exitNow();
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
    desktop_->openUrl(QUrl(QString::fromUtf8(text::kHomePage)));
}

} // namespace tamsin::app
