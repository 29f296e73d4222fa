#include "Commands.h"
#include "Interrupt.h"
#include "ProgressLine.h"
#include "TextTable.h"
#include "VolumePaths.h"
#include "RecoveryWords.h"

#include "recovery/RecoveryRun.h"
#include "recovery/RecoverySettings.h"

#include <iostream>

namespace tamsin::cli {
namespace {

class CliRecoveryObserver final : public RecoveryRunObserver {
public:
    explicit CliRecoveryObserver(std::ostream& err) : line_(err) {}

    void runPlanned(std::uint64_t files, std::uint64_t bytes) override
    {
        files_ = files;
        totalBytes_ = bytes;
    }
    void fileStarted(const std::string&, const std::string& name, std::uint32_t) override
    {
        current_ = name;
        draw(true);
    }
    void fileProgress(int percent) override
    {
        percent_ = percent;
        draw(false);
    }
    void fileFinished(const TreeNode&, const ExtractResult& result) override
    {
        ++done_;
        bytes_ += result.bytesWritten;
        draw(false);
    }
    bool continueAfterCreateError(const std::string& path) override
    {
        if (!line_.canAsk())
            return true;
        line_.clear();
        line_.stream() << "Error creating file : " << path << ".  Continue Recovery ? [y/n] " << std::flush;
        std::string answer;
        return !std::getline(std::cin, answer) || answer.empty() || answer[0] == 'y' || answer[0] == 'Y';
    }
    void notice(ExtractNotice notice) override
    {
        if (!line_.active() || notice != ExtractNotice::ChecksumError)
            return;  // the report lists it
        line_.clear();
        line_.stream() << "Compress File CheckSum Error (" << terminalSafe(current_) << ")\n";
    }

private:
    void draw(bool force)
    {
        if (!line_.due(force))
            return;
        std::string text = std::to_string(done_) + " of " + std::to_string(files_) + " files, ";
        text.append(std::to_string(bytes_ / 1024)).append(" of ").append(std::to_string(totalBytes_ / 1024));
        text.append(" KiB  ").append(current_).append("  ").append(std::to_string(percent_)).append("%");
        line_.show(text);
    }

    ProgressLine line_;
    std::string current_;
    int percent_ = 0;
    std::uint64_t done_ = 0;
    std::uint64_t bytes_ = 0;
    std::uint64_t files_ = 0;
    std::uint64_t totalBytes_ = 0;
};

bool parseSettings(const RecoverOptions& options, RecoverySettings& settings, std::ostream& err)
{
    const std::uint16_t deleted = options.deleted == "include" ? 1 : options.deleted == "only" ? 2 : options.deleted == "exclude" ? 3 : 0;
    const std::uint16_t duplicates = options.duplicates == "rename" ? 1
        : options.duplicates == "overwrite"                          ? 2
        : options.duplicates == "skip"                               ? 3
                                                                     : 0;
    if (!settings.setDeletedFilesAction(deleted)) {
        err << "tamsin: --deleted takes include, only or exclude\n";
        return false;
    }
    if (!settings.setDuplicateAction(duplicates)) {
        err << "tamsin: --duplicates takes rename, overwrite or skip\n";
        return false;
    }
    if (options.retries < 1 || options.retries > 10 || !settings.setRetryCount(static_cast<std::uint16_t>(options.retries))) {
        err << "tamsin: --retries takes a number from 1 to 10\n";
        return false;
    }
    return true;
}

} // namespace

int runRecover(const RecoverOptions& options, std::ostream& out, std::ostream& err)
{
    RecoverySettings settings;
    if (!parseSettings(options, settings, err))
        return kExitUsage;
    if (options.destination.empty()) {
        err << "tamsin: no destination folder given (--to DIR)\n";
        return kExitUsage;
    }
    int status = 0;
    auto mounted = mountFromOptions(options.mount, err, status);
    if (!mounted)
        return status;
    Session& session = mounted->session;
    const MountedVolume& volume = session.mounted;
    session.reader.setRetryCount(settings.retryCount());
    const CodePageConverter& names = *mounted->names;

    RecoverySelection selection;
    selection.wholeVolume = options.paths.empty();
    for (const auto& path : options.paths) {
        const auto entry = resolveEntry(volume, names, path);
        if (!entry) {
            err << "tamsin: no file or folder " << path << " on volume " << options.mount.volume << '\n';
            return kExitError;
        }
        if (entry->isFolder)
            selection.folderItems.push_back(entry->item);
        else
            selection.files.push_back(entry->file);
    }

    RecoveryRunState run;
    CliRecoveryObserver observer(err);
    RecoveryReport report;
    {
        // Ctrl-C stops the run as Stop Saving does: the file being written
        // stays partial, no further file is created, and the report follows.
        InterruptGuard interrupt(run.recoveryAborted);
        report = runRecovery(volume, session.reader, settings.rules(), run, observer, selection, options.destination,
                             [&](const std::string& raw) { return names.toUtf8(raw); });
    }

    out << "Recovered " << report.filesWritten << " file(s), " << report.bytesWritten << " bytes, into "
        << options.destination << '\n';
    if (report.stopped)
        out << "The run was stopped: " << report.notStarted << " file(s) not started\n";
    out << "  incomplete:          " << report.incomplete << '\n'
        << "  skipped (duplicate): " << report.skippedDuplicates << '\n'
        << "  skipped (deleted):   " << report.skippedDeleted << '\n'
        << "  skipped during copy: " << report.skippedByUser << '\n'
        << "  failed:              " << report.failed << '\n';
    for (const auto& problem : report.problems)
        out << "  " << terminalSafe(problem.path) << ": " << words::problemText(problem) << '\n';
    // Files that could not be created or written are errors: standard error
    // names them too, for scripts that keep only that.
    for (const auto& problem : report.problems)
        if (problem.destinationFailed())
            err << "tamsin: " << terminalSafe(problem.path) << ": " << words::problemText(problem) << '\n';
    if (report.failed > 0 || report.stopped)
        return kExitError;
    return report.incomplete > 0 ? kExitIncomplete : kExitOk;
}

} // namespace tamsin::cli
