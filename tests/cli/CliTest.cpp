// Runs the built `tamsin` binary on builder-made images and checks its output.

#include "imagebuilder/ImageBuilder.h"

#include "RunCommand.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>


namespace tamsin {
namespace {

namespace ib = imagebuilder;

using test::CommandResult;

class CliTest : public ::testing::Test {
protected:
    CommandResult run(const std::vector<std::string>& args) { return test::runCommand(TAMSIN_BINARY, args, dir.path()); }

    std::string image(const ib::DiskSpec& diskSpec, const std::string& name = "disk.img")
    {
        const auto path = dir / name;
        auto layout = ib::writeImage(diskSpec, path);
        EXPECT_TRUE(layout.ok());
        return path.string();
    }

    static ib::DiskSpec twoVolumeDisk()
    {
        ib::DiskSpec diskSpec;
        diskSpec.totalSectors = 100000;
        ib::PartitionSpec p;
        p.startSector = 2048;
        p.sizeSectors = 90000;
        p.netware.emplace();
        ib::SegmentSpec sys;
        sys.name = "SYS";
        sys.sizeSectors = 40960;
        sys.sectorsPerBlock = 8;
        sys.firstFatBlock = 1;
        sys.secondFatBlock = 2;
        sys.firstDetBlock = 3;
        sys.secondDetBlock = 4;
        ib::SegmentSpec vol = sys;
        vol.name = "VOL1";
        vol.sizeSectors = 20480;
        vol.sectorsPerBlock = 16;
        p.netware->segments = {sys, vol};
        diskSpec.partitions.push_back(p);
        return diskSpec;
    }

    test::TempDir dir;
};

TEST_F(CliTest, VolumesTextListing)
{
    const auto img = image(twoVolumeDisk());
    const CommandResult r = run({"volumes", img});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Index  Name  Start Sector  End Sector             Size  Sectors/Block  Blocks  FAT Blocks  DET Blocks\n"
              "    0  SYS           3232       44192  20 MB ( Aprox )              8    5120  1, 2        3, 4\n"
              "    1  VOL1         44192       64672  10 MB ( Aprox )             16    1280  1, 2        3, 4\n");
}

TEST_F(CliTest, VolumesJsonListing)
{
    const auto img = image(twoVolumeDisk());
    const CommandResult r = run({"volumes", img, "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[1],
              (nlohmann::json{{"index", 1},
                              {"name", "VOL1"},
                              {"startSector", 44192},
                              {"sizeSectors", 20480},
                              {"blockCount", 1280},
                              {"sectorsPerBlock", 16},
                              {"firstFatBlock", 1},
                              {"secondFatBlock", 2},
                              {"firstDetBlock", 3},
                              {"secondDetBlock", 4},
                              {"disk", img},
                              {"segment", 0},
                              {"segmentCount", 1},
                              {"volumeBlocks", 1280},
                              {"firstVolumeBlock", 0},
                              {"complete", true}}));
}

TEST_F(CliTest, DisksListsNamedImagesWithTheirGeometry)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 16'065'000;
    const auto img = image(diskSpec, "big.img");
    const CommandResult r = run({"disks", "--no-devices", "--json", img});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0],
              (nlohmann::json{{"index", 0},
                              {"path", img},
                              {"model", "big.img"},
                              {"cylinders", 1000},
                              {"heads", 255},
                              {"sectorsPerTrack", 63},
                              {"totalSectors", 16065000},
                              {"capacity", "7844 MB ( Approx )"},
                              {"format", "raw"}}));

    const CommandResult text = run({"disks", "--no-devices", img});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("Storage Device0"), std::string::npos);
    EXPECT_NE(text.out.find("7844 MB ( Approx )"), std::string::npos);
}

TEST_F(CliTest, DiskWithoutNetWareVolumesSaysSoAndSucceeds)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 5000;
    ib::PartitionSpec linux;
    linux.type = 0x83;
    linux.startSector = 2048;
    linux.sizeSectors = 2000;
    diskSpec.partitions.push_back(linux);
    const auto img = image(diskSpec);

    const CommandResult text = run({"volumes", img});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("No NetWare volume found"), std::string::npos);

    const CommandResult json = run({"volumes", img, "--json"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(nlohmann::json::parse(json.out), nlohmann::json::array());
    EXPECT_NE(json.err.find("No NetWare volume found"), std::string::npos);

    diskSpec.bootSignature = false;
    const CommandResult blank = run({"volumes", image(diskSpec)});
    EXPECT_EQ(blank.status, 0);
    EXPECT_NE(blank.out.find("No partition table"), std::string::npos);
}

TEST_F(CliTest, EveryProgramShowsTheBuildsOneVersion)
{
    EXPECT_EQ(test::runCommand(TAMSIN_BINARY, {"--version"}, dir.path()).out, "tamsin " TAMSIN_VERSION "\n");
    EXPECT_EQ(test::runCommand(TAMSIN_MKIMAGE_BINARY, {"--version"}, dir.path()).out,
              "tamsin-mkimage " TAMSIN_VERSION "\n");
}

TEST_F(CliTest, ErrorsAndUsage)
{
    const CommandResult missing = run({"volumes", (dir / "nothere.img").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("nothere.img: No such file or directory"), std::string::npos);
    EXPECT_TRUE(missing.out.empty());

    const CommandResult folder = run({"volumes", dir.path().string()});
    EXPECT_EQ(folder.status, 1);

    const CommandResult badIndex = run({"volumes", "9999"});
    EXPECT_EQ(badIndex.status, 1);
    EXPECT_NE(badIndex.err.find("no disk with index 9999"), std::string::npos);

    EXPECT_EQ(run({"volumes"}).status, 2);
    EXPECT_EQ(run({"frobnicate"}).status, 2);
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({"--help"}).status, 0);
    EXPECT_EQ(run({"volumes", "x.img", "--codepage", "NOPE-1"}).status, 2);
}

} // namespace
} // namespace tamsin
