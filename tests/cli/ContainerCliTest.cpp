// The commands on a disk inside each container format answer as they do on
// the raw image: the disk row names the format, and volumes, the recursive
// listing and the recovered files are the same.

#include "imagebuilder/ImageBuilder.h"

#include "ContainerImages.h"
#include "RunCommand.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace tamsin {
namespace {

namespace ib = imagebuilder;
using nlohmann::json;
using test::CommandResult;

// Every regular file under folder, by relative path, with its bytes.
std::map<std::string, std::string> treeOf(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[fs::relative(entry.path(), folder).string()] = {std::istreambuf_iterator<char>(in), {}};
    }
    return files;
}

class ContainerCliTest : public ::testing::TestWithParam<test::ContainerKind> {
protected:
    static void SetUpTestSuite()
    {
        dir = new test::TempDir;
        ib::VolumeContents contents;
        ib::Node report = ib::fileNode("REPORT.DOC", 90'000);
        report.longName = "Quarterly report.doc";
        contents.nodes = {ib::folderNode("DOCS", {report, ib::fileNode("NOTES.TXT", 1200)}),
                          ib::fileNode("DATA.BIN", 400'000)};
        raw = new std::string(test::buildVolume(dir->path() / "raw.img", contents).imagePath);
    }
    static void TearDownTestSuite()
    {
        delete raw;
        delete dir;
    }
    static CommandResult run(const std::vector<std::string>& args)
    {
        return test::runCommand(TAMSIN_BINARY, args, dir->path());
    }

    static test::TempDir* dir;
    static std::string* raw;
};

test::TempDir* ContainerCliTest::dir = nullptr;
std::string* ContainerCliTest::raw = nullptr;

TEST_P(ContainerCliTest, CommandsAnswerAsOnTheRawImage)
{
    const fs::path folder = dir->path() / GetParam().label;
    fs::create_directories(folder);
    const std::string image = test::makeContainer(*raw, GetParam(), folder).string();

    const CommandResult disks = run({"disks", "--no-devices", image, *raw, "--json"});
    ASSERT_EQ(disks.status, 0) << disks.err;
    const json rows = json::parse(disks.out);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["format"], diskFormatName(GetParam().format));
    EXPECT_EQ(rows[0]["model"], std::string(diskFormatDescription(GetParam().format)) + " ("
                                    + fs::path(image).filename().string() + ")");
    EXPECT_EQ(rows[1]["format"], "raw");
    EXPECT_EQ(rows[1]["model"], "raw.img");
    EXPECT_GE(rows[0]["totalSectors"], rows[1]["totalSectors"]) << "the media size, at least the raw disk's";

    // volumes --json differs only in the disk path.
    const CommandResult volumes = run({"volumes", image, "--json"});
    const CommandResult rawVolumes = run({"volumes", *raw, "--json"});
    ASSERT_EQ(volumes.status, 0) << volumes.err;
    json expected = json::parse(rawVolumes.out);
    for (auto& row : expected)
        row["disk"] = image;
    EXPECT_EQ(json::parse(volumes.out), expected);

    const CommandResult listed = run({"ls", image, "--volume", "0", "--recursive", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(json::parse(listed.out), json::parse(run({"ls", *raw, "--volume", "0", "--recursive", "--json"}).out));

    const CommandResult recovered = run({"recover", image, "--volume", "0", "--to", (folder / "out").string()});
    ASSERT_EQ(recovered.status, 0) << recovered.err;
    const fs::path rawOut = dir->path() / ("raw-out-" + GetParam().label);
    ASSERT_EQ(run({"recover", *raw, "--volume", "0", "--to", rawOut.string()}).status, 0);
    const auto files = treeOf(folder / "out");
    EXPECT_EQ(files.size(), 3u);
    EXPECT_EQ(files, treeOf(rawOut));
}

INSTANTIATE_TEST_SUITE_P(Formats, ContainerCliTest, ::testing::ValuesIn(test::containerKinds()),
                         [](const auto& info) { return info.param.label; });

// A container the library refuses: one line naming the path and the format, no crash.
TEST(ContainerCli, RefusedContainerGivesOneLineWithThePathAndFormat)
{
    test::TempDir dir;
    const std::string raw = test::buildVolume(dir / "raw.img", {}).imagePath;
    const fs::path image = test::makeContainer(raw, {"qcow2", DiskFormat::Qcow2}, dir.path(), "broken");
    fs::resize_file(image, 1024);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"disks", "--no-devices", image.string(), "--json"},
          std::vector<std::string>{"volumes", image.string()}}) {
        const CommandResult r = test::runCommand(TAMSIN_BINARY, args, dir.path());
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err.rfind("tamsin: " + image.string() + ": cannot open the QEMU disk image: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

} // namespace
} // namespace tamsin
