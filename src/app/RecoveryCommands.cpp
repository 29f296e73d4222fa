// "&Recover Selected..." and "Recover &All...": the destination folder, the
// entries to copy, and the run on a worker thread behind the progress
// dialog, ending with the run's report.

#include "RecoveryCommands.h"

#include "BrowsingPage.h"
#include "ContentsModel.h"
#include "NameCodec.h"
#include "RecoveryReporter.h"
#include "ReportTexts.h"
#include "WizardController.h"
#include "WizardTexts.h"
#include "WorkerThread.h"

#include "recovery/RecoveryRun.h"
#include "ui/MessageDialog.h"
#include "ui/RecoveryProgressDialog.h"
#include "ui/RecoveryReportDialog.h"

#include <QFile>
#include <QFileDialog>

namespace tamsin::app {

RecoveryCommands::RecoveryCommands(WizardController& controller, BrowsingPage& browsing, const NameCodec& names,
                                   QWidget* window) :
    session_(controller.session()), state_(controller.state()), browsing_(browsing), names_(&names), window_(window)
{
}

void RecoveryCommands::recover(bool all)
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    RecoverySelection selection;
    selection.wholeVolume = all;
    if (!all && !browsing_.collectSelection(selection)) {
        ui::MessageDialog::show(window_, text::kNothingSelected, ui::MessageKind::Information);
        return;
    }
    recoverWithChooser(selection);
}

void RecoveryCommands::recoverWithChooser(const RecoverySelection& selection)
{
    const QString destination =
        QFileDialog::getExistingDirectory(window_, QString::fromUtf8(text::kDestinationCaption), lastDestination_);
    if (destination.isEmpty())
        return;
    lastDestination_ = destination;
    runRecoveryInto(destination, selection);
}

void RecoveryCommands::runRecoveryInto(const QString& destination, const RecoverySelection& selection)
{
    ui::RecoveryProgressDialog progress(window_, session_.recovery);
    // "Total Files" counts the files of this run.
    session_.recovery.filesStarted = 0;
    RecoveryReport report;
    {
        RecoveryReporter reporter(progress, session_.mounted.files);
        const std::string target = QFile::encodeName(destination).toStdString();
        const NameCodec& names = *names_;
        WorkerThread worker([&] {
            report = runRecovery(session_.mounted, session_.reader, session_.settings.rules(), session_.recovery, reporter,
                                 selection, target,
                                 [&names](const std::string& raw) { return names.toDisplay(raw).toStdString(); });
            reporter.finish();
        });
        worker.start();
        // The worker's reports, its end included, are carried out inside this
        // loop; the dialog closes on the end.
        progress.exec();
        worker.wait();
        // Files the run found on unreadable sectors are marked in the list.
        std::vector<ContentsModel::DamageMark> marks;
        for (const RecoveryReporter::DamagedFile& file : reporter.damagedFiles())
            marks.push_back({false, file.position, file.unreadableBytes, file.totalBytes});
        browsing_.markDamaged(marks);
    }
    ui::RecoveryReportDialog dialog(window_, recoveryReportText(report, destination),
                                    recoveryReportJson(report, destination));
    dialog.exec();
}

} // namespace tamsin::app
