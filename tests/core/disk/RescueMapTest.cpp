#include "disk/RescueMap.h"
#include "disk/SectorReader.h"

#include "FaultyDevice.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace tamsin {
namespace {

std::optional<RescueMap> parse(const std::string& text, std::uint64_t imageBytes, std::string* error = nullptr)
{
    std::istringstream in(text);
    std::string why;
    auto map = RescueMap::parse(in, imageBytes, why);
    if (error)
        *error = why;
    return map;
}

using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

TEST(RescueMap, SectorsNotFinishedOrNotCoveredAreUnreadable)
{
    const std::string text =
        "# Mapfile. Created by a rescue run\n"
        "# current_pos  current_status  current_pass\n"
        "0x00001000     +               1\n"
        "#      pos        size  status\n"
        "0x00000000  0x00000800  +\n"
        "0x00000800  0x00000400  -\n"   // sectors 4 and 5: bad
        "0x00000C00  0x00000300  +\n"
        "0x00000F00  0x00000100  *\n"   // half of sector 7: the whole sector is lost
        "0x00001000  0x00001000  +\n"
        "0x00002000  0x00000400  ?\n";  // sectors 16 and 17 never tried; 18 and 19 not in the map
    const auto map = parse(text, 20 * 512);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->unreadableRanges(), (Ranges{{4, 6}, {7, 8}, {16, 20}}));
    EXPECT_EQ(map->unreadableSectors(), 7u);
    EXPECT_FALSE(map->unreadable(6));
    EXPECT_TRUE(map->unreadable(7));
    bool bad = true;
    EXPECT_EQ(map->uniformRun(0, 100, bad), 4u);
    EXPECT_FALSE(bad);
    EXPECT_EQ(map->uniformRun(5, 100, bad), 1u);
    EXPECT_TRUE(bad);
    EXPECT_EQ(map->uniformRun(8, 3, bad), 3u);
    EXPECT_FALSE(bad);
    EXPECT_EQ(map->uniformRun(30, 5, bad), 5u) << "past the image the device decides";
}

TEST(RescueMap, RefusesWhatDoesNotParseOrFitNamingTheLine)
{
    std::string error;
    EXPECT_FALSE(parse("0x0 + 1\n0x0 0x200 +\n0x100 0x200 +\n", 4096, &error));
    EXPECT_EQ(error, "line 3: the block starts before the end of the previous one");
    EXPECT_FALSE(parse("0x0 + 1\n0x0 0x2000 +\n", 4096, &error));
    EXPECT_EQ(error, "line 2: the block reaches past the end of the image (4096 bytes)");
    EXPECT_FALSE(parse("0x0 + 1\n0x0 0x200 x\n", 4096, &error));
    EXPECT_EQ(error.substr(0, 8), "line 2: ");
    EXPECT_FALSE(parse("\n# only comments\n", 4096, &error));
    EXPECT_EQ(error, "no status line: not a rescue map");
    EXPECT_FALSE(parse("garbage\n", 4096, &error));
    EXPECT_EQ(error.substr(0, 8), "line 1: ");
    EXPECT_FALSE(parse("0x0 + 1\n0xFFFFFFFFFFFFFFFF 0x10 +\n", 4096, &error)) << "no overflow past the end";
    EXPECT_FALSE(parse("0x0 + 1\n0xFFFFFFFFFFFFFFFF 0x10 ?\n", 4096, &error)) << "no overflow past the end";
    EXPECT_FALSE(parse("0x0 x 1\n0x0 0x200 +\n", 4096, &error)) << "no such phase of a rescue";
    EXPECT_EQ(error.substr(0, 8), "line 1: ");
}

// An image of a rescue still under way ends where writing stopped; its map
// goes on to the disk's end with blocks not yet rescued.
TEST(RescueMap, UnfinishedBlocksPastTheImageAreUnreadableSectorsOfTheDisk)
{
    const auto map = parse("0x800 ? 1\n0 0x800 +\n0x800 0x1800 ?\n0x2000 0x1000 -\n", 8 * 512);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->domainBytes(), 0x3000u);
    EXPECT_EQ(map->unreadableRanges(), (Ranges{{4, 24}}));
}

TEST(RescueMap, ReaderReportsUnrescuedSectorsWithoutReadingThem)
{
    auto faulty = std::make_unique<test::FaultyDevice>(test::MemoryDevice::patterned(64));
    test::FaultyDevice* device = faulty.get();
    SectorReader reader;
    reader.attach(std::move(faulty));
    reader.setRetryCount(3);
    const auto map = parse("0 + 1\n0 0x1000 +\n0x1000 0x600 -\n0x1600 0x6A00 +\n", 64 * 512);
    ASSERT_TRUE(map);
    reader.setRescueMap(std::make_shared<const RescueMap>(*map));

    std::vector<std::uint8_t> buffer(16 * 512, 0xAB);
    std::vector<std::uint32_t> unreadable;
    EXPECT_EQ(reader.readSectorsZeroFilled(4, 16, buffer, &unreadable), 3u);
    EXPECT_EQ(unreadable, (std::vector<std::uint32_t>{4, 5, 6}));  // sectors 8, 9 and 10
    EXPECT_EQ(buffer[4 * 512], 0);
    EXPECT_EQ(buffer[3 * 512], 7);
    EXPECT_EQ(buffer[7 * 512], 11);
    for (std::uint64_t s = 8; s <= 10; ++s)
        EXPECT_EQ(device->attempts(s), 0u) << "an unrescued sector is never read, nor retried";

    // The plain read keeps the caller's bytes there, as for any unreadable sector.
    std::vector<std::uint8_t> stale(512, 0xAB);
    EXPECT_EQ(reader.readSectors(9, 1, stale), 1u);
    EXPECT_EQ(stale[0], 0xAB);
    reader.closeDisk();
    EXPECT_EQ(reader.rescueMap(), nullptr) << "the map belongs to the disk it was given for";
}

TEST(RescueMap, MapsAreToldFromImagesByTheirFirstLine)
{
    test::TempDir dir;
    auto write = [&](const char* name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    };
    EXPECT_TRUE(looksLikeRescueMap(write("a.log", "# Mapfile. Created by a rescue run\n# cmd\n0x1000  ?  1\n0 0x200 +\n")));
    EXPECT_TRUE(looksLikeRescueMap(write("b", "\n0 +\n")));
    EXPECT_FALSE(looksLikeRescueMap(write("c.img", std::string("\x33\xC0\x8E\xD0\0\0", 6))));
    EXPECT_FALSE(looksLikeRescueMap(write("d.txt", "hello world\n")));
    EXPECT_FALSE(looksLikeRescueMap(write("e", "")));
    EXPECT_FALSE(looksLikeRescueMap(dir.path().string()));
    EXPECT_FALSE(looksLikeRescueMap((dir / "missing").string()));
}

} // namespace
} // namespace tamsin
