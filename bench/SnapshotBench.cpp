// Snapshot load against the mount of the same volume (time and peak memory),
// and snapshot save against cat of the same number of bytes, for volumes of
// 10k, 100k and 1M directory entries.

#include "BenchSupport.h"

#include "imagebuilder/ImageBuilder.h"
#include "mount/Mount.h"
#include "session/Session.h"
#include "snapshot/Snapshot.h"

#include <cstdio>
#include <vector>

namespace tamsin::bench {

namespace ib = imagebuilder;

namespace {

struct Figures {
    std::vector<double> mountSeconds, loadSeconds, mountMiB, loadMiB, saveSeconds, catSeconds, catSyncSeconds;
};

double mebibytes(const ChildRun& run)
{
    return static_cast<double>(run.peakRssKiB) / 1024.0;
}

} // namespace

int snapshotBench(const std::filesystem::path& scratchParent, const std::vector<std::uint32_t>& sizes, int rounds)
{
    Scratch scratch(scratchParent);
    std::printf("%10s  %8s  %8s  %10s  %9s  %9s  %8s  %8s  %10s  %11s  %10s\n", "entries", "mount s", "load s",
                "mount/load", "mount MiB", "load MiB", "save s", "cat s", "save ratio", "cat+sync s", "sync ratio");
    bool loadMet = true;
    bool saveMet = true;
    bool saveSyncMet = true;
    for (const std::uint32_t entries : sizes) {
        ib::VolumeContents contents;
        contents.generate = ib::GeneratedTree{};
        contents.generate->entries = entries;
        contents.generate->longNameEvery = 4;
        const auto image = (scratch.path() / "snapshot.img").string();
        // Built in a child too: the memory the builder frees would stay in
        // this process's heap, and children reusing it would pay a
        // copy-on-write fault for every page they touch.
        if (!runInChild([&] { return ib::writeImage(ib::singleVolumeDisk("BENCH", 8, contents), image).ok(); }).ok) {
            std::fprintf(stderr, "could not build the %u-entry image\n", entries);
            return 1;
        }
        const auto snapshot = (scratch.path() / "BENCH.VSNP").string();
        const auto saved = (scratch.path() / "SAVED.VSNP").string();
        const auto copy = (scratch.path() / "cat.out").string();

        // Every step runs in a child of a parent that stays small: a child
        // inherits its parent's resident memory. The timed steps are the
        // mount, the load and the save alone, without opening the disk.
        const ChildRun first = runInChild([&] {
            Session session;
            QuietMountObserver quiet;
            return openFirstVolume(session, image)
                && mountVolume(session.mounted, session.reader, quiet) == MountResult::Completed
                && saveSnapshot(session.mounted, 0, snapshot).ok();
        });
        if (!first.ok) {
            std::fprintf(stderr, "mounting and saving the %u-entry volume failed\n", entries);
            return 1;
        }

        Figures figures;
        for (int round = 0; round < rounds; ++round) {
            const ChildRun mount = runInChildTimingStep([&](double& seconds) {
                Session session;
                QuietMountObserver quiet;
                if (!openFirstVolume(session, image))
                    return false;
                const auto start = std::chrono::steady_clock::now();
                const bool ok = mountVolume(session.mounted, session.reader, quiet) == MountResult::Completed;
                seconds = secondsSince(start);
                return ok;
            });
            // Loaded as the command line does: into a session with the volume
            // selected, checking that the disk holds the snapshot's entries.
            const ChildRun load = runInChildTimingStep([&](double& seconds) {
                Session session;
                if (!openFirstVolume(session, image))
                    return false;
                const SnapshotDiskGuard guard{session.openDisks(), {}};
                const auto start = std::chrono::steady_clock::now();
                const bool ok = loadSnapshot(session.mounted, snapshot, nullptr, guard).ok();
                seconds = secondsSince(start);
                return ok;
            });
            // The save and cat both write a new file: replacing one costs
            // more on ext4, whose rename over a file starts writing the new
            // one back at once.
            std::filesystem::remove(saved);
            const ChildRun save = runInChildTimingStep([&](double& seconds) {
                Session session;
                if (!loadSnapshot(session.mounted, snapshot).ok())
                    return false;
                const auto start = std::chrono::steady_clock::now();
                const bool ok = saveSnapshot(session.mounted, 0, saved).ok();
                seconds = secondsSince(start);
                return ok;
            });
            const char* failed = !mount.ok ? "mount" : !load.ok ? "load" : !save.ok ? "save" : nullptr;
            if (!failed && std::filesystem::file_size(saved) != std::filesystem::file_size(snapshot))
                failed = "save (another size)";
            if (failed) {
                std::fprintf(stderr, "the %u-entry %s failed\n", entries, failed);
                return 1;
            }
            figures.mountSeconds.push_back(mount.stepSeconds);
            figures.loadSeconds.push_back(load.stepSeconds);
            figures.mountMiB.push_back(mebibytes(mount));
            figures.loadMiB.push_back(mebibytes(load));
            figures.saveSeconds.push_back(save.stepSeconds);
            // cat runs in a child as well: its buffer, freed in this process,
            // would stay in the heap that later children inherit.
            for (const bool sync : {false, true}) {
                std::filesystem::remove(copy);
                const ChildRun cat = runInChildTimingStep([&](double& seconds) {
                    seconds = catIntoFile(snapshot, copy, sync);
                    return true;
                });
                (sync ? figures.catSyncSeconds : figures.catSeconds).push_back(cat.stepSeconds);
            }
        }

        const double mountSeconds = median(figures.mountSeconds);
        const double loadSeconds = median(figures.loadSeconds);
        const double mountMiB = median(figures.mountMiB);
        const double loadMiB = median(figures.loadMiB);
        const double saveSeconds = median(figures.saveSeconds);
        const double catSeconds = median(figures.catSeconds);
        // Rates over the same bytes, so the ratio is cat's time over the save's.
        const double saveRatio = catSeconds / saveSeconds;
        const double catSyncSeconds = median(figures.catSyncSeconds);
        const double syncRatio = catSyncSeconds / saveSeconds;
        std::printf("%10u  %8.4f  %8.4f  %10.1f  %9.1f  %9.1f  %8.4f  %8.4f  %10.2f  %11.4f  %10.2f\n", entries,
                    mountSeconds, loadSeconds, mountSeconds / loadSeconds, mountMiB, loadMiB, saveSeconds, catSeconds,
                    saveRatio, catSyncSeconds, syncRatio);
        std::fflush(stdout);
        loadMet = loadMet && mountSeconds >= 10 * loadSeconds && loadMiB <= mountMiB;
        saveMet = saveMet && saveRatio >= 0.8;
        saveSyncMet = saveSyncMet && syncRatio >= 0.8;
        for (const auto& path : {image, snapshot, saved, copy})
            std::filesystem::remove(path);
    }
    std::printf("goal: snapshot load at least 10x faster than the mount, memory no higher -- %s\n",
                loadMet ? "met" : "not met");
    std::printf("goal: snapshot save at least 0.80 of cat -- %s\n", saveMet ? "met" : "not met");
    // The save fsyncs its file before the rename; cat does not.
    std::printf("goal: snapshot save at least 0.80 of cat with an fsync, as durable as the save -- %s\n",
                saveSyncMet ? "met" : "not met");
    return 0;
}

} // namespace tamsin::bench
