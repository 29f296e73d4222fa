// Volume search over a 4 GiB sparse image against cat of the same range to /dev/null.

#include "BenchSupport.h"

#include "imagebuilder/Demo.h"
#include "imagebuilder/ImageBuilder.h"
#include "session/Session.h"
#include "volumes/VolumeSearch.h"

#include <cstdio>

namespace tamsin::bench {

int searchBench(const std::filesystem::path& scratchParent, std::uint32_t gib)
{
    Scratch scratch(scratchParent);
    namespace ib = imagebuilder;
    ib::DiskSpec diskSpec = ib::demoDiskSpec();
    diskSpec.totalSectors = std::uint64_t{gib} << 21;
    diskSpec.bootSignature = false;
    const auto image = (scratch.path() / "search.img").string();
    if (!ib::writeImage(diskSpec, image).ok())
        return 1;
    const std::uint64_t bytes = std::uint64_t{gib} << 30;

    catFile(image, "/dev/null");  // warm up alike
    const double catSeconds = catFile(image, "/dev/null", bytes);

    Session session;
    DiskInfo disk;
    disk.path = image;
    if (!session.reader.openDisk(disk))
        return 1;
    std::atomic<bool> stop{false};
    VolumeSearchObserver quiet;
    const auto start = std::chrono::steady_clock::now();
    searchVolumes(session.reader, session.volumes, {0, static_cast<std::uint32_t>(bytes / kSectorSize)}, 60, stop, quiet);
    const double searchSeconds = secondsSince(start);

    const double searchRate = bytes / searchSeconds / (1 << 20);
    const double catRate = bytes / catSeconds / (1 << 20);
    std::printf("searched %u GiB in %.2f s: %.0f MiB/s, %u volume(s) found\n", gib, searchSeconds, searchRate,
                session.volumes.volumeCount());
    std::printf("cat to /dev/null: %.2f s: %.0f MiB/s\n", catSeconds, catRate);
    std::printf("ratio search/cat: %.2f (goal: at least 0.80)\n", searchRate / catRate);
    return session.volumes.volumeCount() == 2 ? 0 : 1;
}

} // namespace tamsin::bench
