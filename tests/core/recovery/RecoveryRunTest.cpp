// Recovery runs over builder-made volumes: structure, selection rules, report.

#include "recovery/RecoveryRun.h"

#include "disk/FileDevice.h"
#include "mount/Mount.h"

#include "FaultyDevice.h"
#include "SampleVolumes.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

namespace tamsin {
namespace {

namespace ib = imagebuilder;
namespace fs = std::filesystem;

std::vector<std::uint8_t> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Finished : RecoveryRunObserver {
    std::vector<std::string> names;
    void fileFinished(const TreeNode& node, const ExtractResult&) override { names.push_back(node.name); }
};

class RecoveryRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        built = test::buildVolume(dir / "disk.img", test::recoveryTree(), 8);
        ASSERT_TRUE(built.manifest);
        test::openAndSelect(session, built.imagePath);
        test::RecordingMountObserver observer;
        ASSERT_EQ(mountVolume(session.mounted, session.reader, observer), MountResult::Completed);
    }

    RecoveryReport recover(const RecoverySelection& selection)
    {
        return runRecovery(session.mounted, session.reader, session.settings.rules(), session.recovery, finished, selection,
                           (dir / "out").string(), [](const std::string& raw) { return raw; });
    }

    std::vector<std::uint8_t> expected(const std::string& name) { return ib::expectedData(*built.manifest->find(name)); }

    test::TempDir dir;
    Session session;
    test::BuiltVolume built;
    Finished finished;
};

TEST_F(RecoveryRunTest, WholeVolumeRecreatesTheTreeWithIdenticalFilesAndSafeNames)
{
    const auto imageBefore = readFile(built.imagePath);
    RecoverySelection all;
    all.wholeVolume = true;
    const RecoveryReport report = recover(all);

    const fs::path out = dir / "out";
    EXPECT_EQ(readFile(out / "USERS" / "ANN" / "CV.DOC"), expected("CV.DOC"));
    EXPECT_EQ(readFile(out / "USERS" / "LIST.TXT"), expected("LIST.TXT"));
    EXPECT_EQ(readFile(out / "GONE.TXT"), expected("GONE.TXT"));
    EXPECT_EQ(readFile(out / "TOP.TXT"), expected("TOP.TXT"));
    EXPECT_EQ(readFile(out / "__"), expected(".."));
    EXPECT_EQ(readFile(out / "A_B.TXT"), expected("A/B.TXT"));
    // The folder ".." meets the file already written as "__" and moves aside.
    EXPECT_EQ(readFile(out / "Copy (1 ) of __" / "IN.TXT"), expected("IN.TXT"));
    EXPECT_FALSE(fs::exists(dir / "IN.TXT"));
    EXPECT_FALSE(fs::exists(out / "A"));

    EXPECT_EQ(report.filesWritten, 7u);
    EXPECT_EQ(report.failed, 0u);
    EXPECT_EQ(report.incomplete, 0u);
    EXPECT_FALSE(report.stopped);
    EXPECT_TRUE(session.recovery.recoveryFinished);
    EXPECT_EQ(readFile(built.imagePath), imageBefore);  // the disk is only read
}

TEST_F(RecoveryRunTest, DeletedFilesRuleAndFolderSelection)
{
    ASSERT_TRUE(session.settings.setDeletedFilesAction(2));  // only deleted
    RecoverySelection all;
    all.wholeVolume = true;
    RecoveryReport report = recover(all);
    EXPECT_EQ(report.filesWritten, 1u);
    EXPECT_EQ(report.skippedDeleted, 6u);
    EXPECT_EQ(finished.names, std::vector<std::string>{"GONE.TXT"});

    // A folder means its subtree, under its path from the root; a file selected
    // twice (alone and through its folder) is copied once.
    ASSERT_TRUE(session.settings.setDeletedFilesAction(1));
    finished.names.clear();
    RecoverySelection some;
    const TreeNode* users = nullptr;
    for (const auto& folder : session.mounted.folders)
        if (folder.name == "USERS")
            users = &folder;
    ASSERT_TRUE(users);
    some.folderItems = {users->treeItem};
    for (std::uint32_t i = 0; i < session.mounted.fileCount(); ++i)
        if (session.mounted.files[i].name == "LIST.TXT")
            some.files.push_back(i);
    ASSERT_TRUE(session.settings.setDuplicateAction(2));  // overwrite what the first run wrote
    report = recover(some);
    EXPECT_EQ(report.filesWritten, 2u);
    EXPECT_EQ(finished.names, (std::vector<std::string>{"LIST.TXT", "CV.DOC"}));
    EXPECT_TRUE(fs::exists(dir / "out" / "USERS" / "ANN" / "CV.DOC"));

    // A folder's own files leave its subfolders out, and count once with the
    // same file named again.
    finished.names.clear();
    RecoverySelection own;
    own.folderFiles = {users->treeItem, users->treeItem};
    own.files = some.files;
    report = recover(own);
    EXPECT_EQ(report.filesWritten, 1u);
    EXPECT_EQ(finished.names, std::vector<std::string>{"LIST.TXT"});
}

TEST_F(RecoveryRunTest, FilesAheadAreAskedForFromTheDiskAtOnceAndOnlyTheSectorsTheCopyReads)
{
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(built.imagePath));
    std::set<std::uint64_t> hinted;
    std::set<std::uint64_t> read;
    bool hintAfterARead = false;
    faulty->onPrefetch([&](std::uint64_t first, std::uint64_t count) {
        for (std::uint64_t s = first; s < first + count; ++s) {
            hinted.insert(s);
            hintAfterARead = hintAfterARead || read.contains(s);
        }
    });
    faulty->onRead([&](std::uint64_t first, std::uint64_t count) {
        for (std::uint64_t s = first; s < first + count; ++s)
            read.insert(s);
    });
    session.reader.attach(std::move(faulty));
    ASSERT_TRUE(session.settings.setDeletedFilesAction(3));  // deleted files left out

    RecoverySelection all;
    all.wholeVolume = true;
    const RecoveryReport report = recover(all);
    EXPECT_EQ(report.filesWritten, 6u);
    EXPECT_EQ(readFile(dir / "out" / "USERS" / "ANN" / "CV.DOC"), expected("CV.DOC"));

    // Of each file taken, the sectors of its first block that its size takes
    // (CV.DOC has two blocks: its first whole); nothing of GONE.TXT.
    std::set<std::uint64_t> firstData;
    for (const char* name : {"CV.DOC", "LIST.TXT", "..", "A/B.TXT", "IN.TXT", "TOP.TXT"}) {
        const ib::ManifestEntry& entry = *built.manifest->find(name);
        ASSERT_FALSE(entry.dataBlocks.empty()) << name;
        const std::uint64_t start = built.manifest->blockSector(entry.dataBlocks[0]);
        const std::uint64_t sectors = (std::min<std::uint64_t>(entry.size, 8 * kSectorSize) + kSectorSize - 1) / kSectorSize;
        for (std::uint64_t s = start; s < start + sectors; ++s)
            firstData.insert(s);
    }
    EXPECT_EQ(hinted, firstData);
    // Asked for before the copy read any of them, and all read by the copy.
    EXPECT_FALSE(hintAfterARead);
    EXPECT_TRUE(std::includes(read.begin(), read.end(), hinted.begin(), hinted.end()));
}

TEST_F(RecoveryRunTest, StopEndsTheRunAndTheReportSaysSo)
{
    struct Stopper : Finished {
        RecoveryRunState* run = nullptr;
        void fileFinished(const TreeNode& node, const ExtractResult& result) override
        {
            Finished::fileFinished(node, result);
            run->recoveryAborted = true;
        }
    } stopper;
    stopper.run = &session.recovery;
    RecoverySelection all;
    all.wholeVolume = true;
    const RecoveryReport report = runRecovery(session.mounted, session.reader, session.settings.rules(), session.recovery,
                                              stopper, all, (dir / "out").string(),
                                              [](const std::string& raw) { return raw; });
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.filesWritten, 1u);
    EXPECT_EQ(report.notStarted, 6u);
    // Nothing made for the files not started stays behind: the one file
    // written and the folders on its way.
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "out")) {
        files += entry.is_regular_file() ? 1 : 0;
        if (entry.is_directory()) {
            EXPECT_FALSE(fs::is_empty(entry.path())) << entry.path();
        }
    }
    EXPECT_EQ(files, 1u);
}

TEST_F(RecoveryRunTest, AFolderLinkInTheDestinationIsNeverWrittenThrough)
{
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "out" / "USERS");
    RecoverySelection all;
    all.wholeVolume = true;
    const RecoveryReport report = recover(all);
    EXPECT_EQ(report.failed, 0u);
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_EQ(readFile(dir / "out" / "Copy (1 ) of USERS" / "ANN" / "CV.DOC"), expected("CV.DOC"));
}

TEST_F(RecoveryRunTest, DestinationThatIsAFileFailsEveryFile)
{
    std::ofstream(dir / "out") << "not a folder";
    RecoverySelection all;
    all.wholeVolume = true;
    const RecoveryReport report = recover(all);
    EXPECT_EQ(report.filesWritten, 0u);
    EXPECT_EQ(report.failed, 7u);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0].kind, ProblemKind::NotAFolder);
}

// Entries whose destination names are the same: a deleted file and the live
// one of its name, names made safe, folders made safe. Whatever the duplicate
// rule, a run never overwrites nor skips a file or folder it made itself: the
// later one takes the first "Copy (n ) of" name the run has not used, and the
// rule applies to that name.
class CollidingNamesTest : public ::testing::Test {
protected:
    static std::vector<std::uint8_t> bytes(std::size_t size, std::uint8_t fill)
    {
        return std::vector<std::uint8_t>(size, fill);
    }

    void SetUp() override
    {
        ib::VolumeContents c;
        ib::Node old = ib::fileNode("REPORT.DOC", bytes(2000, 'o'));
        old.deletedMarker = 1;
        c.nodes = {ib::fileNode("REPORT.DOC", bytes(3000, 'n')),
                   old,
                   ib::fileNode("A/B.TXT", bytes(40, 's')),
                   ib::fileNode("A_B.TXT", bytes(50, 'u')),
                   ib::folderNode("D/E", {ib::fileNode("F.TXT", bytes(60, '1'))}),
                   ib::folderNode("D_E", {ib::fileNode("F.TXT", bytes(70, '2'))})};
        built = test::buildVolume(dir / "disk.img", c, 8);
        ASSERT_TRUE(built.manifest);
        test::openAndSelect(session, built.imagePath);
        test::RecordingMountObserver observer;
        ASSERT_EQ(mountVolume(session.mounted, session.reader, observer), MountResult::Completed);
    }

    RecoveryReport recover()
    {
        RecoverySelection all;
        all.wholeVolume = true;
        return runRecovery(session.mounted, session.reader, session.settings.rules(), session.recovery, finished, all,
                           (dir / "out").string(), [](const std::string& raw) { return raw; });
    }

    // "<size> x <byte>" for a file of one repeated byte, else what it is.
    static std::string describe(const fs::path& path)
    {
        if (!fs::is_regular_file(path))
            return "no file " + path.filename().string();
        const auto data = readFile(path);
        if (data.empty() || std::count(data.begin(), data.end(), data.front()) != std::ptrdiff_t(data.size()))
            return "mixed " + std::to_string(data.size());
        return std::to_string(data.size()) + " x " + static_cast<char>(data.front());
    }

    // Every file of the volume is in out, once, with its own bytes.
    void expectEveryFile()
    {
        using Set = std::multiset<std::string>;
        const fs::path out = dir / "out";
        EXPECT_EQ((Set{describe(out / "REPORT.DOC"), describe(out / "Copy (1 ) of REPORT.DOC")}),
                  (Set{"3000 x n", "2000 x o"}));
        EXPECT_EQ((Set{describe(out / "A_B.TXT"), describe(out / "Copy (1 ) of A_B.TXT")}), (Set{"40 x s", "50 x u"}));
        // Folders of one destination path are one folder, and its names are taken once.
        EXPECT_EQ((Set{describe(out / "D_E" / "F.TXT"), describe(out / "D_E" / "Copy (1 ) of F.TXT")}),
                  (Set{"60 x 1", "70 x 2"}));
        EXPECT_FALSE(fs::exists(out / "Copy (1 ) of D_E"));
    }

    test::TempDir dir;
    Session session;
    test::BuiltVolume built;
    Finished finished;
};

TEST_F(CollidingNamesTest, NoRuleLetsARunOverwriteOrSkipWhatItWroteItself)
{
    for (std::uint16_t rule : {1, 2, 3}) {  // rename, overwrite, skip
        SCOPED_TRACE(rule);
        fs::remove_all(dir / "out");
        ASSERT_TRUE(session.settings.setDuplicateAction(rule));
        const RecoveryReport report = recover();
        EXPECT_EQ(report.filesWritten, 6u);
        EXPECT_EQ(report.skippedDuplicates, 0u);
        EXPECT_EQ(report.failed, 0u);
        expectEveryFile();
    }

    // A second run into the same folder: its rule meets the first run's files.
    ASSERT_TRUE(session.settings.setDuplicateAction(3));
    RecoveryReport report = recover();
    EXPECT_EQ(report.filesWritten, 0u);
    EXPECT_EQ(report.skippedDuplicates, 6u);
    ASSERT_TRUE(session.settings.setDuplicateAction(2));
    report = recover();
    EXPECT_EQ(report.filesWritten, 6u);
    expectEveryFile();
    EXPECT_FALSE(fs::exists(dir / "out" / "Copy (2 ) of REPORT.DOC"));
}

// A live and a deleted folder OLDDATA recover into one OLDDATA, whichever
// entries the deleted-files rule takes; a name taken there is renamed.
TEST(SameNameFolders, RecoverIntoOneFolder)
{
    test::TempDir dir;
    Session session;
    const test::BuiltVolume built = test::buildVolume(dir / "disk.img", test::sameNameFolders(), 8);
    test::openAndSelect(session, built.imagePath);
    test::RecordingMountObserver observer;
    ASSERT_EQ(mountVolume(session.mounted, session.reader, observer), MountResult::Completed);

    using Names = std::map<std::string, std::uintmax_t>;  // name in OLDDATA -> size
    const std::pair<std::uint16_t, Names> cases[] = {
        {1, {{"A.TXT", 100}, {"NOTES.TXT", 200}, {"Copy (1 ) of NOTES.TXT", 300}, {"B.TXT", 400}}},  // include
        {2, {{"NOTES.TXT", 300}, {"B.TXT", 400}}},                                                   // only deleted
        {3, {{"A.TXT", 100}, {"NOTES.TXT", 200}}},                                                   // exclude
    };
    for (const auto& [rule, expected] : cases) {
        SCOPED_TRACE(rule);
        const fs::path out = dir / ("out" + std::to_string(rule));
        ASSERT_TRUE(session.settings.setDeletedFilesAction(rule));
        RecoverySelection all;
        all.wholeVolume = true;
        Finished finished;
        runRecovery(session.mounted, session.reader, session.settings.rules(), session.recovery, finished, all, out.string(),
                    [](const std::string& raw) { return raw; });
        std::vector<std::string> top;
        for (const auto& entry : fs::directory_iterator(out))
            top.push_back(entry.path().filename().string());
        EXPECT_EQ(top, std::vector<std::string>{"OLDDATA"});
        Names inside;
        for (const auto& entry : fs::directory_iterator(out / "OLDDATA"))
            inside[entry.path().filename().string()] = entry.file_size();
        EXPECT_EQ(inside, expected);
    }
}

} // namespace
} // namespace tamsin
