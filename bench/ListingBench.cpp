// `tamsin ls --recursive --json` against `tamsin info` on the same volume:
// wall time and peak memory of the whole commands (mount included), output
// to /dev/null, for volumes of 200k and 1M directory entries.

#include "BenchSupport.h"

#include "imagebuilder/ImageBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tamsin::bench {

namespace ib = imagebuilder;

namespace {

struct Command {
    double seconds = 0;
    double mebibytes = 0;
};

// The median time and peak of rounds runs, after one that warms the page
// cache; zeros when a run fails.
Command measure(const std::string& program, const std::vector<std::string>& args, int rounds)
{
    if (!runProgram(program, args).ok)
        return {};
    std::vector<double> seconds, mebibytes;
    for (int round = 0; round < rounds; ++round) {
        const ChildRun run = runProgram(program, args);
        if (!run.ok)
            return {};
        seconds.push_back(run.seconds);
        mebibytes.push_back(static_cast<double>(run.peakRssKiB) / 1024.0);
    }
    return {median(seconds), median(mebibytes)};
}

} // namespace

int listingBench(const std::filesystem::path& scratchParent, const std::vector<std::uint32_t>& sizes, int rounds)
{
    // $TAMSIN names another build to measure.
    const char* given = std::getenv("TAMSIN");
    const std::string program = given && *given ? given : TAMSIN_BINARY;
    Scratch scratch(scratchParent);
    std::printf("%10s  %8s  %8s  %7s  %9s  %9s  %7s\n", "entries", "info s", "ls s", "time x", "info MiB", "ls MiB",
                "peak x");
    bool timeMet = true;
    bool memoryMet = true;
    for (const std::uint32_t entries : sizes) {
        ib::VolumeContents contents;
        contents.generate = ib::GeneratedTree{};
        contents.generate->entries = entries;
        contents.generate->longNameEvery = 4;
        const auto image = (scratch.path() / "listing.img").string();
        // Built in a child: the builder's memory stays out of this process.
        if (!runInChild([&] { return ib::writeImage(ib::singleVolumeDisk("BENCH", 8, contents), image).ok(); }).ok) {
            std::fprintf(stderr, "could not build the %u-entry image\n", entries);
            return 1;
        }
        const Command info = measure(program, {"info", image, "--volume", "0"}, rounds);
        const Command list = measure(program, {"ls", image, "--volume", "0", "--recursive", "--json"}, rounds);
        if (info.seconds == 0 || list.seconds == 0) {
            std::fprintf(stderr, "%s info or ls of the %u-entry volume failed\n", program.c_str(), entries);
            return 1;
        }
        const double timeRatio = list.seconds / info.seconds;
        const double memoryRatio = list.mebibytes / info.mebibytes;
        std::printf("%10u  %8.3f  %8.3f  %7.2f  %9.1f  %9.1f  %7.2f\n", entries, info.seconds, list.seconds, timeRatio,
                    info.mebibytes, list.mebibytes, memoryRatio);
        std::fflush(stdout);
        if (entries == sizes.back()) {
            timeMet = timeRatio <= 2.0;
            memoryMet = memoryRatio <= 1.5;
        }
        std::filesystem::remove(image);
    }
    std::printf("goal: ls --recursive --json of %u entries within 2x the time of info -- %s\n", sizes.back(),
                timeMet ? "met" : "not met");
    std::printf("goal: ls --recursive --json of %u entries within 1.5x the peak memory of info -- %s\n", sizes.back(),
                memoryMet ? "met" : "not met");
    return 0;
}

} // namespace tamsin::bench
