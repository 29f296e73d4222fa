// Recovery throughput of a volume of over 1 GiB against cat on the same file system.

#include "BenchSupport.h"

#include "imagebuilder/ImageBuilder.h"
#include "mount/Mount.h"
#include "mount/MountObserver.h"
#include "recovery/RecoveryRun.h"
#include "session/Session.h"

#include <cstdio>
#include <unistd.h>

namespace tamsin::bench {
namespace ib = imagebuilder;

int recoveryBench(const std::filesystem::path& scratchParent, std::uint32_t largeMiB)
{
    Scratch scratch(scratchParent);
    // Eight large files whose chains interleave with each other (extents of
    // one block between gaps that the next file fills), plus many small files.
    ib::VolumeContents contents;
    ib::Node big = ib::folderNode("BIG");
    for (int i = 0; i < 8; ++i) {
        ib::Node file = ib::fileNode("LARGE" + std::to_string(i) + ".BIN", largeMiB / 8 * (1u << 20) + 12345);
        file.chain.order = i % 2 ? ib::BlockOrder::Interleaved : ib::BlockOrder::Contiguous;
        big.children.push_back(file);
    }
    contents.nodes.push_back(big);
    contents.generate = ib::GeneratedTree{};
    contents.generate->entries = 20000;
    contents.generate->deletedEvery = 0;
    contents.generate->fileSize = 6000;
    const ib::DiskSpec diskSpec = ib::singleVolumeDisk("DATA", 128, contents);  // 64 KiB blocks
    const auto image = (scratch.path() / "recovery.img").string();
    const auto built = std::chrono::steady_clock::now();
    if (!ib::writeImage(diskSpec, image).ok()) {
        std::fprintf(stderr, "could not build the image\n");
        return 1;
    }
    std::printf("built a %.0f MiB image in %.1f s\n", static_cast<double>(std::filesystem::file_size(image)) / (1 << 20),
                secondsSince(built));

    Session session;
    QuietMountObserver quiet;
    if (!openFirstVolume(session, image))
        return 1;
    if (mountVolume(session.mounted, session.reader, quiet) != MountResult::Completed)
        return 1;

    // Warm the page cache for both runs alike.
    catFile(image, "/dev/null");

    // The large fragmented files alone, then the whole volume (small files add per-file costs).
    RecoverySelection large;
    large.folderItems.push_back(session.mounted.folders[0].treeItem);
    RecoverySelection all;
    all.wholeVolume = true;
    bool met = true;

    // Each side runs three times, interleaved, and the best time counts: the
    // page cache and writeback make single runs noisy.
    for (const auto& [label, selection] : {std::pair{"large files", large}, std::pair{"whole volume", all}}) {
        double recoverSeconds = 1e9;
        double catSeconds = 1e9;
        std::uint64_t bytes = 0;
        std::uint64_t files = 0;
        for (int round = 0; round < 3; ++round) {
            // A fresh folder per round: creating files right after deleting
            // thousands makes the file system search harder for free inodes.
            const auto out = scratch.path() / (std::string("out-") + label + std::to_string(round));
            RecoveryRunObserver observer;
            ::sync();  // both runs start without dirty pages to write back
            const auto start = std::chrono::steady_clock::now();
            const RecoveryReport report = runRecovery(session.mounted, session.reader, session.settings,
                                                      session.recovery, observer, selection, out.string(),
                                                      [](const std::string& raw) { return raw; });
            ::sync();  // until the recovered bytes are on the disk
            recoverSeconds = std::min(recoverSeconds, secondsSince(start));
            bytes = treeBytes(out);
            files = report.filesWritten;
            if (report.failed || report.incomplete || bytes != report.bytesWritten) {
                std::fprintf(stderr, "recovery reported problems\n");
                return 1;
            }
            const auto copy = scratch.path() / ("cat.out" + std::to_string(round));
            ::sync();
            const auto catStart = std::chrono::steady_clock::now();
            catFile(image, copy.string(), bytes);
            ::sync();
            catSeconds = std::min(catSeconds, secondsSince(catStart));
        }
        for (int round = 0; round < 3; ++round) {
            std::filesystem::remove_all(scratch.path() / (std::string("out-") + label + std::to_string(round)));
            std::filesystem::remove(scratch.path() / ("cat.out" + std::to_string(round)));
        }
        const double recoverRate = bytes / recoverSeconds / (1 << 20);
        const double catRate = bytes / catSeconds / (1 << 20);
        std::printf("%-12s  %6llu files  %6.0f MiB  recover %6.2f s %6.0f MiB/s  cat %5.2f s %6.0f MiB/s  ratio %.2f\n",
                    label, static_cast<unsigned long long>(files), bytes / double(1 << 20), recoverSeconds,
                    recoverRate, catSeconds, catRate, recoverRate / catRate);
        met = met && recoverRate / catRate >= 0.7;
    }
    std::printf("goal: ratio at least 0.70 -- %s\n", met ? "met" : "not met");
    return 0;
}

} // namespace tamsin::bench
