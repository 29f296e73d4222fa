// The volume step: the volumes listed from the tables or found by a search,
// and the pick of the volume to mount.

#include "VolumeStepPage.h"

#include "NameCodec.h"
#include "VolumeList.h"
#include "VolumeTree.h"
#include "WizardController.h"

#include <QTreeWidgetItem>

namespace tamsin::app {

VolumeStepPage::VolumeStepPage(WizardController& controller, const NameCodec& names, QWidget* window) :
    controller_(controller), session_(controller.session()), state_(controller.state()), names_(&names)
{
    volumeTree_ = new VolumeTree(window);
    connect(volumeTree_, &VolumeTree::volumeClicked, this, [this](int position) { pickVolume(position, false); });
    connect(volumeTree_, &VolumeTree::segmentClicked, this, [this](int position) { pickVolume(position, true); });
}

void VolumeStepPage::pickVolume(int position, bool segment)
{
    if (state_.wizardStep != 1 || state_.workerRunning || position < 0
        || static_cast<std::uint32_t>(position) >= session_.volumes.volumeCount())
        return;
    const VolumeInfo& volume = session_.volumes[static_cast<std::size_t>(position)];
    // Any record of a volume of several segments mounts the whole volume.
    session_.mounted.selectVolume(volume, static_cast<std::uint16_t>(position));
    volumeTree_->setCurrentItem(segment ? volumeTree_->segmentItem(position) : volumeTree_->volumeItem(position));
    emit volumePicked();
    const bool wholeVolume = !segment && volume.layout && volume.segmentCount > 1;
    pickedRows_ = wholeVolume ? spannedVolumeRows(session_.volumes, static_cast<std::uint32_t>(position))
                              : segmentRows(volume);
    state_.volumeSelected(pickedRows_);
    controller_.applyState();
}

void VolumeStepPage::listVolumes(const std::vector<int>& sessionDisks)
{
    recreate(sessionDisks);
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

void VolumeStepPage::recreate(const std::vector<int>& disks)
{
    pickedRows_.clear();
    volumeTree_->recreate(disks);
}

void VolumeStepPage::addFoundVolume(const QString& name, int position)
{
    volumeTree_->addVolume(name, position);
}

void VolumeStepPage::clear()
{
    volumeTree_->clear();
    pickedRows_.clear();
}

} // namespace tamsin::app
