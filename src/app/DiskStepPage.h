#pragma once
// The disk step's controls: the disk list, the identify-mode and
// sector-range boxes, and the disk images added from a file dialog or
// dropped on the window.

#include <QObject>
#include <QStringList>

#include <string>
#include <vector>

class QGroupBox;
class QLineEdit;
class QRadioButton;
class QToolButton;
class QWidget;

namespace tamsin {
struct Session;
}

namespace tamsin::app {

class DiskTree;
class WizardController;
class WizardState;

class DiskStepPage : public QObject {
    Q_OBJECT
public:
    // window: the parent of the controls and of the messages.
    DiskStepPage(WizardController& controller, QWidget* window);

    DiskTree* tree() const { return diskTree_; }
    QGroupBox* identifyBox() const { return identifyBox_; }
    QGroupBox* rangeBox() const { return rangeBox_; }

    // Lists the session's disks.
    void populate();
    // The boxes follow the state.
    void applyOptions(const WizardState& state);

    // The picked disks in reading order.
    const std::vector<int>& selectedDisks() const;
    // Shows the picked disks with the current one's details.
    void showCurrentPick();

    void openDiskImage();
    // Lists image files as more disks; rescue maps among them (told by
    // content) go with their images, or alone with the picked image disk.
    void addDiskFiles(const QStringList& files);

private:
    void buildIdentifyBox();
    void buildRangeBox();
    void onDiskClicked(int index);
    // Shows the picked disks; shown is the disk whose geometry the panel shows.
    void showPickedDisks(int shown);
    // The status line naming the picked disks in reading order; empty for one.
    std::string selectionLine() const;
    void onIdentifyModeChosen();
    void applyState();

    WizardController& controller_;
    Session& session_;
    WizardState& state_;
    QWidget* window_;

    DiskTree* diskTree_ = nullptr;
    QGroupBox* identifyBox_ = nullptr;
    QRadioButton* useTable_ = nullptr;
    QRadioButton* searchVolumes_ = nullptr;
    QToolButton* identifyHelp_ = nullptr;
    QGroupBox* rangeBox_ = nullptr;
    QLineEdit* startSector_ = nullptr;
    QLineEdit* endSector_ = nullptr;
    QToolButton* rangeHelp_ = nullptr;
};

} // namespace tamsin::app
