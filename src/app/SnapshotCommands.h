#pragma once
// "Save &Snapshot..." and "&Load Snapshot...": the mounted volume's scan
// written to a file, and read back in the volume step instead of a mount.

class QWidget;

namespace tamsin {
struct Session;
}

namespace tamsin::app {

class BrowsingPage;
class NameCodec;
class WizardController;
class WizardState;

class SnapshotCommands {
public:
    SnapshotCommands(WizardController& controller, BrowsingPage& browsing, const NameCodec& names, QWidget* window);

    void save();
    void load();

private:
    WizardController& controller_;
    Session& session_;
    WizardState& state_;
    BrowsingPage& browsing_;
    const NameCodec* names_;
    QWidget* window_;
};

} // namespace tamsin::app
