// Volume search against cat of the same range to /dev/null: warm, over a
// sparse image of `gib` GiB read from the page cache, and cold, over a
// 1.1 GiB image whose every sector occupies disk, with the caches dropped
// before each timed run.

#include "BenchSupport.h"

#include "disk/FileDevice.h"
#include "imagebuilder/Demo.h"
#include "imagebuilder/ImageBuilder.h"
#include "session/Session.h"
#include "volumes/VolumeSearch.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace tamsin::bench {
namespace {

constexpr int kRuns = 5;
constexpr std::uint32_t kColdMiB = 1126;  // 1.1 GiB

// The demo disk grown to `sectors`, its partition table gone so that only the
// search finds its two volumes.
bool writeSearchImage(const std::string& image, std::uint64_t sectors)
{
    imagebuilder::DiskSpec diskSpec = imagebuilder::demoDiskSpec();
    diskSpec.totalSectors = sectors;
    diskSpec.bootSignature = false;
    return imagebuilder::writeImage(diskSpec, image).ok();
}

// Gives every all-zero sector of the image pseudo-random bytes, so that the
// file occupies disk throughout and a cold read really reads it. The volume
// structures are not zero sectors and stay as they are.
bool fillZeroSectors(const std::string& image)
{
    FileDescriptor fd(::open(image.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.valid())
        return false;
    std::vector<std::uint8_t> piece(1 << 20);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (off_t at = 0;; at += static_cast<off_t>(piece.size())) {
        const ssize_t got = ::pread(fd.get(), piece.data(), piece.size(), at);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        for (std::size_t s = 0; s + kSectorSize <= static_cast<std::size_t>(got); s += kSectorSize) {
            auto* sector = piece.data() + s;
            if (std::any_of(sector, sector + kSectorSize, [](std::uint8_t b) { return b != 0; }))
                continue;
            for (std::size_t i = 0; i < kSectorSize; i += 8) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                std::memcpy(sector + i, &state, 8);
            }
        }
        if (::pwrite(fd.get(), piece.data(), static_cast<std::size_t>(got), at) != got)
            return false;
    }
    return ::fsync(fd.get()) == 0;
}

// Seconds of one search over the first `bytes` of the image; found gets the
// number of volumes.
double timeSearch(const std::string& image, std::uint64_t bytes, std::uint32_t& found)
{
    Session session;
    DiskInfo disk;
    disk.path = image;
    if (!session.reader.openDisk(disk))
        return -1;
    std::atomic<bool> stop{false};
    VolumeSearchObserver quiet;
    const auto start = std::chrono::steady_clock::now();
    searchVolumes(session.reader, session.volumes, {0, static_cast<std::uint32_t>(bytes / kSectorSize)}, 60, stop,
                  quiet);
    const double seconds = secondsSince(start);
    found = session.volumes.volumeCount();
    return seconds;
}

struct Comparison {
    double searchSeconds = 0;  // medians of kRuns
    double catSeconds = 0;
    bool allFound = true;  // every search found the image's two volumes
};

// Times search and cat alternately; cold drops the caches before each run.
Comparison compare(const std::string& image, std::uint64_t bytes, bool cold)
{
    std::vector<double> searches, cats;
    Comparison result;
    for (int i = 0; i < kRuns; ++i) {
        if (cold)
            dropCaches();
        cats.push_back(catFile(image, "/dev/null", bytes));
        if (cold)
            dropCaches();
        std::uint32_t found = 0;
        searches.push_back(timeSearch(image, bytes, found));
        result.allFound = result.allFound && found == 2;
    }
    result.searchSeconds = median(searches);
    result.catSeconds = median(cats);
    return result;
}

void report(const char* what, const Comparison& c, std::uint64_t bytes, double goal, const char* goalText)
{
    const double searchRate = bytes / c.searchSeconds / (1 << 20);
    const double catRate = bytes / c.catSeconds / (1 << 20);
    const double ratio = searchRate / catRate;
    std::printf("%s, median of %d: search %.2f s (%.0f MiB/s), cat to /dev/null %.2f s (%.0f MiB/s)\n", what, kRuns,
                c.searchSeconds, searchRate, c.catSeconds, catRate);
    std::printf("ratio search/cat: %.2f (goal: %s -- %s)\n", ratio, goalText, ratio >= goal ? "met" : "not met");
}

} // namespace

int searchBench(const std::filesystem::path& scratchParent, std::uint32_t gib)
{
    Scratch scratch(scratchParent);
    bool ok = true;

    const auto warmImage = (scratch.path() / "search.img").string();
    const std::uint64_t warmBytes = std::uint64_t{gib} << 30;
    if (!writeSearchImage(warmImage, warmBytes / kSectorSize))
        return 1;
    catFile(warmImage, "/dev/null");  // into the page cache
    const Comparison warm = compare(warmImage, warmBytes, false);
    char what[64];
    std::snprintf(what, sizeof what, "warm, %u GiB sparse image", gib);
    report(what, warm, warmBytes, 0.90, "volume search at least 0.90 of cat to /dev/null");
    ok = ok && warm.allFound;
    std::filesystem::remove(warmImage);

    // The cold image is only written where the caches can be dropped.
    const auto coldImage = (scratch.path() / "search-cold.img").string();
    const std::uint64_t coldBytes = std::uint64_t{kColdMiB} << 20;
    const bool mayDrop = ::access("/proc/sys/vm/drop_caches", W_OK) == 0;
    if (mayDrop && (!writeSearchImage(coldImage, coldBytes / kSectorSize) || !fillZeroSectors(coldImage)))
        return 1;
    if (!mayDrop || !dropCaches()) {
        std::printf("cold: skipped, the page cache cannot be dropped (needs root)\n");
    } else {
        const Comparison cold = compare(coldImage, coldBytes, true);
        report("cold, 1.1 GiB image on disk", cold, coldBytes, 0.85, "cold volume search at least 0.85 of a cold cat");
        ok = ok && cold.allFound;
    }
    if (!ok)
        std::printf("error: a search did not find the image's two volumes\n");
    return ok ? 0 : 1;
}

} // namespace tamsin::bench
