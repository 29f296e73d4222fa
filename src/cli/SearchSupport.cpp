#include "SearchSupport.h"

#include "Interrupt.h"
#include "Messages.h"
#include "ProgressLine.h"
#include "StatusWords.h"

#include "disk/Sector.h"
#include "session/Session.h"


namespace tamsin::cli {
namespace {

class CliSearchObserver final : public VolumeSearchObserver {
public:
    explicit CliSearchObserver(std::ostream& err) : line_(err) {}

    void searchProgress(std::uint64_t, std::uint64_t scanned, std::uint64_t total, int percent) override
    {
        if (!line_.due())
            return;
        std::string text = words::scanningStatus(scanned, total);
        text.append("  ").append(std::to_string(percent)).append("%  volume(s) found: ").append(std::to_string(found_));
        line_.show(text);
    }
    void volumeFound(const VolumeInfo&, std::uint32_t count) override { found_ = count; }

private:
    ProgressLine line_;
    std::uint32_t found_ = 0;
};

} // namespace

bool searchDisk(Session& session, const DiskInfo& disk, const SearchOptions& options, std::ostream& err,
                SearchOutcome& outcome)
{
    RangeCheck range = checkSearchRange(options.start.empty() ? "0" : options.start,
                                        options.end.empty() ? std::to_string(disk.totalSectors) : options.end);
    if (!range.ok) {
        err << "tamsin: " << rangeMessage(range.problem) << '\n';
        return false;
    }
    // Sectors past the end of the disk do not exist: scanning them would
    // take hours and find nothing.
    const std::uint64_t diskSectors = (session.reader.device() ? session.reader.device()->sizeBytes() : disk.sizeBytes) / kSectorSize;
    if (range.range.end > diskSectors) {
        if (range.range.start >= diskSectors) {
            err << "tamsin: --start " << range.range.start << " is past the end of the disk (" << diskSectors
                << " sectors)\n";
            return false;
        }
        err << "tamsin: --end " << range.range.end << " is past the end of the disk; the search ends at sector "
            << diskSectors << '\n';
        range.range.end = static_cast<std::uint32_t>(diskSectors);
    }
    if (options.runLength
        && (*options.runLength < 0
            || !session.settings.setSectorsPerAttempt(static_cast<std::uint32_t>(*options.runLength)))) {
        err << "tamsin: --run-length takes a number from 1 to 100\n";
        return false;
    }
    std::atomic<bool> stop{false};
    CliSearchObserver observer(err);
    InterruptGuard interrupt(stop);
    outcome = searchVolumes(session.reader, session.volumes, range.range, session.settings.sectorsPerAttempt(), stop,
                            observer);
    if (outcome.stopped)
        err << "Search stopped; the volumes found so far follow.\n";
    if (outcome.tableFull)
        err << "More than 256 volumes were found; only the first 256 are listed.\n";
    return true;
}

} // namespace tamsin::cli
