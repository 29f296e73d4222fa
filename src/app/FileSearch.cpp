#include "FileSearch.h"

#include "FoundFilesModel.h"
#include "NameCodec.h"
#include "WorkerThread.h"

#include "SearchTexts.h"
#include "ui/FindFilesDialog.h"
#include "ui/MessageDialog.h"

namespace tamsin::app {
namespace {

// Worker side: posts each match without waiting for the UI thread, so a
// paused or stopped walk never holds the UI thread up.
class RowPoster final : public FindObserver {
public:
    using Post = std::function<void(const FoundFile&, std::uint32_t)>;
    explicit RowPoster(Post post) : post_(std::move(post)) {}
    void fileFound(const FoundFile& row, std::uint32_t countSoFar) override { post_(row, countSoFar); }

private:
    Post post_;
};

} // namespace

FileSearch::FileSearch(const MountedVolume& volume, const NameCodec& names, const FileTypes& types,
                       ui::FindFilesDialog& dialog) :
    QObject(&dialog), volume_(volume), names_(names), dialog_(dialog),
    model_(new FoundFilesModel(names, types, this)),
    rows_(this, [this](std::vector<Row>& rows) { showRows(rows); })
{
    setObjectName(QStringLiteral("fileSearch"));
    dialog_.setResultsModel(model_);
    connect(&dialog_, &ui::FindFilesDialog::startRequested, this, &FileSearch::start);
    connect(&dialog_, &ui::FindFilesDialog::stopRequested, this, &FileSearch::askStop);
}

FileSearch::~FileSearch()
{
    control_.stop();
    endWorker();
}

void FileSearch::endWorker()
{
    // The worker never waits for this thread, so it returns promptly once
    // its walk is over or stopped.
    if (worker_) {
        worker_->wait();
        worker_.reset();
    }
}

void FileSearch::start(const QString& pattern)
{
    if (running_)
        return;
    endWorker();
    ++generation_;
    control_.reset();
    model_->clear();
    running_ = true;
    dialog_.searchStarted();

    const std::string raw = names_.toPattern(pattern);
    const std::uint64_t generation = generation_;
    auto hook = rowHook_;
    worker_ = std::make_unique<WorkerThread>([this, raw, generation, hook] {
        RowPoster poster([&](const FoundFile& row, std::uint32_t count) {
            rows_.post({generation, row, count});
            if (hook)
                hook(count);
        });
        findFiles(volume_, raw, control_, poster);
        QMetaObject::invokeMethod(this, [this, generation] { searchFinished(generation); }, Qt::QueuedConnection);
    });
    worker_->start();
}

void FileSearch::askStop()
{
    if (!running_)
        return;
    control_.pause();
    // What was found before the pause is on the list while the question is open.
    rows_.flush();
    const bool stop = ui::MessageDialog::ask(&dialog_, texts::kStopSearchQuestion);
    if (!running_) {
        // The walk reached its end while the question was open.
        control_.resume();
        return;
    }
    if (!stop) {
        control_.resume();
        dialog_.searchResumed();
        return;
    }
    // No row after the answer: whatever is still on its way is dropped.
    control_.stop();
    ++generation_;
    endWorker();
    running_ = false;
    dialog_.searchEnded();
}

void FileSearch::showRows(std::vector<Row>& rows)
{
    std::vector<FoundFile> shown;
    shown.reserve(rows.size());
    std::uint32_t count = 0;
    for (Row& row : rows) {
        if (row.generation != generation_)
            continue;
        count = row.count;
        shown.push_back(std::move(row.file));
    }
    if (shown.empty())
        return;
    const QString last = names_.toDisplay(shown.back().name);
    model_->append(std::move(shown));
    dialog_.showFound(last, count);
}

void FileSearch::searchFinished(std::uint64_t generation)
{
    if (generation != generation_)
        return;
    rows_.flush();
    running_ = false;
    dialog_.searchEnded();
}

} // namespace tamsin::app
