// The disk step: the disk list and its selection, the identify mode and the
// search range, and the disk images added to the list.

#include "DiskStepPage.h"
#include "DiskWords.h"

#include "DiskTree.h"
#include "VolumeList.h"
#include "WizardController.h"
#include "WizardTexts.h"

#include "disk/DiskEnumerator.h"
#include "disk/RescueMap.h"
#include "ui/MessageDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QTreeWidgetItem>

#include <algorithm>
#include <filesystem>

namespace tamsin::app {

using ui::MessageDialog;
using ui::MessageKind;

namespace {

QToolButton* helpButton(QWidget* parent, const char* tooltip, const QString& name)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(QStringLiteral("?"));
    button->setAutoRaise(true);
    button->setToolTip(QString::fromUtf8(tooltip));
    return button;
}

} // namespace

DiskStepPage::DiskStepPage(WizardController& controller, QWidget* window) :
    controller_(controller), session_(controller.session()), state_(controller.state()), window_(window)
{
    diskTree_ = new DiskTree(window);
    connect(diskTree_, &DiskTree::diskClicked, this, &DiskStepPage::onDiskClicked);
    connect(diskTree_, &DiskTree::pickedChanged, this, &DiskStepPage::showCurrentPick);
    buildIdentifyBox();
    buildRangeBox();
}

void DiskStepPage::buildIdentifyBox()
{
    identifyBox_ = new QGroupBox(QString::fromUtf8(text::kIdentifyOptions), window_);
    identifyBox_->setObjectName(QStringLiteral("identifyOptions"));
    useTable_ = new QRadioButton(QString::fromUtf8(text::kUseVolumeTable), identifyBox_);
    useTable_->setObjectName(QStringLiteral("useVolumeTable"));
    searchVolumes_ = new QRadioButton(QString::fromUtf8(text::kSearchVolumes), identifyBox_);
    searchVolumes_->setObjectName(QStringLiteral("searchVolumes"));
    identifyHelp_ = helpButton(identifyBox_, text::kIdentifyOptionsHelp, QStringLiteral("identifyHelp"));
    auto* identifyLayout = new QGridLayout(identifyBox_);
    identifyLayout->addWidget(useTable_, 0, 0);
    identifyLayout->addWidget(searchVolumes_, 1, 0);
    identifyLayout->addWidget(identifyHelp_, 0, 1, 2, 1, Qt::AlignTop);
    connect(useTable_, &QRadioButton::clicked, this, &DiskStepPage::onIdentifyModeChosen);
    connect(searchVolumes_, &QRadioButton::clicked, this, &DiskStepPage::onIdentifyModeChosen);
}

void DiskStepPage::buildRangeBox()
{
    rangeBox_ = new QGroupBox(QString::fromUtf8(text::kSelectRange), window_);
    rangeBox_->setObjectName(QStringLiteral("selectRange"));
    startSector_ = new QLineEdit(rangeBox_);
    startSector_->setObjectName(QStringLiteral("startSector"));
    endSector_ = new QLineEdit(rangeBox_);
    endSector_->setObjectName(QStringLiteral("endSector"));
    for (QLineEdit* edit : {startSector_, endSector_}) {
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        edit->setMaxLength(20);
    }
    connect(startSector_, &QLineEdit::textEdited, this,
            [this](const QString& text) { state_.startSectorText = text.toStdString(); });
    connect(endSector_, &QLineEdit::textEdited, this,
            [this](const QString& text) { state_.endSectorText = text.toStdString(); });
    rangeHelp_ = helpButton(rangeBox_, text::kSelectRangeHelp, QStringLiteral("rangeHelp"));
    auto* rangeLayout = new QGridLayout(rangeBox_);
    rangeLayout->addWidget(new QLabel(QString::fromUtf8(text::kStartSector), rangeBox_), 0, 0);
    rangeLayout->addWidget(startSector_, 0, 1);
    rangeLayout->addWidget(new QLabel(QString::fromUtf8(text::kEndSector), rangeBox_), 1, 0);
    rangeLayout->addWidget(endSector_, 1, 1);
    rangeLayout->addWidget(rangeHelp_, 0, 2, 2, 1, Qt::AlignTop);
}

void DiskStepPage::populate()
{
    diskTree_->populate(session_.disks);
}

void DiskStepPage::applyOptions(const WizardState& state)
{
    const WizardControls& c = state.controls;
    identifyBox_->setVisible(c.identifyOptionsVisible);
    rangeBox_->setVisible(c.selectRangeVisible);
    useTable_->setChecked(state.identifyMode == IdentifyMode::VolumeTable);
    searchVolumes_->setChecked(state.identifyMode == IdentifyMode::SearchVolumes);
    if (startSector_->text().toStdString() != state.startSectorText)
        startSector_->setText(QString::fromStdString(state.startSectorText));
    if (endSector_->text().toStdString() != state.endSectorText)
        endSector_->setText(QString::fromStdString(state.endSectorText));
}

void DiskStepPage::applyState()
{
    controller_.applyState();
}

const std::vector<int>& DiskStepPage::selectedDisks() const
{
    return diskTree_->selectedDisks();
}

void DiskStepPage::showCurrentPick()
{
    const QTreeWidgetItem* current = diskTree_->currentItem();
    showPickedDisks(current && current != diskTree_->root() ? current->data(0, Qt::UserRole).toInt() : -1);
}

void DiskStepPage::onDiskClicked(int index)
{
    if (!session_.disks.disk(static_cast<std::size_t>(index)))
        return;
    showPickedDisks(index);
}

void DiskStepPage::showPickedDisks(int shown)
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

std::string DiskStepPage::selectionLine() const
{
    const std::vector<int>& picked = diskTree_->selectedDisks();
    if (picked.size() < 2)
        return {};
    std::string line = std::to_string(picked.size()) + " disks selected: ";
    for (std::size_t i = 0; i < picked.size(); ++i)
        line += (i ? ", " : "") + words::diskItemText(static_cast<std::size_t>(picked[i]));
    if (state_.identifyMode == IdentifyMode::SearchVolumes)
        line += " (Search Volumes scans " + words::diskItemText(static_cast<std::size_t>(picked.front())) + ")";
    return line;
}

void DiskStepPage::openDiskImage()
{
    if (!state_.commandEnabled(CommandId::OpenDiskImage))
        return;
    QFileDialog dialog(window_);
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

void DiskStepPage::addDiskFiles(const QStringList& files)
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
            MessageDialog::show(window_, error, MessageKind::Error);
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
            MessageDialog::show(window_, "The rescue map " + map + " names no disk image: open it together with its image, "
                                "or pick the image first.", MessageKind::Error);
            continue;
        }
        DiskInfo& disk = disks.entries[static_cast<std::size_t>(target)];
        std::string why;
        if (!RescueMap::load(map, disk.sizeBytes, why)) {
            MessageDialog::show(window_, "The rescue map " + map + " cannot be used: " + why, MessageKind::Error);
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

void DiskStepPage::onIdentifyModeChosen()
{
    const IdentifyMode mode = searchVolumes_->isChecked() ? IdentifyMode::SearchVolumes : IdentifyMode::VolumeTable;
    state_.chooseIdentifyMode(mode, session_.disks.disk(session_.disks.selectedDisk));
    state_.showDiskSelection(selectionLine());
    applyState();
}

} // namespace tamsin::app
