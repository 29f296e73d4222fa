// `tamsin --access-mode F` over our own helper libraries on builder images,
// compared with native access on the same images, and its load failures on
// stand-in libraries.

#include "disk/HelperLibraries.h"
#include "imagebuilder/ImageBuilder.h"

#include "SearchSupport.h"

#include "FaultyDevice.h"
#include "RunCommand.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace tamsin {
namespace {

namespace ib = imagebuilder;
namespace fs = std::filesystem;
using test::CommandResult;

// Every regular file under root with its bytes, by relative path.
std::map<std::string, std::string> treeContents(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[fs::relative(entry.path(), root).string()] = {std::istreambuf_iterator<char>(in), {}};
    }
    return files;
}

class HelperModeCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ib::VolumeContents contents;
        contents.nodes = {ib::folderNode("DATA", {ib::fileNode("REPORT.DOC", 70000), ib::fileNode("NOTES.TXT", 900)}),
                          ib::fileNode("README.TXT", 100)};
        contents.nodes[1].deletedMarker = 1;
        built = test::buildVolume(dir / "disk.img", contents, 8);
        ASSERT_TRUE(built.manifest);
        ::unsetenv("TAMSIN_HELPER_DIR");
        ::setenv("TAMSIN_HELPER_DISKS", built.imagePath.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("TAMSIN_HELPER_DISKS");
        ::unsetenv("TAMSIN_HELPER_DIR");
    }

    CommandResult run(const std::vector<std::string>& args) { return test::runCommand(TAMSIN_BINARY, args, dir.path()); }
    CommandResult runF(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--access-mode", "F"});
        return run(args);
    }

    test::TempDir dir;
    test::BuiltVolume built;
};

TEST_F(HelperModeCliTest, ListsAndReadsTheSameAsNativeAccess)
{
    const CommandResult nativeVolumes = run({"volumes", built.imagePath});
    const CommandResult helperVolumes = runF({"volumes", "0"});
    ASSERT_EQ(helperVolumes.status, 0) << helperVolumes.err;
    EXPECT_EQ(helperVolumes.out, nativeVolumes.out);
    EXPECT_NE(helperVolumes.out.find("SYS"), std::string::npos);

    const CommandResult nativeList = run({"ls", "-r", built.imagePath, "--volume", "0"});
    const CommandResult helperList = runF({"ls", "-r", "0", "--volume", "0"});
    ASSERT_EQ(helperList.status, 0) << helperList.err;
    EXPECT_EQ(helperList.out, nativeList.out);
    EXPECT_NE(helperList.out.find("REPORT.DOC"), std::string::npos);

    // The volume search reads in runs of 8 in mode F and finds the same table.
    const CommandResult searched = runF({"volumes", "0", "--search", "--end", "8192"});
    ASSERT_EQ(searched.status, 0) << searched.err;
    EXPECT_NE(searched.out.find("SYS"), std::string::npos) << searched.out;

    ASSERT_EQ(run({"recover", built.imagePath, "--volume", "0", "--to", (dir / "native").string()}).status, 0);
    const CommandResult recovered = runF({"recover", "0", "--volume", "0", "--to", (dir / "helper").string()});
    ASSERT_EQ(recovered.status, 0) << recovered.err;
    const auto files = treeContents(dir / "helper");
    EXPECT_EQ(files, treeContents(dir / "native"));
    EXPECT_EQ(files.size(), 3u);

    // Every command that mounts reads through the helper, damage included.
    const CommandResult damage = runF({"damage", "0", "--volume", "0"});
    ASSERT_EQ(damage.status, 0) << damage.err;
    EXPECT_EQ(damage.out, run({"damage", built.imagePath, "--volume", "0"}).out);
}

TEST_F(HelperModeCliTest, DisksAreTheLibrariesDisks)
{
    ib::DiskSpec blank;
    blank.totalSectors = 5000;  // 4.96 cylinders: rounded up to 5
    ASSERT_TRUE(ib::writeImage(blank, dir / "blank.img").ok());
    ::setenv("TAMSIN_HELPER_DISKS", (built.imagePath + ":" + (dir / "blank.img").string()).c_str(), 1);

    const CommandResult r = runF({"disks", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[1], (nlohmann::json{{"index", 1},
                                       {"path", "disk 0x81"},
                                       {"model", "Unknown"},
                                       {"format", "raw"},
                                       {"cylinders", 5},
                                       {"heads", 16},
                                       {"sectorsPerTrack", 63},
                                       {"totalSectors", 5040},
                                       {"capacity", "2 MB ( Approx )"}}));

    const CommandResult second = runF({"volumes", "1"});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("No NetWare volume found in the volume tables of disk 0x81"), std::string::npos)
        << second.out;
    const CommandResult none = runF({"volumes", "2"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no disk with index 2 (see 'tamsin --access-mode F disks'; 2 listed)"), std::string::npos)
        << none.err;
}

// The cylinder product of a disk past 2 TiB does not fit 32 bits; the
// helper's 32-bit addresses reach the first 2^32 sectors, and listing says so.
TEST_F(HelperModeCliTest, DisksPastTwoTebibytesKeepTheirSizeAndTheirFiles)
{
    fs::resize_file(built.imagePath, (std::uint64_t{3} << 40));  // sparse; whole cylinders: 6442451568 sectors
    const CommandResult listed = runF({"disks", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(nlohmann::json::parse(listed.out)[0]["totalSectors"], 4294967295u);
    EXPECT_NE(listed.err.find("disk 0x80: the helper libraries reach only its first 4294967296 of 6442451568 sectors"),
              std::string::npos)
        << listed.err;

    ASSERT_EQ(run({"recover", built.imagePath, "--volume", "0", "--to", (dir / "native").string()}).status, 0);
    const CommandResult recovered = runF({"recover", "0", "--volume", "0", "--to", (dir / "helper").string()});
    ASSERT_EQ(recovered.status, 0) << recovered.err;
    EXPECT_EQ(treeContents(dir / "helper"), treeContents(dir / "native"));
}

TEST_F(HelperModeCliTest, PathsMapsAndImagesAreRefusedInModeF)
{
    CommandResult r = runF({"volumes", built.imagePath});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("in access mode F a disk is named by its index"), std::string::npos) << r.err;

    r = runF({"ls", "0", "--volume", "0", "--with", built.imagePath});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("tamsin: --with " + built.imagePath + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("in access mode F a disk is named by its index"), std::string::npos) << r.err;

    std::ofstream(dir / "disk.map") << "0x0 +\n0x0 0x100000 +\n";
    r = runF({"volumes", "0", "--map", (dir / "disk.map").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("rescue maps apply to image files"), std::string::npos) << r.err;

    r = runF({"disks", built.imagePath});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(run({"--access-mode", "X", "disks"}).status, 2);
}

TEST_F(HelperModeCliTest, EachLoadFailureEndsWithItsMessage)
{
    const std::pair<const char*, const char*> cases[] = {
        {"no-disk32", kDisk32Missing},  {"bad-disk32", kDisk32Missing}, {"no-read", kDisk32Corrupted},
        {"no-int13", kDisk32Corrupted}, {"no-disk2", kDisk2Missing},    {"no-geometry", kDisk2Corrupted},
        {"no-find", kDisk32Corrupted},
    };
    for (const auto& [folder, message] : cases) {
        ::setenv("TAMSIN_HELPER_DIR", (fs::path(TAMSIN_STANDINS) / folder).c_str(), 1);
        for (const std::vector<std::string>& args : {std::vector<std::string>{"disks"}, {"ls", "0", "--volume", "0"}}) {
            const CommandResult r = runF(args);
            EXPECT_EQ(r.status, 1) << folder;
            EXPECT_EQ(r.err, std::string("tamsin: ") + message + "\n") << folder;
            EXPECT_EQ(r.out, "") << folder;
        }
    }
    // Mode N never loads them.
    EXPECT_EQ(run({"volumes", built.imagePath}).status, 0);
}

TEST(HelperModeSearch, RunLengthDefaultsToTheAccessModes)
{
    for (const auto& [mode, expected] : {std::pair{AccessMode::Native, 60u}, std::pair{AccessMode::Helper, 8u}}) {
        Session session(mode);
        session.reader.attach(test::MemoryDevice::patterned(512));
        DiskInfo disk;
        disk.totalSectors = 512;
        cli::SearchOptions options;
        options.enabled = true;
        std::ostringstream err;
        SearchOutcome outcome;
        ASSERT_TRUE(cli::searchDisk(session, disk, options, err, outcome)) << err.str();
        EXPECT_EQ(session.settings.sectorsPerAttempt(), expected);
        options.runLength = 20;
        ASSERT_TRUE(cli::searchDisk(session, disk, options, err, outcome)) << err.str();
        EXPECT_EQ(session.settings.sectorsPerAttempt(), 20u);
    }
}

} // namespace
} // namespace tamsin
