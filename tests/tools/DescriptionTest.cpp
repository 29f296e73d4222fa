#include "ImageFile.h"

#include "common/LittleEndian.h"
#include "imagebuilder/Description.h"
#include "imagebuilder/ImageBuilder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tamsin::imagebuilder {
namespace {

using testing::ImageFile;
using testing::text;

TEST(Description, FullDescriptionWithHexNumbers)
{
    const auto spec = parseDescriptionText(R"({
        "sizeMiB": 64,
        "bootSignature": false,
        "partitions": [
            { "slot": 0, "type": "0x0c", "start": 2048, "size": 20000 },
            { "slot": "3", "type": "0x65", "start": "0x5620", "sizeMiB": 40,
              "hotfix": { "probe": 3, "length": "0x400" },
              "tableCopies": ["damaged", "intact", "missing", "intact"],
              "entryCount": 9,
              "volumes": [
                { "name": "SYS", "sizeSectors": 40000, "sectorsPerBlock": 8,
                  "fatBlocks": [1, "0x2"], "detBlocks": [3, 4] },
                { "name": "VOL1", "nameLength": 40, "sizeMiB": 10, "blockCount": 0 } ] } ],
        "volumeTables": [ { "sector": 70000, "entryCount": 0, "volumes": [ { "name": "X", "sizeSectors": 16 } ] } ],
        "detMarkers": [ 80000, "0x13881" ],
        "raw": [ { "sector": 5000, "offset": 4, "hex": "FD:ff Ff" },
                 { "sector": 5001, "text": "NetWare" },
                 { "sector": 5002, "fill": "0xAA" },
                 { "sector": 5003, "fill": 7, "count": 3 } ]
    })");
    ASSERT_TRUE(spec) << spec.error();
    EXPECT_EQ(spec->totalSectors, 64u * 2048);
    EXPECT_FALSE(spec->bootSignature);
    ASSERT_EQ(spec->partitions.size(), 2u);
    EXPECT_EQ(spec->partitions[0].type, 0x0C);
    EXPECT_FALSE(spec->partitions[0].netware);

    const PartitionSpec& nw = spec->partitions[1];
    EXPECT_EQ(nw.slot, 3);
    EXPECT_EQ(nw.startSector, 0x5620u);
    EXPECT_EQ(nw.sizeSectors, 40u * 2048);
    ASSERT_TRUE(nw.netware);
    EXPECT_EQ(nw.netware->hotfixProbe, 3);
    EXPECT_EQ(nw.netware->hotfixLength, 1024u);
    EXPECT_EQ(nw.netware->tableCopies,
              (std::array<TableCopy, 4>{TableCopy::Damaged, TableCopy::Intact, TableCopy::Missing, TableCopy::Intact}));
    EXPECT_EQ(nw.netware->entryCountOverride, 9u);
    ASSERT_EQ(nw.netware->segments.size(), 2u);
    const SegmentSpec& sys = nw.netware->segments[0];
    EXPECT_EQ(sys.sectorsPerBlock, 8u);
    EXPECT_FALSE(sys.blockCount);
    EXPECT_EQ(sys.secondFatBlock, 2u);
    EXPECT_EQ(sys.secondDetBlock, 4u);
    const SegmentSpec& vol1 = nw.netware->segments[1];
    EXPECT_EQ(vol1.nameLengthOverride, 40);
    EXPECT_EQ(vol1.sizeSectors, 10u * 2048);
    EXPECT_EQ(vol1.blockCount, 0u);

    ASSERT_EQ(spec->volumeTables.size(), 1u);
    EXPECT_EQ(spec->volumeTables[0].entryCountOverride, 0u);
    EXPECT_EQ(spec->detMarkers, (std::vector<std::uint64_t>{80000, 80001}));
    ASSERT_EQ(spec->raw.size(), 4u);
    EXPECT_EQ(spec->raw[0].offset, 4u);
    EXPECT_EQ(spec->raw[0].bytes, (std::vector<std::uint8_t>{0xFD, 0xFF, 0xFF}));
    EXPECT_EQ(std::string(spec->raw[1].bytes.begin(), spec->raw[1].bytes.end()), "NetWare");
    EXPECT_EQ(spec->raw[2].bytes, std::vector<std::uint8_t>(512, 0xAA));
    EXPECT_EQ(spec->raw[3].bytes, std::vector<std::uint8_t>(3, 7));
    EXPECT_TRUE(planImage(*spec));
}

TEST(Description, NetWareStructuresFollowTypeUnlessSaidOtherwise)
{
    const auto spec = parseDescriptionText(R"({
        "totalSectors": 100000,
        "partitions": [
            { "start": 100, "size": 1000 },
            { "type": 131, "start": 2000, "size": 1000 },
            { "type": "0x83", "start": 4000, "size": 1000, "volumes": [] },
            { "start": 6000, "size": 1000, "netware": false } ] })");
    ASSERT_TRUE(spec) << spec.error();
    const auto& p = spec->partitions;
    EXPECT_EQ(p[0].type, 0x65);
    ASSERT_TRUE(p[0].netware);
    EXPECT_EQ(p[0].netware->hotfixProbe, 1);
    EXPECT_FALSE(p[1].netware);
    EXPECT_TRUE(p[2].netware) << "NetWare settings on another type still ask for the structures";
    EXPECT_FALSE(p[3].netware);
}

TEST(Description, ErrorsNameTheOffendingKey)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"sizeMiB": 1, "partitons": []})", "partitons: unknown key"},
        {R"({"sizeMiB": 1, "totalSectors": 2048})", "exactly one of \"totalSectors\" and \"sizeMiB\""},
        {R"({"totalSectors": -5})", "totalSectors: must not be negative"},
        {R"({"totalSectors": "0xZZ"})", "\"0xZZ\" is not a decimal or 0x hexadecimal number"},
        {R"({"totalSectors": "0x1ffffffffffffffff"})", "too large"},
        {R"({"sizeMiB": 1, "partitions": [{"type": "0x100", "start": 1, "size": 1}]})",
         "partitions[0].type: 256 is larger than 255"},
        {R"({"sizeMiB": 1, "partitions": [{"size": 1}]})", "partitions[0].start: missing"},
        {R"({"sizeMiB": 1, "partitions": [{"start": 1, "size": 1,
             "tableCopies": ["intact", "intact", "broken", "intact"]}]})",
         "partitions[0].tableCopies[2]: expected \"intact\", \"damaged\" or \"missing\""},
        {R"({"sizeMiB": 1, "partitions": [{"start": 1, "size": 1,
             "volumes": [{"name": "A", "sizeSectors": 8, "fatBlocks": [1]}]}]})",
         "partitions[0].volumes[0].fatBlocks: expected an array of two"},
        {R"({"sizeMiB": 1, "raw": [{"sector": 1, "hex": "zz"}]})", "raw[0].hex: \"zz\" is not a hex byte"},
        {R"({"sizeMiB": 1, "raw": [{"sector": 1, "hex": "00", "text": "a"}]})", "exactly one of"},
        {R"({"sizeMiB": 1,)", "not valid JSON"},
    };
    for (const auto& [description, expected] : cases) {
        SCOPED_TRACE(description);
        const auto spec = parseDescriptionText(description);
        ASSERT_FALSE(spec);
        EXPECT_NE(spec.error().find(expected), std::string::npos) << spec.error();
    }
}

TEST(Description, FileWithCommentsBuildsTheDescribedImage)
{
    ImageFile image;
    const std::filesystem::path description = image.path().string() + ".json";
    std::ofstream(description) << R"({
        // A table with no partition table in front of it.
        "totalSectors": 2048,
        "bootSignature": false,
        "volumeTables": [ { "sector": "0x100", "volumes": [ { "name": "SYS", "sizeSectors": 512 } ] } ]
    })";
    const auto spec = parseDescriptionFile(description);
    std::filesystem::remove(description);
    ASSERT_TRUE(spec) << spec.error();
    ASSERT_TRUE(writeImage(*spec, image.path()));

    EXPECT_TRUE(testing::allZero(image.sector(0)));
    const SectorBytes table = image.sector(256);
    EXPECT_EQ(text(table, 0, 15), "NetWare Volumes");
    EXPECT_EQ(readU32(table, 32 + 32), 64u);

    const auto missing = parseDescriptionFile(description);
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("cannot open"), std::string::npos);
}

} // namespace
} // namespace tamsin::imagebuilder
