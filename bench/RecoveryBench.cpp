// Recovery throughput of a volume of over 1 GiB against cat on the same file
// system: warm (the image in the page cache) and cold (read from the disk).
// A plain copy of the recovered files shows what the file system itself
// costs for so many files.

#include "BenchSupport.h"

#include "disk/FileDevice.h"
#include "imagebuilder/ImageBuilder.h"
#include "mount/Mount.h"
#include "mount/MountObserver.h"
#include "recovery/RecoveryRun.h"
#include "session/Session.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tamsin::bench {
namespace ib = imagebuilder;
namespace {

constexpr int kRounds = 5;

// Both sides start without dirty pages to write back; cold ones also
// without the image in the page cache.
void settle(bool cold)
{
    if (cold)
        dropCaches();
    else
        ::sync();
}

// A file of a recovered tree, and where its plain copy reads the image.
struct TreeFile {
    std::filesystem::path relative;
    std::uint64_t size = 0;
    timespec modified{};
    std::uint64_t imageOffset = 0;
};

// The files under folder in path order (the large files of BIG first, as the
// run takes them), each given consecutive bytes of an image of imageBytes.
std::vector<TreeFile> listTree(const std::filesystem::path& folder, std::uint64_t imageBytes)
{
    std::vector<TreeFile> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat st {};
        if (entry.is_regular_file() && ::stat(entry.path().c_str(), &st) == 0)
            files.push_back({std::filesystem::relative(entry.path(), folder), static_cast<std::uint64_t>(st.st_size),
                             st.st_mtim, 0});
    }
    std::sort(files.begin(), files.end(), [](const TreeFile& a, const TreeFile& b) { return a.relative < b.relative; });
    std::uint64_t offset = 0;
    for (TreeFile& file : files) {
        if (offset + file.size > imageBytes)
            offset = 0;
        file.imageOffset = offset;
        offset += file.size;
    }
    return files;
}

// Copies image bytes into the listed files under `to` as a plain copier
// does, without any volume logic: each file made new, written in 1 MiB
// pieces, its time set, closed. In one stream, file after file; in two,
// the files over 1 MiB on a thread of their own beside the others. What the
// file system costs per file, measured apart from the recovery. False when
// a file could not be made or written whole.
bool plainCopy(const std::string& image, const std::vector<TreeFile>& files, const std::filesystem::path& to,
               bool twoStreams)
{
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    std::error_code error;
    for (const TreeFile& file : files)
        std::filesystem::create_directories(to / file.relative.parent_path(), error);
    FileDescriptor in(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
    auto copy = [&](bool large) {
        std::vector<char> buffer(kPiece);
        for (const TreeFile& file : files) {
            if ((file.size > kPiece) != large && twoStreams)
                continue;
            FileDescriptor out(::open((to / file.relative).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
            if (!out.valid())
                return false;
            for (std::uint64_t done = 0; done < file.size;) {
                const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, file.size - done));
                const auto offset = static_cast<off_t>(file.imageOffset + done);
                if (::pread(in.get(), buffer.data(), n, offset) != static_cast<ssize_t>(n)
                    || ::write(out.get(), buffer.data(), n) != static_cast<ssize_t>(n))
                    return false;
                done += n;
            }
            const timespec times[2] = {file.modified, file.modified};
            ::futimens(out.get(), times);
        }
        return true;
    };
    if (!twoStreams)
        return copy(true);
    bool largeCopied = false;
    std::thread largeFiles([&] { largeCopied = copy(true); });
    const bool smallCopied = copy(false);
    largeFiles.join();
    return largeCopied && smallCopied;
}

} // namespace

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

    // The large fragmented files alone, then the whole volume (small files add per-file costs).
    RecoverySelection large;
    large.folderItems.push_back(session.mounted.folders[0].treeItem);
    RecoverySelection all;
    all.wholeVolume = true;

    int round = 0;
    // One timed recovery into a fresh folder. The folders stay until the
    // comparison ends: creating files right after deleting thousands makes
    // the file system search harder for free inodes. Seconds, or a negative
    // value when the recovery reported problems.
    auto recoverOnce = [&](const RecoverySelection& selection, bool cold, std::uint64_t& bytes, std::uint64_t& files) {
        const auto out = scratch.path() / ("out" + std::to_string(round));
        RecoveryRunObserver observer;
        settle(cold);
        const auto start = std::chrono::steady_clock::now();
        const RecoveryReport report = runRecovery(session.mounted, session.reader, session.settings.rules(), session.recovery,
                                                  observer, selection, out.string(),
                                                  [](const std::string& raw) { return raw; });
        ::sync();  // until the recovered bytes are on the disk
        const double seconds = secondsSince(start);
        dropCachedPages(out);
        bytes = treeBytes(out);
        files = report.filesWritten;
        if (report.failed || report.incomplete || bytes != report.bytesWritten) {
            std::fprintf(stderr, "recovery reported problems\n");
            return -1.0;
        }
        return seconds;
    };
    auto catOnce = [&](std::uint64_t bytes, bool cold) {
        const auto copy = scratch.path() / ("cat" + std::to_string(round++));
        settle(cold);
        const auto start = std::chrono::steady_clock::now();
        catFile(image, copy.string(), bytes);
        ::sync();
        const double seconds = secondsSince(start);
        dropCachedPages(copy);
        return seconds;
    };

    std::vector<TreeFile> wholeTree;  // the files of the whole volume's first recovery
    std::vector<std::filesystem::path> keptFolders;
    double wholeCatSeconds = 0;
    // Each side runs kRounds times, interleaved, and the median counts: the
    // page cache, writeback and the other work of a shared machine make
    // single runs noisy. Returns the ratio of the rates, or a negative value.
    auto compare = [&](const char* label, const RecoverySelection& selection, bool cold) {
        std::vector<double> recoverTimes;
        std::vector<double> catTimes;
        std::uint64_t bytes = 0;
        std::uint64_t files = 0;
        const int firstRound = round;
        // One untimed pair first: the first gigabyte written after a pause
        // lands in pages the host has taken back from this VM and costs
        // several times more, whichever side writes it.
        if (recoverOnce(selection, cold, bytes, files) < 0)
            return -1.0;
        if (selection.wholeVolume)
            wholeTree = listTree(scratch.path() / ("out" + std::to_string(round)),
                                 std::filesystem::file_size(image));
        catOnce(bytes, cold);
        for (int i = 0; i < kRounds; ++i) {
            const double seconds = recoverOnce(selection, cold, bytes, files);
            if (seconds < 0)
                return -1.0;
            recoverTimes.push_back(seconds);
            catTimes.push_back(catOnce(bytes, cold));
        }
        // The whole volume's thousands of files stay until the plain copies below are made.
        for (int i = firstRound; i < round; ++i) {
            const auto out = scratch.path() / ("out" + std::to_string(i));
            if (selection.wholeVolume)
                keptFolders.push_back(out);
            else
                std::filesystem::remove_all(out);
            std::filesystem::remove(scratch.path() / ("cat" + std::to_string(i)));
        }
        const double recoverSeconds = median(recoverTimes);
        const double catSeconds = median(catTimes);
        if (selection.wholeVolume)
            wholeCatSeconds = catSeconds;
        const double recoverRate = bytes / recoverSeconds / (1 << 20);
        const double catRate = bytes / catSeconds / (1 << 20);
        std::printf("%-12s  %6llu files  %6.0f MiB  recover %6.2f s %6.0f MiB/s  cat %5.2f s %6.0f MiB/s  ratio %.2f"
                    "  (median of %d; recover %.2f..%.2f s, cat %.2f..%.2f s)\n",
                    label, static_cast<unsigned long long>(files), bytes / double(1 << 20), recoverSeconds,
                    recoverRate, catSeconds, catRate, recoverRate / catRate, kRounds,
                    *std::min_element(recoverTimes.begin(), recoverTimes.end()),
                    *std::max_element(recoverTimes.begin(), recoverTimes.end()),
                    *std::min_element(catTimes.begin(), catTimes.end()),
                    *std::max_element(catTimes.begin(), catTimes.end()));
        return recoverRate / catRate;
    };
    auto goal = [](const char* what, double ratio, double target, const char* reference) {
        std::printf("goal: %s at least %.2f of %s -- %s\n", what, target, reference,
                    ratio >= target ? "met" : "not met");
    };

    // Warm: the page cache holds the image for both sides alike.
    catFile(image, "/dev/null");
    const double largeRatio = compare("large files", large, false);
    const double wholeRatio = compare("whole volume", all, false);
    if (largeRatio < 0 || wholeRatio < 0)
        return 1;
    goal("large files", largeRatio, 1.0, "cat");
    goal("whole volume", wholeRatio, 0.8, "cat");

    // The whole volume's files copied plainly, in one stream and in two, as
    // yardsticks of what the file system allows: a recovery reads its files
    // in the run's order (on a disk, one place at a time), as the one stream does.
    std::vector<double> oneStream;
    std::vector<double> twoStreams;
    for (int i = 0; i < kRounds; ++i) {
        for (const bool two : {false, true}) {
            const auto out = scratch.path() / ("plain" + std::to_string(i) + (two ? "b" : "a"));
            settle(false);
            const auto start = std::chrono::steady_clock::now();
            if (!plainCopy(image, wholeTree, out, two)) {
                std::fprintf(stderr, "the plain copy failed\n");
                return 1;
            }
            ::sync();
            (two ? twoStreams : oneStream).push_back(secondsSince(start));
            dropCachedPages(out);
        }
    }
    for (int i = 0; i < kRounds; ++i)
        for (const char* side : {"a", "b"})
            keptFolders.push_back(scratch.path() / ("plain" + std::to_string(i) + side));
    for (const auto& folder : keptFolders)
        std::filesystem::remove_all(folder);
    std::printf("plain copy of the whole volume's files (median of %d): in one stream %.2f s, ratio %.2f to cat;"
                " large and small files side by side %.2f s, ratio %.2f\n",
                kRounds, median(oneStream), wholeCatSeconds / median(oneStream), median(twoStreams),
                wholeCatSeconds / median(twoStreams));

    // Cold: every timed run of either side starts with the image out of the
    // page cache, as a disk is read. Only root may drop the caches.
    if (!dropCaches()) {
        std::printf("note: the page cache cannot be dropped here (run as root); the cold part was skipped\n");
        return 0;
    }
    const double coldRatio = compare("cold large", large, true);
    if (coldRatio < 0)
        return 1;
    goal("cold recovery", coldRatio, 0.85, "a cold cat");
    // The small files too, read from the disk (no goal of its own).
    if (compare("cold whole", all, true) < 0)
        return 1;
    return 0;
}

} // namespace tamsin::bench
