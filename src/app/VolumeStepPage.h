#pragma once
// The volume step's controls: the tree of the open disks' volumes and their
// segments, and picking the volume (or one segment of it) to mount.

#include "StatusPanelState.h"

#include <QObject>
#include <QString>

#include <vector>

class QWidget;

namespace tamsin {
struct Session;
}

namespace tamsin::app {

class NameCodec;
class VolumeTree;
class WizardController;
class WizardState;

class VolumeStepPage : public QObject {
    Q_OBJECT
public:
    VolumeStepPage(WizardController& controller, const NameCodec& names, QWidget* window);

    VolumeTree* tree() const { return volumeTree_; }

    // The volume table read from the open disks (sessionDisks: their numbers
    // in the disk list), each volume of several segments with its segments.
    void listVolumes(const std::vector<int>& sessionDisks);
    // An empty tree with a root for each of disks, for a search to fill.
    void recreate(const std::vector<int>& disks);
    void addFoundVolume(const QString& name, int position);
    void clear();
    // The status-panel rows of the volume picked last; empty when none is.
    const LabelledRows& pickedRows() const { return pickedRows_; }

signals:
    // A volume or segment was picked: what the list showed is let go.
    void volumePicked();

private:
    // segment: the segment item was clicked, not its volume's.
    void pickVolume(int position, bool segment);

    WizardController& controller_;
    Session& session_;
    WizardState& state_;
    const NameCodec* names_;
    VolumeTree* volumeTree_ = nullptr;
    LabelledRows pickedRows_;
};

} // namespace tamsin::app
