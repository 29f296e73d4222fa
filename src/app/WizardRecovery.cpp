// "&Recover Selected..." and "Recover &All...": the destination folder, the
// entries to copy, and the run on a worker thread behind the progress
// dialog, ending with the run's report.

#include "WizardDialog.h"

#include "ContentsModel.h"
#include "FolderTreeModel.h"
#include "FolderTreeView.h"
#include "NameCodec.h"
#include "RecoveryReporter.h"
#include "ReportTexts.h"
#include "WizardTexts.h"
#include "WorkerThread.h"

#include "recovery/RecoveryRun.h"
#include "ui/MessageDialog.h"
#include "ui/RecoveryProgressDialog.h"
#include "ui/RecoveryReportDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTreeView>

#include <algorithm>

namespace tamsin::app {

void WizardDialog::recover(bool all)
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    RecoverySelection selection;
    selection.wholeVolume = all;
    if (!all && !collectSelection(selection)) {
        ui::MessageDialog::show(this, text::kNothingSelected, ui::MessageKind::Information);
        return;
    }
    recoverWithChooser(selection);
}

void WizardDialog::recoverWithChooser(const RecoverySelection& selection)
{
    const QString destination =
        QFileDialog::getExistingDirectory(this, QString::fromUtf8(text::kDestinationCaption), lastDestination_);
    if (destination.isEmpty())
        return;
    lastDestination_ = destination;
    runRecoveryInto(destination, selection);
}

bool WizardDialog::collectSelection(RecoverySelection& selection) const
{
    // A file both in a ticked folder and among the rows is copied once: the
    // run takes each file at its first mention.
    folderModel_->checkedFolders(selection.folderItems, selection.folderFiles);
    const bool ticked = !selection.folderItems.empty() || !selection.folderFiles.empty();
    if (focusPane_ == Pane::Tree && !ticked) {
        const QModelIndex current = folderTree_->currentIndex();
        if (!current.isValid())
            return false;
        selection.folderItems.push_back(FolderTreeModel::itemFor(current));
        return true;
    }
    // The icon views select single cells, the details view whole rows.
    std::vector<int> rows;
    for (const QModelIndex& index : detailsView_->selectionModel()->selectedIndexes())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows) {
        if (!contents_->isFolderRow(row)) {
            selection.files.push_back(contents_->position(row));
            continue;
        }
        // A folder row outside the tree has no subtree to take; its key 0
        // would name the root and with it the whole volume.
        const std::uint32_t item = contents_->key(row);
        if (item != FolderTree::kRootItem)
            selection.folderItems.push_back(item);
    }
    return !selection.files.empty() || !selection.folderItems.empty();
}

void WizardDialog::runRecoveryInto(const QString& destination, const RecoverySelection& selection)
{
    ui::RecoveryProgressDialog progress(this, session_.recovery);
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
        contents_->markDamaged(marks);
    }
    ui::RecoveryReportDialog dialog(this, recoveryReportText(report, destination),
                                    recoveryReportJson(report, destination));
    dialog.exec();
}

} // namespace tamsin::app
