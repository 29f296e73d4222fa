// Mount time and peak memory for volumes of 10k, 100k and 1M directory entries.

#include "BenchSupport.h"

#include "imagebuilder/ImageBuilder.h"
#include "mount/Mount.h"
#include "mount/VolumeReader.h"
#include "session/Session.h"

#include <cstdio>
#include <vector>

namespace tamsin::bench {

namespace ib = imagebuilder;

int mountBench(const std::filesystem::path& scratchParent, const std::vector<std::uint32_t>& sizes)
{
    Scratch scratch(scratchParent);
    std::printf("%10s  %10s  %12s  %14s  %12s  %10s  %12s\n", "entries", "mount s", "entries/s", "DET read s",
                "mount/DET", "peak MiB", "bytes/entry");
    for (const std::uint32_t entries : sizes) {
        ib::VolumeContents contents;
        contents.generate = ib::GeneratedTree{};
        contents.generate->entries = entries;
        contents.generate->longNameEvery = 4;
        const ib::DiskSpec diskSpec = ib::singleVolumeDisk("BENCH", 8, contents);
        const auto image = (scratch.path() / "mount.img").string();
        // Every step runs in a child of a parent that stays small: a child
        // inherits its parent's resident memory and heap.
        if (!runInChild([&] { return ib::writeImage(diskSpec, image).ok(); }).ok) {
            std::fprintf(stderr, "could not build the %u-entry image\n", entries);
            return 1;
        }

        // The process before mounting, to separate the mount's memory from the program's.
        const ChildRun baseline = runInChild([&] {
            Session session;
            return openFirstVolume(session, image);
        });
        const ChildRun mount = runInChild([&] {
            Session session;
            QuietMountObserver quiet;
            if (!openFirstVolume(session, image))
                return false;
            return mountVolume(session.mounted, session.reader, quiet) == MountResult::Completed;
        });
        const double mountSeconds = mount.seconds;

        // Time the DET reads alone, after a mount has warmed the page cache.
        const ChildRun det = runInChildTimingStep([&](double& seconds) {
            Session session;
            QuietMountObserver quiet;
            if (!openFirstVolume(session, image)
                || mountVolume(session.mounted, session.reader, quiet) != MountResult::Completed)
                return false;
            std::vector<std::uint8_t> block(std::size_t{session.mounted.sectorsPerBlock} * kSectorSize);
            const VolumeReader io(session.mounted, session.reader);
            const auto start = std::chrono::steady_clock::now();
            for (std::uint32_t k = 0; k < session.mounted.chosenDetList.blockCount(); ++k)
                io.read(session.mounted.blockStart(session.mounted.chosenDetList.nodes[k].block),
                        session.mounted.sectorsPerBlock, block);
            seconds = secondsSince(start);
            return true;
        });
        const double detSeconds = det.stepSeconds;
        if (!mount.ok || !baseline.ok || !det.ok) {
            std::fprintf(stderr, "mount of the %u-entry image failed\n", entries);
            return 1;
        }
        std::printf("%10u  %10.3f  %12.0f  %14.3f  %12.1f  %10.1f  %12.0f\n", entries, mountSeconds,
                    entries / mountSeconds, detSeconds, mountSeconds / std::max(detSeconds, 1e-9),
                    static_cast<double>(mount.peakRssKiB) / 1024.0,
                    static_cast<double>(mount.peakRssKiB - std::min(mount.peakRssKiB, baseline.peakRssKiB)) * 1024.0
                        / entries);
        std::filesystem::remove(image);
    }
    return 0;
}

} // namespace tamsin::bench
