// tamsin-bench: throughput and memory of the mount, snapshots, the recovery and the volume search, also through
// container images, and of the JSON listing.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace tamsin::bench {
int mountBench(const std::filesystem::path& scratchParent, const std::vector<std::uint32_t>& sizes);
int snapshotBench(const std::filesystem::path& scratchParent, const std::vector<std::uint32_t>& sizes, int rounds);
int recoveryBench(const std::filesystem::path& scratchParent, std::uint32_t largeMiB);
int searchBench(const std::filesystem::path& scratchParent, std::uint32_t gib);
int containerBench(const std::filesystem::path& scratchParent, std::uint32_t dataMiB);
int listingBench(const std::filesystem::path& scratchParent, const std::vector<std::uint32_t>& sizes, int rounds);
int damagedContainerBench(const std::filesystem::path& scratchParent);
} // namespace tamsin::bench

namespace {

int run(int argc, char** argv);

} // namespace

// Failures are reported as messages with status 1, never as aborts.
int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tamsin-bench: %s\n", e.what());
        return 1;
    }
}

namespace {

int run(int argc, char** argv)
{
    const std::string which = argc > 1 ? argv[1] : "";
    const std::filesystem::path scratch = argc > 2 ? argv[2] : ".";
    if (which == "mount")
        return tamsin::bench::mountBench(scratch, {10'000, 100'000, 1'000'000});
    if (which == "snapshot")
        return tamsin::bench::snapshotBench(scratch, {10'000, 100'000, 1'000'000}, 5);
    if (which == "recovery")
        return tamsin::bench::recoveryBench(scratch, 1024);
    if (which == "search")
        return tamsin::bench::searchBench(scratch, 4);
    if (which == "containers")
        return tamsin::bench::containerBench(scratch, 256);
    if (which == "damaged-containers")
        return tamsin::bench::damagedContainerBench(scratch);
    if (which == "listing")
        return tamsin::bench::listingBench(scratch, {200'000, 1'000'000}, 5);
    std::fprintf(stderr,
                 "usage: tamsin-bench mount|snapshot|recovery|search|containers|damaged-containers|listing\n"
                 "       [SCRATCH-FOLDER]\n"
                 "  mount     mount time and peak memory for 10k, 100k and 1M directory entries\n"
                 "  snapshot  snapshot load against the mount (time, memory) and save against cat, same sizes\n"
                 "  recovery  recovery of a >1 GiB volume against cat on the same file system, warm and cold\n"
                 "  search    volume search of a 4 GiB image against cat to /dev/null, and cold of a 1.1 GiB one\n"
                 "  (cold parts drop the page cache before each timed run: as root only, skipped otherwise)\n"
                 "  containers  volume search and recovery through VMDK, VHD, QCOW2 (VHDX, EWF) against raw\n"
                 "  damaged-containers  every sector of cut, corrupt and odd 4 MiB containers, each under a second\n"
                 "  listing   tamsin ls --recursive --json against tamsin info (time, memory), 200k and 1M entries\n"
                 "            (the tamsin of this build, or $TAMSIN)\n");
    return 2;
}

} // namespace
