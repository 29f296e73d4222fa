#pragma once
// "&Recover Selected..." and "Recover &All...", and the recovery of the
// files Find File(s) lists: the destination folder, and the run on a worker
// thread behind the progress dialog, ending with the run's report.

#include <QString>

class QWidget;

namespace tamsin {
struct RecoverySelection;
struct Session;
} // namespace tamsin

namespace tamsin::app {

class BrowsingPage;
class NameCodec;
class WizardController;
class WizardState;

class RecoveryCommands {
public:
    RecoveryCommands(WizardController& controller, BrowsingPage& browsing, const NameCodec& names, QWidget* window);

    // all: the whole volume; else what is selected in the tree and the list.
    void recover(bool all);
    // Asks for the destination folder and recovers selection into it.
    void recoverWithChooser(const RecoverySelection& selection);

private:
    void runRecoveryInto(const QString& destination, const RecoverySelection& selection);

    Session& session_;
    const WizardState& state_;
    BrowsingPage& browsing_;
    const NameCodec* names_;
    QWidget* window_;
    QString lastDestination_;  // the folder the last recovery wrote into
};

} // namespace tamsin::app
