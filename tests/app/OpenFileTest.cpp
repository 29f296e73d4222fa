// Opening a file for viewing: extracted into the private folder, then the
// desktop's program, or the chooser; compressed files are refused.

#include "OpenFile.h"

#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace tamsin::app {
namespace {

namespace ib = imagebuilder;

struct Notices : ExtractionObserver {
    std::vector<ExtractNotice> notices;
    void notice(ExtractNotice notice) override { notices.push_back(notice); }
};

std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool existsOnDisk(const std::string& path)
{
    return std::filesystem::exists(path);
}

class OpenFileTest : public ::testing::Test {
protected:
    void build(ib::VolumeContents contents)
    {
        built = test::buildAndMount(session, dir / "disk.img", std::move(contents));
        ASSERT_TRUE(built.manifest);
    }
    const TreeNode& file(const std::string& name) { return test::fileNamed(session.mounted, name); }
    std::vector<std::uint8_t> expected(const std::string& name) { return ib::expectedData(*built.manifest->find(name)); }

    test::TempDir dir;
    Session session;
    test::BuiltVolume built;
    RecoveryRunState run;
    Notices notices;
};

TEST_F(OpenFileTest, ExtractsToThePrivateFolderAndFallsBackToTheChooser)
{
    ib::VolumeContents c;
    ib::Node packed = ib::fileNode("PACKED.BIN", 3000);
    packed.compressed = ib::Compression{};
    c.nodes = {ib::fileNode("VIEW.TXT", 700), packed};
    build(c);
    struct FakeLauncher : Launcher {
        bool associated = true;
        std::vector<std::string> opened, chooser;
        bool open(const std::string& path) override
        {
            opened.push_back(path);
            return associated;
        }
        void openWith(const std::string& path) override { chooser.push_back(path); }
    } launcher;
    const std::string temp = (dir / "tmp").string();
    std::filesystem::create_directory(temp);
    std::ofstream(temp + "/VIEW.TXT") << "an older copy";
    run.recoveryAborted = true;  // opening clears the run flags

    OpenResult result = openFile(session.mounted, session.reader, run, notices, file("VIEW.TXT"), "VIEW.TXT", temp,
                                 false, launcher);
    EXPECT_EQ(result.outcome, OpenOutcome::Launched);
    EXPECT_EQ(launcher.opened, std::vector<std::string>{temp + "/VIEW.TXT"});
    EXPECT_EQ(readFile(temp + "/VIEW.TXT"), expected("VIEW.TXT"));

    launcher.associated = false;
    openFile(session.mounted, session.reader, run, notices, file("VIEW.TXT"), "VIEW.TXT", temp, false, launcher);
    EXPECT_EQ(launcher.chooser.size(), 1u);
    openFile(session.mounted, session.reader, run, notices, file("VIEW.TXT"), "VIEW.TXT", temp, true, launcher);
    EXPECT_EQ(launcher.chooser.size(), 2u);
    EXPECT_EQ(launcher.opened.size(), 2u);  // Open With goes straight to the chooser

    result = openFile(session.mounted, session.reader, run, notices, file("PACKED.BIN"), "PACKED.BIN", temp, false,
                      launcher);
    EXPECT_EQ(result.outcome, OpenOutcome::CompressedRefused);
    EXPECT_EQ(notices.notices.back(), ExtractNotice::CompressedNotOpened);
    EXPECT_FALSE(existsOnDisk(temp + "/PACKED.BIN"));
}

} // namespace
} // namespace tamsin::app
