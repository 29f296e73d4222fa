// Extraction of single files from builder-made volumes.

#include "recovery/CompressedFiles.h"
#include "recovery/DestinationNames.h"
#include "recovery/Extraction.h"
#include "recovery/DestinationFile.h"
#include "recovery/FileCopier.h"
#include "recovery/FileWriter.h"

#include "disk/FileDevice.h"
#include "mount/Mount.h"

#include "FaultyDevice.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tamsin {
namespace {

namespace ib = imagebuilder;

std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Notices : ExtractionObserver {
    std::vector<ExtractNotice> notices;
    std::vector<std::string> createErrors;
    std::function<void(int)> onProgress;
    bool answer = true;
    void notice(ExtractNotice notice) override { notices.push_back(notice); }
    bool continueAfterCreateError(const std::string& path) override
    {
        createErrors.push_back(path);
        return answer;
    }
    void fileProgress(int percent) override
    {
        if (onProgress)
            onProgress(percent);
    }
};

class ExtractionTest : public ::testing::Test {
protected:
    void build(ib::VolumeContents contents)
    {
        built = test::buildAndMount(session, dir / "disk.img", std::move(contents));
        ASSERT_TRUE(built.manifest);
        std::filesystem::create_directory(out());
    }

    std::string out() const { return (dir / "out").string(); }

    const TreeNode& file(const std::string& name) { return test::fileNamed(session.mounted, name); }

    ExtractResult extract(const std::string& name, ExtractMode mode = ExtractMode::Recovery,
                          DuplicateAction duplicates = DuplicateAction::Rename, const std::string& folder = {})
    {
        const TreeNode& node = file(name);
        ExtractRequest request = extractRequestFor(node, folder.empty() ? out() : folder, name, mode);
        request.duplicates = duplicates;
        return extractFile(session.mounted, session.reader, run, notices, request);
    }

    std::vector<std::uint8_t> expected(const std::string& name) { return ib::expectedData(*built.manifest->find(name)); }

    test::TempDir dir;
    Session session;
    test::BuiltVolume built;
    RecoveryRunState run;
    Notices notices;
};

TEST_F(ExtractionTest, BlockChainsTailsAndFragmentsComeOutByteForByte)
{
    ib::VolumeContents c;
    ib::Node tail = ib::fileNode("TAIL.TXT", 5000);  // 4096 from its block, 904 from a fragment
    tail.storage = ib::Storage::SuballocationTail;
    ib::Node spread = ib::fileNode("SPREAD.BIN", 3 * 4096 + 17);
    spread.chain.order = ib::BlockOrder::Reverse;
    std::vector<ib::Node> fragments;
    for (int i = 0; i < 2; ++i) {  // class 7: the second starts at the last sector of its block
        ib::Node f = ib::fileNode("FRAG" + std::to_string(i) + ".TXT", 7 * 512 - 100);
        f.storage = ib::Storage::FragmentOnly;
        f.sizeClass = 7;
        fragments.push_back(f);
    }
    c.nodes = {ib::fileNode("ODD.BIN", 4097), tail, spread, fragments[0], fragments[1], ib::fileNode("EMPTY.TXT", 0)};
    build(c);

    for (const char* name : {"ODD.BIN", "TAIL.TXT", "SPREAD.BIN", "FRAG0.TXT", "FRAG1.TXT", "EMPTY.TXT"}) {
        const ExtractResult result = extract(name);
        EXPECT_TRUE(result.written()) << name;
        EXPECT_FALSE(result.incomplete()) << name;
        EXPECT_EQ(readFile(result.path), expected(name)) << name;
    }
    EXPECT_EQ(run.filesStarted, 6u);
}

TEST_F(ExtractionTest, ModificationTimeComesFromAValidEntryDate)
{
    ib::VolumeContents c;
    ib::Node dated = ib::fileNode("DATED.TXT", 10);
    dated.dateTime = ib::packDateTime(1998, 3, 7, 13, 5, 42);
    ib::Node invalid = ib::fileNode("BADDATE.TXT", 10);
    invalid.dateTime = ib::packDateTime(1998, 13, 7, 13, 5, 42);  // month 13
    c.nodes = {dated, invalid};
    build(c);

    struct stat st {};
    ASSERT_EQ(::stat(extract("DATED.TXT").path.c_str(), &st), 0);
    std::tm tm{};
    const std::time_t t = st.st_mtime;
    localtime_r(&t, &tm);
    EXPECT_EQ(tm.tm_year, 98);
    EXPECT_EQ(tm.tm_mon, 2);
    EXPECT_EQ(tm.tm_mday, 7);
    EXPECT_EQ(tm.tm_hour, 13);
    EXPECT_EQ(tm.tm_sec, 42);
    ASSERT_EQ(::stat(extract("BADDATE.TXT").path.c_str(), &st), 0);
    EXPECT_GT(st.st_mtime, t + 10 * 365 * 86400);  // left at the time of writing
}

TEST_F(ExtractionTest, ModificationStampWinsOverTheCreationStampWhenValid)
{
    ib::VolumeContents c;
    ib::Node edited = ib::fileNode("EDITED.TXT", 10);
    edited.dateTime = ib::packDateTime(1998, 3, 7, 13, 5, 42);
    edited.modifiedDateTime = ib::packDateTime(2003, 11, 20, 8, 30, 0);
    ib::Node damaged = ib::fileNode("DAMAGED.TXT", 10);
    damaged.dateTime = ib::packDateTime(1998, 3, 7, 13, 5, 42);
    damaged.modifiedDateTime = ib::packDateTime(2003, 2, 31, 8, 30, 0);  // 31 February
    c.nodes = {edited, damaged};
    build(c);

    auto yearOf = [&](const char* name) {
        struct stat st {};
        EXPECT_EQ(::stat(extract(name).path.c_str(), &st), 0);
        std::tm tm{};
        const std::time_t t = st.st_mtime;
        localtime_r(&t, &tm);
        return tm.tm_year + 1900;
    };
    EXPECT_EQ(yearOf("EDITED.TXT"), 2003);
    EXPECT_EQ(yearOf("DAMAGED.TXT"), 1998) << "an impossible modification stamp falls back to the creation stamp";
}

TEST_F(ExtractionTest, CompressedFilesAreWrittenAsTheirStoredStreamOrRefused)
{
    ib::VolumeContents c;
    ib::Node good = ib::fileNode("GOOD.CMP", 3000);
    good.compressed = ib::Compression{};
    good.compressed->storedLength = 1000;
    ib::Node bad = ib::fileNode("BAD.CMP", 3000);
    bad.compressed = ib::Compression{};
    bad.compressed->checkSize = 2999;
    c.nodes = {good, bad};
    build(c);

    const ExtractResult ok = extract("GOOD.CMP");
    EXPECT_TRUE(ok.written());
    const auto bytes = readFile(ok.path);
    ASSERT_EQ(bytes.size(), 1000u);
    EXPECT_EQ(bytes, expected("GOOD.CMP"));
    EXPECT_EQ(bytes[4] | bytes[5] << 8, 3000);  // the header comes first

    const ExtractResult refused = extract("BAD.CMP");
    EXPECT_EQ(refused.outcome, ExtractOutcome::ChecksumError);
    EXPECT_EQ(notices.notices, std::vector<ExtractNotice>{ExtractNotice::ChecksumError});
    EXPECT_TRUE(readFile(refused.path).empty());
}

TEST_F(ExtractionTest, CompressedHeadersAreListedForBlockAndFragmentFiles)
{
    ib::VolumeContents c;
    ib::Node inBlocks = ib::fileNode("BLOCKS.CMP", 3000);
    inBlocks.compressed = ib::Compression{};
    ib::Node inFragment = ib::fileNode("FRAGMENT.CMP", 300);
    inFragment.compressed = ib::Compression{};
    inFragment.storage = ib::Storage::FragmentOnly;
    c.nodes = {inBlocks, inFragment};
    build(c);

    const std::vector<CompressedFileInfo> listed = compressedFiles(session.mounted, session.reader);
    ASSERT_EQ(listed.size(), 2u);
    for (const CompressedFileInfo& info : listed) {
        const std::string name = session.mounted.files[info.position].name;
        EXPECT_TRUE(info.headerReadable) << name;
        EXPECT_EQ(info.checkSize, info.size) << name;
    }
}

TEST_F(ExtractionTest, DuplicateRulesAndQuietOverwrite)
{
    ib::VolumeContents c;
    c.nodes = {ib::fileNode("report.txt", 300)};
    build(c);
    std::ofstream(out() + "/report.txt") << "mine";

    ExtractResult first = extract("report.txt");
    EXPECT_EQ(first.nameUsed, "Copy (1 ) of report.txt");
    ExtractResult second = extract("report.txt");
    EXPECT_EQ(second.nameUsed, "Copy (2 ) of report.txt");
    EXPECT_EQ(readFile(second.path), expected("report.txt"));

    const ExtractResult skipped = extract("report.txt", ExtractMode::Recovery, DuplicateAction::Skip);
    EXPECT_EQ(skipped.outcome, ExtractOutcome::SkippedDuplicate);
    EXPECT_FALSE(pathExists(out() + "/Copy (3 ) of report.txt"));
    EXPECT_EQ(readFile(out() + "/report.txt"), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));

    // Quiet mode (opening a file) overwrites whatever is there; no separator is doubled.
    const ExtractResult quiet = extract("report.txt", ExtractMode::Quiet, DuplicateAction::Rename, out() + "/");
    EXPECT_EQ(quiet.path, out() + "/report.txt");
    EXPECT_EQ(readFile(quiet.path), expected("report.txt"));
    EXPECT_EQ(run.filesStarted, 2u);  // neither a skipped duplicate nor a quiet extraction counts
}

TEST_F(ExtractionTest, SkipAndStopLeaveThePartialFile)
{
    ib::VolumeContents c;
    ib::Node big = ib::fileNode("BIG.BIN", 8 << 20);
    big.chain.order = ib::BlockOrder::Interleaved;  // many runs, so flags are seen between them
    c.nodes = {big, ib::fileNode("NEXT.TXT", 10)};
    build(c);

    notices.onProgress = [&](int percent) {
        if (percent >= 10)
            run.skipCurrentFile = true;
    };
    const ExtractResult skipped = extract("BIG.BIN");
    EXPECT_EQ(skipped.outcome, ExtractOutcome::SkippedByUser);
    // The blocks read before the skip are all there (they gather into one
    // write, which the skip must not lose), and nothing after them.
    const auto partial = readFile(skipped.path);
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), 8u << 20);
    EXPECT_EQ(partial.size(), skipped.bytesWritten);
    const auto whole = expected("BIG.BIN");
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), whole.begin()));
    EXPECT_FALSE(run.skipCurrentFile);
    EXPECT_TRUE(extract("NEXT.TXT").written());

    notices.onProgress = [&](int percent) {
        if (percent >= 10)
            run.recoveryAborted = true;
    };
    const ExtractResult stopped = extract("BIG.BIN");
    EXPECT_EQ(stopped.outcome, ExtractOutcome::SkippedByUser);
    EXPECT_TRUE(pathExists(stopped.path));
    const ExtractResult after = extract("NEXT.TXT");
    EXPECT_EQ(after.outcome, ExtractOutcome::Aborted);
    EXPECT_FALSE(pathExists(out() + "/Copy (2 ) of NEXT.TXT"));

    // A destination a run made ahead for the file goes too: nothing stays of
    // a file the run did not start.
    std::filesystem::remove(out() + "/NEXT.TXT");
    FileDescriptor made = createNewFile(out() + "/NEXT.TXT");
    ASSERT_TRUE(made.valid());
    const ExtractRequest request = extractRequestFor(file("NEXT.TXT"), out(), "NEXT.TXT", ExtractMode::Recovery);
    EXPECT_EQ(extractFile(session.mounted, session.reader, run, notices, request, nullptr, std::move(made)).outcome,
              ExtractOutcome::Aborted);
    EXPECT_FALSE(pathExists(out() + "/NEXT.TXT"));
}

TEST_F(ExtractionTest, SkipAndStopEndARetryPassOverABadAreaWithinAFewSectors)
{
    ib::VolumeContents c;
    c.nodes = {ib::fileNode("BIG.BIN", 1 << 20)};
    build(c);
    const auto& entry = *built.manifest->find("BIG.BIN");
    const std::uint64_t bad = built.manifest->blockSector(entry.dataBlocks[64]);
    for (std::atomic<bool>* flag : {&run.skipCurrentFile, &run.recoveryAborted}) {
        run.reset();
        auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(built.imagePath));
        test::FaultyDevice& device = *faulty;
        device.markBadRange(bad, 128);
        device.onRead([&, flag](std::uint64_t first, std::uint64_t count) {
            if (count == 1 && first == bad + 3)
                *flag = true;
        });
        session.reader.attach(std::move(faulty));

        const ExtractResult result = extract("BIG.BIN", ExtractMode::Recovery, DuplicateAction::Overwrite);
        EXPECT_EQ(result.outcome, ExtractOutcome::SkippedByUser);
        EXPECT_LE(device.attempts(bad + 3), 2u);
        EXPECT_EQ(device.attempts(bad + 8), 1u);    // only the failed bulk read touched it
        EXPECT_EQ(device.attempts(bad + 127), 1u);
        // The read that was cut short is not written: no zeros stand in for data never read.
        EXPECT_EQ(result.unreadableSectors, 0u);
        const auto written = readFile(result.path);
        const auto want = expected("BIG.BIN");
        ASSERT_LT(written.size(), want.size());
        EXPECT_TRUE(std::equal(written.begin(), written.end(), want.begin()));
    }
}

TEST_F(ExtractionTest, UnreadableSectorsAreWrittenAsZerosAndReported)
{
    ib::VolumeContents c;
    c.nodes = {ib::fileNode("DATA.BIN", 3 * 512)};
    build(c);
    const auto& entry = *built.manifest->find("DATA.BIN");
    const std::uint64_t badSector = built.manifest->blockSector(entry.dataBlocks[0]) + 1;
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(built.imagePath));
    faulty->markBad(badSector);
    session.reader.attach(std::move(faulty));

    const ExtractResult result = extract("DATA.BIN");
    EXPECT_TRUE(result.written());
    EXPECT_TRUE(result.incomplete());
    EXPECT_EQ(result.unreadableSectors, 1u);
    auto want = expected("DATA.BIN");
    std::fill(want.begin() + 512, want.begin() + 1024, 0);
    EXPECT_EQ(readFile(result.path), want);
}

TEST_F(ExtractionTest, LoopingChainsEndAndOversizedFragmentsAreRefused)
{
    ib::VolumeContents c;
    ib::Node loop = ib::fileNode("LOOP.BIN", 6 * 4096);
    loop.chain.length = 3;
    loop.chain.loopTo = 0;  // block 3's next names block 1 again
    ib::Node tooBig = ib::fileNode("HUGE.TXT", 100);
    tooBig.storage = ib::Storage::FragmentOnly;
    c.nodes = {loop, tooBig};
    build(c);

    const ExtractResult looped = extract("LOOP.BIN");
    EXPECT_TRUE(looped.written());
    EXPECT_TRUE(looped.chainLooped);
    EXPECT_EQ(looped.bytesWritten, 3u * 4096);
    EXPECT_TRUE(looped.incomplete());

    // A fragment-only entry claiming more than a block: nothing is copied.
    session.mounted.files[1].size = 4097;
    const TreeNode& node = session.mounted.files[1];
    ExtractRequest request;
    request.destFolder = out();
    request.name = "HUGE.TXT";
    request.size = node.size;
    request.firstBlock = node.firstBlock;
    const ExtractResult refused = extractFile(session.mounted, session.reader, run, notices, request);
    EXPECT_EQ(refused.outcome, ExtractOutcome::FragmentTooLarge);
    EXPECT_TRUE(readFile(refused.path).empty());
}

TEST_F(ExtractionTest, SparseFilesReadTheirHolesAsZeros)
{
    // Each block's FAT sequence says which block of the file it holds; the
    // blocks a chain skips are holes.
    ib::VolumeContents c;
    ib::Node inner = ib::fileNode("INNER.BIN", 4 * 4096 + 100);
    inner.chain.fileBlocks = {0, 2, 4};
    ib::Node leading = ib::fileNode("LEADING.BIN", 3 * 4096);
    leading.chain.fileBlocks = {1, 2};
    ib::Node tail = ib::fileNode("TAIL.BIN", 3 * 4096 + 500);  // the fragment holds block 3
    tail.storage = ib::Storage::SuballocationTail;
    tail.chain.fileBlocks = {0, 2};
    c.nodes = {inner, leading, tail, ib::fileNode("PLAIN.BIN", 2 * 4096 + 1)};
    build(c);

    for (const char* name : {"INNER.BIN", "LEADING.BIN", "TAIL.BIN", "PLAIN.BIN"}) {
        const ExtractResult result = extract(name);
        EXPECT_TRUE(result.written()) << name;
        EXPECT_FALSE(result.incomplete()) << name;
        const std::vector<std::uint8_t> data = readFile(result.path);
        EXPECT_EQ(data, expected(name)) << name;
    }
    const std::vector<std::uint8_t> inner0 = readFile(out() + "/INNER.BIN");
    ASSERT_EQ(inner0.size(), 4u * 4096 + 100);
    EXPECT_EQ(std::count(inner0.begin() + 4096, inner0.begin() + 2 * 4096, 0), 4096) << "block 1 is a hole";
}

TEST_F(ExtractionTest, FragmentsAndMissingDataNeverLendAnotherFilesBytes)
{
    ib::VolumeContents c;
    // Two fragments of one sector each, side by side in the class-1 chain.
    ib::Node first = ib::fileNode("FIRST.TXT", 300);
    first.storage = ib::Storage::FragmentOnly;
    first.sizeClass = 1;
    ib::Node second = ib::fileNode("SECOND.TXT", 400);
    second.storage = ib::Storage::FragmentOnly;
    second.sizeClass = 1;
    // An entry naming FIRST's fragment with a size the fragment cannot hold.
    ib::Node claims = ib::fileNode("CLAIMS.TXT", 900);
    claims.firstBlock = ib::fragmentReference(1, 0);
    // An entry whose first block is 0, which holds no file's data (NetWare
    // keeps the first FAT block there).
    ib::Node zero = ib::fileNode("ZERO.TXT", 700);
    zero.firstBlock = 0;
    c.nodes = {first, second, claims, zero};
    build(c);

    const ExtractResult claimed = extract("CLAIMS.TXT");
    EXPECT_TRUE(claimed.written());
    EXPECT_TRUE(claimed.incomplete());
    const std::vector<std::uint8_t> data = readFile(claimed.path);
    ASSERT_EQ(data.size(), 512u) << "one sector of class 1, not the next fragment's bytes";
    const std::vector<std::uint8_t> firstData = expected("FIRST.TXT");
    EXPECT_TRUE(std::equal(firstData.begin(), firstData.end(), data.begin()));

    const ExtractResult zeroed = extract("ZERO.TXT");
    EXPECT_TRUE(zeroed.written());
    EXPECT_TRUE(zeroed.incomplete());
    EXPECT_TRUE(readFile(zeroed.path).empty());
    EXPECT_EQ(readFile(extract("SECOND.TXT").path), expected("SECOND.TXT"));
}

TEST_F(ExtractionTest, BlocksPastTheVolumeHaveNoFatEntryToFollow)
{
    // A block past the FAT's last block has no entry; the one found in its
    // place is another block's. Here that is the first block of SHARED.BIN.
    ib::VolumeContents c;
    c.nodes = {ib::fileNode("SHARED.BIN", 3 * 4096)};
    build(c);
    const std::uint32_t shared = built.manifest->find("SHARED.BIN")->dataBlocks.at(0);
    const std::uint32_t covered = session.mounted.chosenFatList.blockCount() * 8 * 64;
    ASSERT_LT(shared, 8u * 64) << "SHARED.BIN's entry lies in the FAT's only block";
    ASSERT_GE(covered, session.mounted.blockCount);

    ib::Node beyond = ib::fileNode("BEYOND.BIN", 3 * 4096);
    beyond.firstBlock = shared + covered;
    ib::Node tail = ib::fileNode("TAIL.BIN", 3 * 4096);
    tail.chain.length = 2;
    tail.chain.lastNext = shared + covered;  // its chain runs off the volume after two blocks
    c.nodes.push_back(beyond);
    c.nodes.push_back(tail);
    build(c);

    const ExtractResult result = extract("BEYOND.BIN");
    EXPECT_TRUE(result.written());
    EXPECT_TRUE(result.incomplete());
    EXPECT_TRUE(readFile(result.path).empty());
    const ExtractResult tailResult = extract("TAIL.BIN");
    EXPECT_TRUE(tailResult.incomplete());
    std::vector<std::uint8_t> twoBlocks = expected("TAIL.BIN");
    twoBlocks.resize(2 * 4096);
    EXPECT_EQ(readFile(tailResult.path), twoBlocks);
    EXPECT_EQ(readFile(extract("SHARED.BIN").path), expected("SHARED.BIN"));
}

TEST_F(ExtractionTest, CreationFailureAsksAndNoStopsTheRun)
{
    ib::VolumeContents c;
    c.nodes = {ib::fileNode("A.TXT", 10)};
    build(c);
    notices.answer = false;
    const ExtractResult result = extract("A.TXT", ExtractMode::Recovery, DuplicateAction::Rename, out() + "/missing");
    EXPECT_EQ(result.outcome, ExtractOutcome::CreateFailed);
    EXPECT_EQ(notices.createErrors, std::vector<std::string>{out() + "/missing/A.TXT"});
    EXPECT_TRUE(run.recoveryAborted);
}

TEST_F(ExtractionTest, LinksAndPipesInTheDestinationNeverTakeTheDataElsewhere)
{
    ib::VolumeContents c;
    c.nodes = {ib::fileNode("report.txt", 300)};
    build(c);
    const std::string elsewhere = (dir / "elsewhere.txt").string();
    const std::vector<std::uint8_t> mine{'m', 'i', 'n', 'e'};
    const std::string name = out() + "/report.txt";

    for (const bool withWriter : {false, true}) {
        SCOPED_TRACE(withWriter ? "writer" : "direct");
        FileWriter writer;
        auto overwrite = [&] {
            ExtractRequest request = extractRequestFor(file("report.txt"), out(), "report.txt", ExtractMode::Recovery);
            request.duplicates = DuplicateAction::Overwrite;
            const ExtractResult result =
                extractFile(session.mounted, session.reader, run, notices, request, withWriter ? &writer : nullptr);
            writer.drain();
            return result;
        };

        // A link to a file outside: no rule writes through it.
        std::filesystem::remove(name);
        std::ofstream(elsewhere) << "mine";
        std::filesystem::create_symlink(elsewhere, name);
        for (DuplicateAction rule : {DuplicateAction::Rename, DuplicateAction::Skip}) {
            ExtractRequest request = extractRequestFor(file("report.txt"), out(), "report.txt", ExtractMode::Recovery);
            request.duplicates = rule;
            const ExtractResult result =
                extractFile(session.mounted, session.reader, run, notices, request, withWriter ? &writer : nullptr);
            if (rule == DuplicateAction::Rename)
                EXPECT_EQ(result.nameUsed, "Copy (1 ) of report.txt");
            else
                EXPECT_EQ(result.outcome, ExtractOutcome::SkippedDuplicate);
        }
        EXPECT_EQ(overwrite().outcome, ExtractOutcome::CreateFailed);
        EXPECT_EQ(readFile(elsewhere), mine);
        EXPECT_TRUE(std::filesystem::is_symlink(name));

        // A file with a second name outside: overwriting replaces the file of
        // this name and leaves the other name's data as it was.
        std::filesystem::remove(name);
        std::filesystem::create_hard_link(elsewhere, name);
        const ExtractResult replaced = overwrite();
        EXPECT_TRUE(replaced.written());
        EXPECT_EQ(replaced.path, name);
        EXPECT_EQ(readFile(name), expected("report.txt"));
        EXPECT_EQ(readFile(elsewhere), mine);
        std::filesystem::remove(out() + "/Copy (1 ) of report.txt");

        // A pipe at the name (opened for reading, so that opening it to
        // write would not wait): overwriting makes a file, the pipe gets nothing.
        std::filesystem::remove(name);
        ASSERT_EQ(::mkfifo(name.c_str(), 0644), 0);
        const FileDescriptor reading(::open(name.c_str(), O_RDONLY | O_NONBLOCK));
        ASSERT_TRUE(reading.valid());
        const ExtractResult intoPipe = overwrite();
        EXPECT_TRUE(intoPipe.written());
        std::uint8_t byte = 0;
        EXPECT_LE(::read(reading.get(), &byte, 1), 0);
        ASSERT_TRUE(std::filesystem::is_regular_file(name));  // else reading it would wait for a writer
        EXPECT_EQ(readFile(name), expected("report.txt"));
        std::filesystem::remove(name);
    }
}

TEST(DestinationNames, NamesCannotLeaveTheirFolder)
{
    EXPECT_EQ(safeFileName("a/b"), "a_b");
    EXPECT_EQ(safeFileName("a\nb\x1b[31m\x7f\xc2\x9b.txt"), "a_b_[31m__.txt");
    EXPECT_EQ(safeFileName("caf\xc3\xa9 \xc2\xa0x"), "caf\xc3\xa9 \xc2\xa0x");  // letters and NBSP stay
    EXPECT_EQ(safeFileName(".."), "__");
    EXPECT_EQ(safeFileName("."), "_");
    EXPECT_EQ(safeFileName("..a"), "..a");
    const std::string longName(300, 'x');
    EXPECT_EQ(safeFileName(longName).size(), 255u);
    std::string accented;
    for (int i = 0; i < 200; ++i)
        accented += "\xC3\xA9";  // two-byte characters: never cut in half
    EXPECT_EQ(safeFileName(accented).size(), 254u);
    EXPECT_EQ(joinPath("/out", "a"), "/out/a");
    EXPECT_EQ(joinPath("/out/", "a"), "/out/a");
    EXPECT_EQ(duplicateName(12, "x.doc"), "Copy (12 ) of x.doc");
}

} // namespace
} // namespace tamsin
