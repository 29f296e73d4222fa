#include "MountSupport.h"

#include "DiskArgument.h"
#include "Messages.h"
#include "ProgressLine.h"
#include "StatusWords.h"

#include "disk/FileDevice.h"
#include "mount/Mount.h"
#include "mount/MountObserver.h"
#include "snapshot/Snapshot.h"
#include "volumes/VolumeTableReader.h"

#include <iostream>

namespace tamsin::cli {
namespace {

// Shows progress on stderr when it is a terminal, and answers the copy
// chooser from the options, a prompt, or not at all.
class CliMountObserver final : public MountObserver {
public:
    CliMountObserver(const MountOptions& options, std::ostream& err) : options_(options), line_(err) {}

    void mountStatus(MountStatus status, const std::string& volumeName) override
    {
        status_ = words::mountStatusText(status, volumeName);
        percent_ = 0;
        draw(true);
    }
    void mountProgress(int percent) override
    {
        percent_ = percent;
        draw(false);
    }
    void mountCounters(std::uint32_t folders, std::uint32_t files, const std::string&) override
    {
        folders_ = folders;
        files_ = files;
        draw(false);
    }

    CopyChoice chooseCopy(TableKind kind) override
    {
        const int given = kind == TableKind::Fat ? options_.fatCopy : options_.detCopy;
        if (given == 1 || given == 2)
            return given == 1 ? CopyChoice::First : CopyChoice::Second;
        const char* option = kind == TableKind::Fat ? "--fat-copy" : "--det-copy";
        if (!line_.canAsk()) {
            const std::string table = kind == TableKind::Fat ? "File Allocation Table" : "Directory Entry Table";
            unanswered_ = "the two copies of the ";
            unanswered_.append(table).append(" differ; pass ").append(option).append(" 1 or ").append(option).append(
                " 2 to choose one");
            return CopyChoice::Cancel;
        }
        line_.clear();
        std::ostream& err = line_.stream();
        err << copyChooserCaption(kind) << "\n" << copyChooserMessage(kind) << "\n";
        for (;;) {
            err << "Use copy 1 or 2, or c to cancel [1]: " << std::flush;
            std::string answer;
            if (!std::getline(std::cin, answer) || answer == "c" || answer == "C")
                return CopyChoice::Cancel;
            if (answer.empty() || answer == "1")
                return CopyChoice::First;
            if (answer == "2")
                return CopyChoice::Second;
        }
    }

    const std::string& unanswered() const { return unanswered_; }

private:
    void draw(bool force)
    {
        if (!line_.due(force))
            return;
        std::string text = status_ + "  " + std::to_string(percent_) + "%";
        if (folders_ || files_)
            text.append("  (").append(std::to_string(folders_)).append(" folders, ").append(std::to_string(files_)).append(" files)");
        line_.show(text);
    }

    const MountOptions& options_;
    ProgressLine line_;
    std::string status_;
    int percent_ = 0;
    std::uint32_t folders_ = 0;
    std::uint32_t files_ = 0;
    std::string unanswered_;
};

} // namespace

std::unique_ptr<MountedDisk> mountFromOptions(const MountOptions& options, std::ostream& err, int& status)
{
    status = 1;
    auto mounted = std::make_unique<MountedDisk>(options.accessMode);
    mounted->names = std::make_unique<CodePageConverter>(options.codePage);
    if (!mounted->names->valid()) {
        err << "tamsin: unknown code page '" << options.codePage << "'\n";
        status = 2;
        return nullptr;
    }

    std::string error;
    const auto disk = resolveDisk(options.disk, options.accessMode, error);
    if (!disk) {
        err << "tamsin: " << error << '\n';
        return nullptr;
    }
    mounted->diskPath = disk->path;
    Session& session = mounted->session;
    OpenError openError;
    if (!session.reader.openDisk(*disk, &openError)) {
        err << "tamsin: " << openError.message << '\n';
        return nullptr;
    }

    if (!attachRescueMap(session.reader, options.map, options.noMap, err)
        || !openMoreDisks(session, options.with, options.noMap, err))
        return nullptr;

    if (!options.snapshot.empty()) {
        SnapshotDiskGuard guard;
        if (!options.forceSnapshot)
            guard.disks = session.openDisks();
        const SnapshotResult loaded = loadSnapshot(session.mounted, options.snapshot, nullptr, guard);
        if (!loaded.ok()) {
            err << "tamsin: " << options.snapshot << ": " << snapshotMessage(loaded) << '\n';
            if (loaded.status == SnapshotStatus::OtherDisk)
                err << "tamsin: give --force to load it anyway\n";
            return nullptr;
        }
        // A volume whose blocks do not simply follow its start sector is read
        // through the layout of its table record.
        readVolumeTables(session.openDisks(), session.volumes);
        session.mounted.adoptLayout(session.volumes);
        status = 0;
        return mounted;
    }

    if (options.search.enabled) {
        SearchOutcome outcome;
        if (!searchDisk(session, *disk, options.search, err, outcome)) {
            status = 2;
            return nullptr;
        }
    } else {
        readVolumeTables(session.openDisks(), session.volumes);
    }
    if (options.volume < 0 || static_cast<std::uint32_t>(options.volume) >= session.volumes.volumeCount()) {
        err << "tamsin: no volume " << options.volume << " on " << disk->path << " ("
            << session.volumes.volumeCount() << " found; see 'tamsin volumes " << options.disk
            << (options.search.enabled ? " --search" : "") << "')\n";
        return nullptr;
    }
    session.mounted.selectVolume(session.volumes[static_cast<std::size_t>(options.volume)],
                                 static_cast<std::uint16_t>(options.volume));

    CliMountObserver observer(options, err);
    const MountResult result = mountVolume(session.mounted, session.reader, observer);
    switch (result) {
    case MountResult::Completed:
        if (const TableReadDamage& damage = session.mounted.tableDamage; damage.any())
            err << "tamsin: warning: unreadable table sectors: " << tableDamageSummary(damage) << " (see 'tamsin damage')\n";
        status = 0;
        return mounted;
    case MountResult::Invalid:
        err << "tamsin: volume " << options.volume << " cannot be mounted: its table entry gives "
            << session.mounted.sectorsPerBlock << " sectors per block (a volume has 1 to " << kMaxSectorsPerBlock
            << "); try a volume search (--search)\n";
        return nullptr;
    case MountResult::Abandoned:
        if (!observer.unanswered().empty()) {
            err << "tamsin: " << observer.unanswered() << '\n';
            status = kExitCopyChoiceNeeded;
        } else {
            err << "tamsin: mount cancelled\n";
        }
        return nullptr;
    }
    return nullptr;
}

} // namespace tamsin::cli
