// Recovery runs write on a writer thread: every file must come out as the
// direct copy (extractFile without a writer) makes it, failures, skips and
// stops included.

#include "recovery/FileWriter.h"
#include "recovery/RecoveryRun.h"

#include "disk/FileDevice.h"
#include "mount/Mount.h"
#include "mount/TreeNode.h"

#include "FaultyDevice.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <thread>

namespace tamsin {
namespace {

namespace ib = imagebuilder;
namespace fs = std::filesystem;

std::vector<std::uint8_t> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

timespec modified(const fs::path& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtim;
}

// Files larger than the process may write fail with EFBIG while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldSignal_);
    }

private:
    rlimit old_{};
    void (*oldSignal_)(int) = nullptr;
};

// What a front end does on a file's progress: it may set the flags of the run.
using ProgressHook = std::function<void(RecoveryRunState& run, const std::string& name, int percent)>;

// Records the run's callbacks.
struct Recorder : RecoveryRunObserver {
    std::vector<std::string> events;
    std::vector<std::pair<const TreeNode*, ExtractResult>> finished;
    ProgressHook onProgress;
    RecoveryRunState* run = nullptr;
    std::string current;

    void fileStarted(const std::string&, const std::string& name, std::uint32_t) override
    {
        current = name;
        events.push_back("start " + name);
    }
    void fileProgress(int percent) override
    {
        if (onProgress)
            onProgress(*run, current, percent);
    }
    void fileFinished(const TreeNode& node, const ExtractResult& result) override
    {
        events.push_back("finish " + node.name);
        finished.emplace_back(&node, result);
    }
};

constexpr std::uint32_t kMiB = 1u << 20;

class RecoveryWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ib::VolumeContents c;
        // Root files come first in the run: the large ones, then a small one.
        ib::Node big = ib::fileNode("BIG.BIN", 6 * kMiB + 100);
        big.dateTime = ib::packDateTime(2001, 2, 3, 4, 5, 6);
        ib::Node mixed = ib::fileNode("MIXED.BIN", 3 * kMiB + 7);
        mixed.chain.order = ib::BlockOrder::Interleaved;
        mixed.modifiedDateTime = ib::packDateTime(1999, 12, 31, 23, 59, 58);
        c.nodes = {big, mixed, ib::fileNode("AFTER.TXT", 10)};
        for (int f = 0; f < 3; ++f) {
            ib::Node folder = ib::folderNode("DIR" + std::to_string(f));
            for (int i = 0; i < 100; ++i) {
                const auto size = static_cast<std::uint32_t>((i * 977) % 9000);
                ib::Node file = ib::fileNode("F" + std::to_string(i) + ".TXT", size);
                if (i % 3 == 0)  // dates of their own; the others keep the volume's
                    file.dateTime =
                        ib::packDateTime(1990 + i % 20, 1 + i % 12, 1 + i % 28, i % 24, i % 60, 2 * (i % 30));
                folder.children.push_back(file);
            }
            c.nodes.push_back(folder);
        }
        buildAndMount(c);
    }

    void buildAndMount(const ib::VolumeContents& c)
    {
        built = test::buildVolume(dir / "disk.img", c, 8);
        ASSERT_TRUE(built.manifest);
        test::openAndSelect(session, built.imagePath);
        test::RecordingMountObserver observer;
        ASSERT_EQ(mountVolume(session.mounted, session.reader, observer), MountResult::Completed);
    }

    RecoveryReport recoverAll()
    {
        recorder.run = &session.recovery;
        RecoverySelection all;
        all.wholeVolume = true;
        return runRecovery(session.mounted, session.reader, session.settings.rules(), session.recovery, recorder, all,
                           (dir / "out").string(), [](const std::string& raw) { return raw; });
    }

    // Extracts the node without a writer, the progress hook acting as in the run.
    ExtractResult direct(const TreeNode& node, const std::string& name)
    {
        fs::create_directories(dir / "direct");
        RecoveryRunState run;
        Recorder observer;
        observer.run = &run;
        // Keyed on the node's name, whatever name the copy is written under.
        if (recorder.onProgress)
            observer.onProgress = [&](RecoveryRunState& state, const std::string&, int percent) {
                recorder.onProgress(state, node.name, percent);
            };
        const ExtractRequest request = extractRequestFor(node, (dir / "direct").string(), name, ExtractMode::Recovery);
        return extractFile(session.mounted, session.reader, run, observer, request);
    }

    // The run's file and result equal what the direct copy makes of the node.
    void expectAsDirect(const TreeNode& node, const ExtractResult& result, const std::string& directName)
    {
        SCOPED_TRACE(result.path);
        const ExtractResult want = direct(node, directName);
        EXPECT_EQ(result.outcome, want.outcome);
        EXPECT_EQ(result.bytesWritten, want.bytesWritten);
        EXPECT_EQ(result.expectedBytes, want.expectedBytes);
        EXPECT_EQ(result.unreadableSectors, want.unreadableSectors);
        EXPECT_EQ(result.unreadableBytes, want.unreadableBytes);
        EXPECT_EQ(result.error, want.error);
        EXPECT_EQ(result.missingFragment, want.missingFragment);
        EXPECT_EQ(result.fatLost, want.fatLost);
        EXPECT_EQ(result.chainLooped, want.chainLooped);
        EXPECT_EQ(readFile(result.path), readFile(want.path));
        if (want.written()) {
            const timespec a = modified(result.path);
            const timespec b = modified(want.path);
            EXPECT_EQ(a.tv_sec, b.tv_sec);
        }
    }

    // Each file finished before the next started and came out as the direct
    // copy makes it; the report's bytes are those of the files.
    void expectRunAsDirect(const RecoveryReport& report)
    {
        for (std::size_t i = 0; i < recorder.events.size(); ++i)
            EXPECT_EQ(recorder.events[i].rfind(i % 2 ? "finish " : "start ", 0), 0u) << recorder.events[i];
        std::uint64_t bytes = 0;
        for (std::size_t i = 0; i < recorder.finished.size(); ++i) {
            const auto& [node, result] = recorder.finished[i];
            bytes += result.bytesWritten;
            expectAsDirect(*node, result, std::to_string(i));
        }
        EXPECT_EQ(report.bytesWritten, bytes);
    }

    std::size_t filesUnder(const fs::path& folder)
    {
        std::size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            count += entry.is_regular_file() ? 1 : 0;
        return count;
    }

    test::TempDir dir;
    Session session;
    test::BuiltVolume built;
    Recorder recorder;
};

TEST_F(RecoveryWriterTest, EveryFileComesOutAsTheDirectCopyMakesItInTheSameOrder)
{
    const RecoveryReport report = recoverAll();
    EXPECT_EQ(report.filesWritten, 303u);
    EXPECT_EQ(report.failed, 0u);
    EXPECT_TRUE(report.problems.empty());
    ASSERT_EQ(recorder.finished.size(), 303u);
    EXPECT_EQ(recorder.finished.front().first->name, "BIG.BIN");
    expectRunAsDirect(report);
    EXPECT_EQ(readFile(dir / "out" / "BIG.BIN"), ib::expectedData(*built.manifest->find("BIG.BIN")));
    EXPECT_EQ(readFile(dir / "out" / "MIXED.BIN"), ib::expectedData(*built.manifest->find("MIXED.BIN")));
}

TEST_F(RecoveryWriterTest, AWriteThatFailsOnTheWriterIsReportedForItsFileAsTheDirectCopyFailsIt)
{
    // Sectors past the failing piece are unreadable: reading ahead of the
    // failure must not count them.
    const auto& entry = *built.manifest->find("BIG.BIN");
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(built.imagePath));
    faulty->markBad(built.manifest->blockSector(entry.dataBlocks[5 * 256 + 10]));
    faulty->markBad(built.manifest->blockSector(entry.dataBlocks[6 * 256 - 1]));
    session.reader.attach(std::move(faulty));

    const FileSizeLimit limit(4 * kMiB + kMiB / 2);  // BIG.BIN fails in its fifth piece
    const RecoveryReport report = recoverAll();
    EXPECT_EQ(report.failed, 1u);
    EXPECT_EQ(report.filesWritten, 302u);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0].path, (dir / "out" / "BIG.BIN").string());
    EXPECT_EQ(report.problems[0].result.outcome, ExtractOutcome::WriteFailed);
    EXPECT_EQ(report.problems[0].result.error, EFBIG);
    ASSERT_EQ(recorder.finished.size(), 303u);
    const auto& [node, result] = recorder.finished.front();
    EXPECT_EQ(result.outcome, ExtractOutcome::WriteFailed);
    EXPECT_EQ(result.bytesWritten, 4u * kMiB);
    EXPECT_EQ(result.unreadableSectors, 0u);
    expectAsDirect(*node, result, "BIG.BIN");
    for (std::size_t i = 1; i < recorder.finished.size(); ++i)
        EXPECT_TRUE(recorder.finished[i].second.written()) << recorder.finished[i].first->name;
    EXPECT_EQ(readFile(dir / "out" / "MIXED.BIN"), ib::expectedData(*built.manifest->find("MIXED.BIN")));
}

TEST_F(RecoveryWriterTest, SkipOrStopAskedWhileALargeFileIsWrittenLeavesWhatTheDirectCopyLeaves)
{
    recorder.onProgress = [](RecoveryRunState& run, const std::string& name, int percent) {
        if (name == "MIXED.BIN" && percent >= 30)
            run.skipCurrentFile = true;
    };
    RecoveryReport report = recoverAll();
    EXPECT_EQ(report.skippedByUser, 1u);
    EXPECT_EQ(report.filesWritten, 302u);
    EXPECT_FALSE(report.stopped);
    ASSERT_EQ(recorder.finished.size(), 303u);
    const auto& [skippedNode, skipped] = recorder.finished[1];
    EXPECT_EQ(skipped.outcome, ExtractOutcome::SkippedByUser);
    EXPECT_GT(skipped.bytesWritten, 0u);
    EXPECT_LT(skipped.bytesWritten, 2u * kMiB);
    EXPECT_EQ(fs::file_size(skipped.path), skipped.bytesWritten);
    expectAsDirect(*skippedNode, skipped, "SKIPPED");
    EXPECT_EQ(readFile(dir / "out" / "AFTER.TXT"), ib::expectedData(*built.manifest->find("AFTER.TXT")));

    fs::remove_all(dir / "out");
    recorder = Recorder();
    recorder.onProgress = [](RecoveryRunState& run, const std::string& name, int percent) {
        if (name == "BIG.BIN" && percent >= 40)
            run.recoveryAborted = true;
    };
    report = recoverAll();
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.filesWritten, 0u);
    EXPECT_EQ(report.skippedByUser, 1u);
    EXPECT_EQ(report.notStarted, 302u);
    ASSERT_EQ(recorder.finished.size(), 303u);
    const auto& [stoppedNode, stopped] = recorder.finished.front();
    EXPECT_EQ(stopped.outcome, ExtractOutcome::SkippedByUser);
    EXPECT_EQ(filesUnder(dir / "out"), 1u);  // the partial file alone
    EXPECT_FALSE(fs::exists(dir / "out" / "DIR0"));  // nor a folder made for a later file
    EXPECT_EQ(fs::file_size(stopped.path), stopped.bytesWritten);
    EXPECT_EQ(stopped.bytesWritten, 3u * kMiB);  // stopped on the report of its third piece
    expectAsDirect(*stoppedNode, stopped, "STOPPED");
}

TEST_F(RecoveryWriterTest, NamesTakenBeforeTheRunAreRenamedAsWhenEachFileIsMadeInTurn)
{
    // Files are made ahead of the copy; a taken name must still get the
    // name the copy would give it, and every later file its own name.
    fs::create_directories(dir / "out" / "DIR1");
    std::ofstream(dir / "out" / "AFTER.TXT") << "old";
    std::ofstream(dir / "out" / "DIR1" / "F7.TXT") << "old too";
    std::ofstream(dir / "out" / "DIR1" / "Copy (1 ) of F7.TXT") << "older";

    const RecoveryReport report = recoverAll();
    EXPECT_EQ(report.filesWritten, 303u);
    EXPECT_EQ(report.failed, 0u);
    ASSERT_EQ(recorder.finished.size(), 303u);
    for (std::size_t i = 0; i < recorder.events.size(); ++i)
        EXPECT_EQ(recorder.events[i].rfind(i % 2 ? "finish " : "start ", 0), 0u) << recorder.events[i];
    std::map<std::string, std::string> renamed;
    for (std::size_t i = 0; i < recorder.finished.size(); ++i) {
        const auto& [node, result] = recorder.finished[i];
        if (result.nameUsed != node->name)
            renamed[node->name] = result.nameUsed;
        expectAsDirect(*node, result, std::to_string(i));
    }
    EXPECT_EQ(renamed, (std::map<std::string, std::string>{{"AFTER.TXT", "Copy (1 ) of AFTER.TXT"},
                                                           {"F7.TXT", "Copy (2 ) of F7.TXT"}}));
    EXPECT_EQ(readFile(dir / "out" / "AFTER.TXT"), std::vector<std::uint8_t>({'o', 'l', 'd'}));
    EXPECT_EQ(fs::file_size(dir / "out" / "DIR1" / "F7.TXT"), 7u);
    EXPECT_EQ(fs::file_size(dir / "out" / "DIR1" / "Copy (1 ) of F7.TXT"), 5u);
    EXPECT_EQ(filesUnder(dir / "out"), 306u);
}

// A large file first, then files of one block at most (copied ahead while
// the large one is written), every tenth of them larger (made ahead only).
class CopyAheadTest : public RecoveryWriterTest {
protected:
    void SetUp() override
    {
        ib::VolumeContents c;
        c.nodes = {ib::fileNode("BIG.BIN", 6 * kMiB + 100)};
        for (int f = 0; f < 3; ++f) {
            ib::Node folder = ib::folderNode("DIR" + std::to_string(f));
            for (int i = 0; i < 100; ++i) {
                ib::Node file = ib::fileNode("F" + std::to_string(i) + ".TXT", i % 10 == 9 ? 9000 : (i * 397) % 4097);
                if (i % 3 == 0)
                    file.dateTime = ib::packDateTime(1990 + i % 20, 1 + i % 12, 1 + i % 28, i % 24, i % 60, 0);
                folder.children.push_back(file);
            }
            c.nodes.push_back(folder);
        }
        buildAndMount(c);
    }

    // The entry of folder/name.
    const ib::ManifestEntry& entryIn(const std::string& folder, const std::string& name)
    {
        const ib::ManifestEntry* parent = built.manifest->find(folder);
        EXPECT_TRUE(parent);
        const auto& entries = built.manifest->entries;
        const auto found = std::find_if(entries.begin(), entries.end(), [&](const ib::ManifestEntry& e) {
            return parent && e.name == name && e.parentId == parent->ownId;
        });
        EXPECT_NE(found, entries.end()) << folder << "/" << name;
        return *found;
    }
};

// Waits (a generous while at most) until the file is there with its size:
// copied ahead of the run. False when it never is.
bool waitForFile(const fs::path& path, std::uintmax_t size)
{
    for (int i = 0; i < 20000; ++i) {
        std::error_code error;
        if (fs::file_size(path, error) == size && !error)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST_F(CopyAheadTest, SmallFilesCopiedWhileALargeOneIsWrittenComeOutAsTheDirectCopyMakesThem)
{
    // BIG.BIN's copy waits until the last small file has been copied ahead;
    // a skip asked as each F20.TXT starts must still cut it as it cuts the
    // direct copy (to nothing).
    const fs::path last = dir / "out" / "DIR2" / "F98.TXT";
    const std::uintmax_t lastSize = entryIn("DIR2", "F98.TXT").size;
    bool copiedAhead = false;
    recorder.onProgress = [&](RecoveryRunState& run, const std::string& name, int percent) {
        if (name == "BIG.BIN" && percent >= 50 && !copiedAhead)
            copiedAhead = waitForFile(last, lastSize);
        if (name == "F20.TXT" && percent == 0)
            run.skipCurrentFile = true;
    };
    const RecoveryReport report = recoverAll();
    EXPECT_TRUE(copiedAhead);
    EXPECT_EQ(report.filesWritten, 298u);
    EXPECT_EQ(report.skippedByUser, 3u);
    ASSERT_EQ(recorder.finished.size(), 301u);
    expectRunAsDirect(report);
    EXPECT_EQ(fs::file_size(dir / "out" / "DIR1" / "F20.TXT"), 0u);

    // Stopped while the large file is written: what was copied ahead goes,
    // the folders made for it too; the partial large file alone stays.
    fs::remove_all(dir / "out");
    recorder = Recorder();
    copiedAhead = false;
    recorder.onProgress = [&](RecoveryRunState& run, const std::string& name, int percent) {
        if (name == "BIG.BIN" && percent >= 40 && !copiedAhead) {
            copiedAhead = waitForFile(last, lastSize);
            run.recoveryAborted = true;
        }
    };
    const RecoveryReport stopped = recoverAll();
    EXPECT_TRUE(copiedAhead);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.filesWritten, 0u);
    EXPECT_EQ(stopped.skippedByUser, 1u);
    EXPECT_EQ(stopped.notStarted, 300u);
    EXPECT_EQ(filesUnder(dir / "out"), 1u);
    EXPECT_FALSE(fs::exists(dir / "out" / "DIR0"));
}

TEST_F(CopyAheadTest, ASmallFileAheadThatReadsBadlyIsLeftToTheRunWhichRetriesIt)
{
    // The sector fails twice: the read ahead meets it once and must not keep
    // what it got; the run's own read then fails and its retry succeeds.
    const ib::ManifestEntry& entry = entryIn("DIR1", "F50.TXT");
    const std::uint64_t bad = built.manifest->blockSector(entry.dataBlocks[0]) + 1;
    auto device = std::make_unique<test::FaultyDevice>(FileDevice::open(built.imagePath));
    test::FaultyDevice& faulty = *device;
    faulty.markBad(bad, 2);
    session.reader.attach(std::move(device));
    bool metAhead = false;
    recorder.onProgress = [&](RecoveryRunState&, const std::string& name, int percent) {
        for (int i = 0; name == "BIG.BIN" && percent >= 50 && !metAhead && i < 20000; ++i) {
            metAhead = faulty.attempts(bad) > 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    const RecoveryReport report = recoverAll();
    EXPECT_TRUE(metAhead);
    EXPECT_EQ(report.filesWritten, 301u);
    EXPECT_EQ(report.incomplete, 0u);
    EXPECT_TRUE(report.problems.empty());
    EXPECT_EQ(readFile(dir / "out" / "DIR1" / "F50.TXT"), ib::expectedData(entry));
    EXPECT_EQ(faulty.attempts(bad), 3u);
    for (const auto& [node, result] : recorder.finished)
        expectAsDirect(*node, result, node->name + ".direct");
}

// A volume of suballocated files only: 400 fragments of size class 3 in
// 4 KiB blocks (every third one crossing into the next block), so that their
// chain runs over 150 blocks.
class SuballocatedRunTest : public RecoveryWriterTest {
protected:
    static constexpr int kFiles = 400;
    static constexpr std::uint32_t kClass = 3;

    void SetUp() override
    {
        ib::VolumeContents c;
        for (int f = 0; f < 4; ++f) {
            ib::Node folder = ib::folderNode("DIR" + std::to_string(f));
            for (int i = 0; i < kFiles / 4; ++i) {
                ib::Node file = ib::fileNode("F" + std::to_string(f * 1000 + i) + ".TXT", 1000 + 5 * i);
                file.storage = ib::Storage::FragmentOnly;
                file.sizeClass = kClass;
                folder.children.push_back(file);
            }
            c.nodes.push_back(folder);
        }
        buildAndMount(c);
    }

    // The disk sector holding block's entry in FAT copy `copy`.
    std::uint64_t fatEntrySector(int copy, std::uint32_t block) const
    {
        const std::uint64_t byte = std::uint64_t{block} * 8;
        const std::uint64_t blockBytes = 8 * kSectorSize;
        return built.manifest->blockSector(built.manifest->fat[copy].blocks[byte / blockBytes])
            + byte % blockBytes / kSectorSize;
    }

    const std::vector<std::uint32_t>& chainBlocks() const
    {
        for (const auto& [sizeClass, chain] : built.manifest->suballocationChains)
            if (sizeClass == kClass)
                return chain.blocks;
        ADD_FAILURE() << "no chain of class " << kClass;
        static const std::vector<std::uint32_t> none;
        return none;
    }
};

TEST_F(SuballocatedRunTest, TheChainIsFollowedForTheRunNotAgainForEveryFile)
{
    std::set<std::uint64_t> fatSectors;
    for (int copy = 0; copy < 2; ++copy)
        for (std::uint32_t block : built.manifest->fat[copy].blocks)
            for (std::uint64_t s = 0; s < 8; ++s)
                fatSectors.insert(built.manifest->blockSector(block) + s);
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(built.imagePath));
    unsigned fatReads = 0;
    faulty->onRead([&](std::uint64_t first, std::uint64_t count) {
        for (std::uint64_t s = first; s < first + count; ++s)
            if (fatSectors.contains(s)) {
                ++fatReads;
                break;
            }
    });
    session.reader.attach(std::move(faulty));
    ASSERT_EQ(chainBlocks().size(), 150u);

    const RecoveryReport report = recoverAll();
    EXPECT_EQ(report.filesWritten, static_cast<std::uint64_t>(kFiles));
    EXPECT_TRUE(report.problems.empty());
    for (const auto& [node, result] : recorder.finished)
        EXPECT_EQ(readFile(result.path), ib::expectedData(*built.manifest->find(node->name))) << result.path;
    // Following the chain from its root for each file read a FAT sector per file at least.
    EXPECT_LT(fatReads, 40u);
}

TEST_F(SuballocatedRunTest, TheFragmentsOfFilesAheadAreAskedForFromTheDisk)
{
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(built.imagePath));
    std::set<std::uint64_t> hinted;
    faulty->onPrefetch([&](std::uint64_t first, std::uint64_t count) {
        for (std::uint64_t s = first; s < first + count; ++s)
            hinted.insert(s);
    });
    session.reader.attach(std::move(faulty));
    EXPECT_EQ(recoverAll().filesWritten, static_cast<std::uint64_t>(kFiles));

    // Each fragment's sectors as far as its size goes: from its place in its
    // block, into the next block of the chain for those that cross the end.
    std::set<std::uint64_t> fragments;
    for (const TreeNode& node : session.mounted.files) {
        const ib::ManifestEntry& entry = *built.manifest->find(node.name);
        ASSERT_NE(entry.fragment, 0u) << node.name;
        const std::uint64_t start = kClass * std::uint64_t{entry.fragment & 0xFFFFFF};
        const std::uint64_t sectors = (entry.size + kSectorSize - 1) / kSectorSize;
        for (std::uint64_t s = start; s < start + sectors; ++s)
            fragments.insert(built.manifest->blockSector(chainBlocks().at(s / 8)) + s % 8);
    }
    EXPECT_EQ(hinted, fragments);
}

TEST_F(SuballocatedRunTest, AChainThroughAnUnreadableFatSectorEndsForEachFileAsItsOwnCopyEndsIt)
{
    // Both copies of the FAT sector holding the entry of the chain's 100th
    // block fail: the files past it lose their fragments, as they do when
    // each is copied alone.
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(built.imagePath));
    for (int copy = 0; copy < 2; ++copy)
        faulty->markBad(fatEntrySector(copy, chainBlocks().at(100)));
    session.reader.attach(std::move(faulty));

    const RecoveryReport report = recoverAll();
    ASSERT_EQ(recorder.finished.size(), static_cast<std::size_t>(kFiles));
    std::size_t lost = 0;
    for (std::size_t i = 0; i < recorder.finished.size(); ++i) {
        const auto& [node, result] = recorder.finished[i];
        lost += result.fatLost ? 1 : 0;
        expectAsDirect(*node, result, std::to_string(i));
    }
    EXPECT_GT(lost, 0u);
    EXPECT_LT(lost, static_cast<std::size_t>(kFiles));
    EXPECT_GT(report.incomplete, 0u);
}

TEST(FileWriter, AFailedPieceDropsThoseAfterItUntilTakenAndFilesCloseWithTheirTime)
{
    test::TempDir dir;
    FileWriter writer(4);  // small: write() waits for the writer
    const timespec when{946684800, 0};
    // A failed piece: the pieces after it are dropped until the failure is
    // taken, whichever file they are for.
    FileDescriptor full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    FileDescriptor good(::open((dir / "good").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ASSERT_TRUE(full.valid() && good.valid());
    writer.write(good.get(), {1, 2});
    const std::uint64_t failing = writer.write(full.get(), {3});
    const std::uint64_t dropped = writer.write(good.get(), {4});
    const FileWriter::Status status = writer.status(dropped);
    EXPECT_EQ(status.failedPiece, failing);
    EXPECT_EQ(status.error, ENOSPC);
    writer.clearFailure();
    writer.write(good.get(), {5});
    writer.finish(std::move(good), when);
    writer.drain();
    EXPECT_EQ(writer.status().failedPiece, 0u);
    EXPECT_EQ(readFile(dir / "good"), (std::vector<std::uint8_t>{1, 2, 5}));
    EXPECT_EQ(modified(dir / "good").tv_sec, when.tv_sec);
}

TEST(FileWriter, AFailedCloseIsKeptWithItsPathUntilTaken)
{
    test::TempDir dir;
    FileWriter writer;
    FileDescriptor good(::open((dir / "good").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    const int gone = ::open((dir / "gone").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_TRUE(good.valid() && gone >= 0);
    ::close(gone);  // the writer's close of it fails
    // A failure of a file closed on another thread takes its place among them.
    writer.closedElsewhere("before", EIO);
    writer.finish(std::move(good), std::nullopt, "good");
    writer.finish(FileDescriptor(gone), std::nullopt, "gone");
    writer.closedElsewhere("after", EDQUOT);
    writer.drain();
    const auto failures = writer.takeCloseFailures();
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[0].path, "before");
    EXPECT_EQ(failures[0].error, EIO);
    EXPECT_EQ(failures[1].path, "gone");
    EXPECT_EQ(failures[1].error, EBADF);
    EXPECT_EQ(failures[2].path, "after");
    EXPECT_EQ(failures[2].error, EDQUOT);
    EXPECT_TRUE(writer.takeCloseFailures().empty());
}

TEST(FileWriter, FilesQueuedForFinishingAreClosedOnDrainOrAtTheEndHoweverFew)
{
    // The writer is woken for finishing jobs in batches: fewer than a batch,
    // a batch, and more than may wait at once must all be done by drain()
    // and by the writer's end, with their times.
    for (const std::size_t count : {std::size_t{1}, FileWriter::kFinishBatch - 1, FileWriter::kFinishBatch,
                                    FileWriter::kMaxPendingFiles + 5}) {
        for (const bool drain : {true, false}) {
            SCOPED_TRACE(testing::Message() << count << " files, " << (drain ? "drained" : "writer ended"));
            test::TempDir dir;
            {
                FileWriter writer;
                for (std::size_t i = 0; i < count; ++i) {
                    FileDescriptor fd(::open((dir / std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
                    ASSERT_TRUE(fd.valid());
                    writer.finish(std::move(fd), timespec{static_cast<time_t>(946684800 + i), 0});
                }
                if (drain)
                    writer.drain();
                EXPECT_EQ(writer.status().done, 0u);  // no pieces: answers at once
            }
            for (std::size_t i = 0; i < count; ++i)
                ASSERT_EQ(modified(dir / std::to_string(i)).tv_sec, static_cast<time_t>(946684800 + i)) << i;
        }
    }
}

TEST(FileWriter, PagesFarBehindTheEndOfALargeFileLeaveThePageCacheAndItsBytesStay)
{
    test::TempDir dir;
    struct statfs fsInfo {};
    ASSERT_EQ(::statfs(dir.path().c_str(), &fsInfo), 0);
    // tmpfs keeps every page in memory; overlayfs waits for no writeback
    // through its own files, so pages are still dirty when dropped.
    if (fsInfo.f_type == TMPFS_MAGIC || fsInfo.f_type == OVERLAYFS_SUPER_MAGIC)
        GTEST_SKIP() << "the temporary folder's file system keeps the pages";
    // Pieces of an odd size, so that the steps dropped fall inside pieces.
    constexpr std::size_t kPiece = 1'000'003;
    constexpr std::size_t kPieces = 20;
    const fs::path path = dir.path() / "large";
    std::vector<std::uint8_t> want;
    {
        FileWriter writer;
        FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_TRUE(fd.valid());
        for (std::size_t i = 0; i < kPieces; ++i) {
            std::vector<std::uint8_t> piece(kPiece);
            for (std::size_t j = 0; j < kPiece; ++j)
                piece[j] = static_cast<std::uint8_t>((i * 131 + j * 7) >> 3);
            want.insert(want.end(), piece.begin(), piece.end());
            writer.write(fd.get(), std::move(piece));
        }
        writer.finish(std::move(fd), std::nullopt);
        writer.drain();
    }
    // Every whole step behind the lag is out of the page cache.
    const auto end = static_cast<std::int64_t>(want.size());
    const std::size_t dropped = static_cast<std::size_t>((end - FileWriter::kDropLag) / FileWriter::kDropStep
                                                         * FileWriter::kDropStep);
    ASSERT_GT(dropped, 0u);
    {
        FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(fd.valid());
        void* map = ::mmap(nullptr, dropped, PROT_READ, MAP_SHARED, fd.get(), 0);
        ASSERT_NE(map, MAP_FAILED);
        const std::size_t pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        std::vector<unsigned char> resident(dropped / pageSize);
        ASSERT_EQ(::mincore(map, dropped, resident.data()), 0);
        ::munmap(map, dropped);
        EXPECT_EQ(std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return (r & 1) != 0; }), 0);
    }
    EXPECT_EQ(readFile(path), want);
}

} // namespace
} // namespace tamsin
