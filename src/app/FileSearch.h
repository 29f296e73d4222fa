#pragma once
// Runs the file searches of a Find File(s) dialog: each Start walks the
// volume's files on a worker thread and hands every match to the dialog's
// list, in order, in batches. Stop pauses the walk and asks whether to
// stop: Yes ends it with no further row, No lets it go on from where it
// waited, nothing lost or repeated.

#include "UiBridge.h"

#include "search/FindFiles.h"
#include "search/SearchControl.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

namespace tamsin {
class MountedVolume;
}

namespace tamsin::ui {
class FindFilesDialog;
}

namespace tamsin::app {

class FileTypes;
class FoundFilesModel;
class NameCodec;
class WorkerThread;

class FileSearch : public QObject {
    Q_OBJECT
public:
    // Becomes a child of dialog and gives it the list's model.
    FileSearch(const MountedVolume& volume, const NameCodec& names, const FileTypes& types,
               ui::FindFilesDialog& dialog);
    ~FileSearch() override;

    FoundFilesModel* model() const { return model_; }
    SearchControl& control() { return control_; }
    // For tests: called on the worker after each row is handed over, with
    // the number of rows so far. Set before a search starts.
    void setRowHook(std::function<void(std::uint32_t count)> hook) { rowHook_ = std::move(hook); }

private:
    struct Row {
        std::uint64_t generation;
        FoundFile file;
        std::uint32_t count;
    };

    void start(const QString& pattern);
    void askStop();
    void showRows(std::vector<Row>& rows);
    void searchFinished(std::uint64_t generation);
    void endWorker();

    const MountedVolume& volume_;
    const NameCodec& names_;
    ui::FindFilesDialog& dialog_;
    FoundFilesModel* model_;
    SearchControl control_;
    std::function<void(std::uint32_t)> rowHook_;
    std::unique_ptr<WorkerThread> worker_;
    // Rows and the end of a search carry its generation; those of a search
    // that was stopped or replaced are dropped.
    std::uint64_t generation_ = 0;
    bool running_ = false;
    Batched<Row> rows_;
};

} // namespace tamsin::app
