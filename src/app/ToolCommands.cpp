// The Tools commands: Find File(s), File Filters, Settings, Drive
// Information, Restore Compress Files and the Damage Report.

#include "ToolCommands.h"

#include "BrowsingPage.h"
#include "ContentsModel.h"
#include "FileSearch.h"
#include "FoundFilesModel.h"
#include "NameCodec.h"
#include "RecoveryCommands.h"
#include "ReportTexts.h"
#include "VolumeRows.h"
#include "WizardController.h"
#include "WorkerThread.h"

#include "recovery/CompressedFiles.h"
#include "recovery/RecoveryRun.h"
#include "recovery/DamageScan.h"
#include "ui/DamageReportDialog.h"
#include "ui/FileFiltersDialog.h"
#include "ui/FindFilesDialog.h"
#include "ui/RecoverySettingsDialog.h"
#include "ui/ReportDialog.h"
#include "ui/RestoreCompressedDialog.h"

namespace tamsin::app {

ToolCommands::ToolCommands(WizardController& controller, BrowsingPage& browsing, RecoveryCommands& recovery,
                           NameCodec& names, FileTypes& types, QWidget* window) :
    session_(controller.session()), state_(controller.state()), browsing_(browsing), recovery_(recovery),
    names_(&names), types_(&types), window_(window)
{
}

void ToolCommands::findFiles()
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    ui::FindFilesDialog dialog(window_);
    auto* search = new FileSearch(session_.mounted, *names_, *types_, dialog);
    QObject::connect(&dialog, &ui::FindFilesDialog::showRequested, &dialog,
                     [this, search](int row) { browsing_.showFoundFile(search->model()->row(row).filePosition); });
    QObject::connect(&dialog, &ui::FindFilesDialog::recoverRequested, &dialog, [this, search] {
        // The files keep their folder paths: the run recreates the folders.
        RecoverySelection selection;
        for (int row = 0; row < search->model()->rowCount(); ++row)
            selection.files.push_back(search->model()->row(row).filePosition);
        if (!selection.files.empty())
            recovery_.recoverWithChooser(selection);
    });
    dialog.exec();
}

void ToolCommands::editFileFilters()
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    ui::FileFiltersDialog dialog(
        window_, session_.filters, [this](const QString& text) { return names_->toPattern(text); },
        [this](const std::string& raw) { return names_->toDisplay(raw); });
    dialog.exec();
    browsing_.showRootThroughFilters();
}

void ToolCommands::showSettings()
{
    ui::RecoverySettingsDialog dialog(window_, session_.settings);
    if (dialog.exec() != QDialog::Accepted)
        return;
    session_.settings.setSectorsPerAttempt(dialog.sectorsPerAttempt());
    session_.settings.setDuplicateAction(dialog.duplicateAction());
    session_.settings.setDeletedFilesAction(dialog.deletedFilesAction());
    session_.setRetryCount(dialog.retryCount());
}

void ToolCommands::showDriveInformation()
{
    // The volume's own rows, then where it lies: segments, partitions, hot-fix
    // and mirrors. A volume found by a search has no layout read from the
    // partition, so there is nothing more to tell.
    ui::ReportDialog::Rows rows = driveInformationRows(session_.mounted);
    if (session_.mounted.layout) {
        const ui::ReportDialog::Rows layout = layoutRows(layoutReport(session_.mounted, session_.reader));
        rows.insert(rows.end(), layout.begin(), layout.end());
    }
    const ui::ReportDialog::Rows damage = tableDamageRows(session_.mounted.tableDamage);
    rows.insert(rows.end(), damage.begin(), damage.end());
    ui::ReportDialog dialog(window_, QStringLiteral("Drive Information"), rows);
    dialog.exec();
}

void ToolCommands::restoreCompressed()
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    ui::RestoreCompressedDialog dialog(window_);
    std::vector<CompressedFileInfo> found;
    // Each compressed file's header is one sector read; a slow disk must not
    // freeze the window.
    WorkerThread worker([&] {
        found = compressedFiles(session_.mounted, session_.reader);
        QMetaObject::invokeMethod(
            &dialog, [&] { dialog.finishWork(compressedFilesText(session_.mounted, found, *names_)); },
            Qt::QueuedConnection);
    });
    worker.start();
    dialog.exec();
    worker.wait();
}

void ToolCommands::showDamageReport()
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    std::atomic<bool> stop{false};
    ui::DamageReportDialog dialog(window_, stop);
    DamageReport report;
    struct Progress final : DamageObserver {
        explicit Progress(ui::DamageReportDialog& d) : dialog(d) {}
        void damageProgress(int percent) override
        {
            QMetaObject::invokeMethod(&dialog, [this, percent] { dialog.setProgress(percent); }, Qt::QueuedConnection);
        }
        ui::DamageReportDialog& dialog;
    } progress(dialog);
    WorkerThread worker([&] {
        report = scanDamage(session_.mounted, session_.reader, progress, stop);
        QMetaObject::invokeMethod(
            &dialog,
            [&] {
                dialog.finishWork(damageReportText(session_.mounted, report, *names_), report.stopped,
                                  damageReportJson(session_.mounted, report, *names_));
            },
            Qt::QueuedConnection);
    });
    worker.start();
    dialog.exec();
    worker.wait();

    std::vector<ContentsModel::DamageMark> marks;
    for (const DamageRow& row : report.rows)
        if (row.kind != DamageKind::Table)
            marks.push_back({row.kind == DamageKind::Folder, row.position, row.unreadableBytes, row.totalBytes});
    browsing_.markDamaged(marks);
}

} // namespace tamsin::app
