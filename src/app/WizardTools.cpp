// The Tools commands of the browsing step: Find File(s), File Filters and
// Restore Compress Files.

#include "WizardDialog.h"

#include "ContentsModel.h"
#include "FileSearch.h"
#include "FoundFilesModel.h"
#include "NameCodec.h"
#include "ReportTexts.h"
#include "WorkerThread.h"

#include "mount/FolderPaths.h"
#include "recovery/CompressedFiles.h"
#include "recovery/RecoveryRun.h"
#include "recovery/DamageScan.h"
#include "ui/DamageReportDialog.h"
#include "ui/FileFiltersDialog.h"
#include "ui/FindFilesDialog.h"
#include "ui/RestoreCompressedDialog.h"

#include <QLabel>
#include <QListView>
#include <QTableView>

namespace tamsin::app {

void WizardDialog::findFiles()
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    ui::FindFilesDialog dialog(this);
    auto* search = new FileSearch(session_.mounted, *names_, *types_, dialog);
    connect(&dialog, &ui::FindFilesDialog::showRequested, this,
            [this, search](int row) { showFoundFile(search->model()->row(row).filePosition); });
    connect(&dialog, &ui::FindFilesDialog::recoverRequested, this, [this, search] {
        // The files keep their folder paths: the run recreates the folders.
        RecoverySelection selection;
        for (int row = 0; row < search->model()->rowCount(); ++row)
            selection.files.push_back(search->model()->row(row).filePosition);
        if (!selection.files.empty())
            recoverWithChooser(selection);
    });
    dialog.exec();
}

void WizardDialog::showFoundFile(std::uint32_t filePosition)
{
    if (filePosition >= session_.mounted.files.size())
        return;
    const std::uint32_t item = parentItemOf(session_.mounted, session_.mounted.files[filePosition]);
    showFolderOfItem(item);
    selectTreeItem(item);
    // The list is the focused pane, so Recover Selected takes the file.
    focusPane_ = Pane::List;
    for (int row = 0; row < contents_->rowCount(); ++row) {
        if (contents_->isFolderRow(row) || contents_->position(row) != filePosition)
            continue;
        QAbstractItemView* list = state_.listView == ListViewMode::Details
            ? static_cast<QAbstractItemView*>(detailsView_)
            : static_cast<QAbstractItemView*>(iconView_);
        list->setCurrentIndex(contents_->index(row, ContentsModel::Name));
        list->scrollTo(contents_->index(row, ContentsModel::Name));
        list->setFocus();
        break;
    }
}

void WizardDialog::editFileFilters()
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    ui::FileFiltersDialog dialog(
        this, session_.filters, [this](const QString& text) { return names_->toPattern(text); },
        [this](const std::string& raw) { return names_->toDisplay(raw); });
    dialog.exec();
    // The tree takes the focus on its root; the list shows the root folder
    // through the new filters.
    selectTreeItem(FolderTree::kRootItem);
    contents_->showFolder(0, session_.filters);
}

void WizardDialog::showFilterNotice()
{
    if (session_.filters.count() == 0 || state_.wizardStep != 2) {
        filterNotice_->hide();
        return;
    }
    filterNotice_->setText(QStringLiteral("Filter active: %1 of %2 files shown &nbsp; <a href=\"clear\">Clear filter</a>")
                               .arg(contents_->shownFiles())
                               .arg(contents_->folderFiles()));
    filterNotice_->show();
}

void WizardDialog::clearFileFilters()
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    session_.filters.clear();
    contents_->showFolder(contents_->folderId(), session_.filters);
}

void WizardDialog::restoreCompressed()
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    ui::RestoreCompressedDialog dialog(this);
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

void WizardDialog::showDamageReport()
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    std::atomic<bool> stop{false};
    ui::DamageReportDialog dialog(this, stop);
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
    contents_->markDamaged(marks);
}

} // namespace tamsin::app
