#pragma once
// Carries a recovery run's reports from its worker to the progress dialog:
// the file being written, its progress and the whole run's (files, bytes,
// time left by the rate so far) are coalesced; the create-error
// question and the notices are shown while the worker waits.

#include "ReportTexts.h"
#include "UiBridge.h"

#include "recovery/RecoveryRun.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tamsin::ui {
class RecoveryProgressDialog;
}

namespace tamsin::app {

class RecoveryReporter final : public RecoveryRunObserver {
public:
    // files: the volume's files list, to tell which file a result is for.
    RecoveryReporter(ui::RecoveryProgressDialog& dialog, const std::vector<TreeNode>& files);

    void runPlanned(std::uint64_t files, std::uint64_t bytes) override;
    void fileBegins(const TreeNode& node) override;
    void fileStarted(const std::string& path, const std::string& name, std::uint32_t filesStarted) override;
    void fileProgress(int percent) override;
    bool continueAfterCreateError(const std::string& path) override;
    void notice(ExtractNotice notice) override;
    void fileFinished(const TreeNode& node, const ExtractResult& result) override;
    // Files the run found on unreadable sectors; read once the run is over.
    struct DamagedFile {
        std::uint32_t position;
        std::uint64_t unreadableBytes;
        std::uint64_t totalBytes;
    };
    const std::vector<DamagedFile>& damagedFiles() const { return damaged_; }
    // The run has returned: the dialog closes.
    void finish();

private:
    struct Shown {
        std::string path;
        std::string name;
        std::uint32_t filesStarted = 0;
        int percent = 0;
        bool planned = false;
        OverallProgress overall;
    };

    // Brings the whole run's bytes and time left up to date and posts.
    void postOverall();

    // Runs f on the UI thread after the pending progress.
    void ordered(const std::function<void()>& f);

    ui::RecoveryProgressDialog& dialog_;
    const std::vector<TreeNode>& files_;
    std::vector<DamagedFile> damaged_;  // worker thread until the run is over
    Shown current_;  // worker thread only
    std::uint64_t finishedBytes_ = 0;  // sizes of the files finished, worker thread only
    std::uint64_t currentSize_ = 0;
    std::chrono::steady_clock::time_point started_;
    Coalesced<Shown> shown_;
};

} // namespace tamsin::app
