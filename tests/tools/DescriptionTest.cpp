#include "ImageFile.h"

#include "common/LittleEndian.h"
#include "imagebuilder/Description.h"
#include "imagebuilder/ImageBuilder.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace tamsin::imagebuilder {
namespace {

using testing::ImageFile;
using testing::text;

TEST(Description, FullDescriptionWithHexNumbers)
{
    const auto diskSpec = parseDescriptionText(R"({
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
    ASSERT_TRUE(diskSpec) << diskSpec.error();
    EXPECT_EQ(diskSpec->totalSectors, 64u * 2048);
    EXPECT_FALSE(diskSpec->bootSignature);
    ASSERT_EQ(diskSpec->partitions.size(), 2u);
    EXPECT_EQ(diskSpec->partitions[0].type, 0x0C);
    EXPECT_FALSE(diskSpec->partitions[0].netware);

    const PartitionSpec& nw = diskSpec->partitions[1];
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

    ASSERT_EQ(diskSpec->volumeTables.size(), 1u);
    EXPECT_EQ(diskSpec->volumeTables[0].entryCountOverride, 0u);
    EXPECT_EQ(diskSpec->detMarkers, (std::vector<std::uint64_t>{80000, 80001}));
    ASSERT_EQ(diskSpec->raw.size(), 4u);
    EXPECT_EQ(diskSpec->raw[0].offset, 4u);
    EXPECT_EQ(diskSpec->raw[0].bytes, (std::vector<std::uint8_t>{0xFD, 0xFF, 0xFF}));
    EXPECT_EQ(std::string(diskSpec->raw[1].bytes.begin(), diskSpec->raw[1].bytes.end()), "NetWare");
    EXPECT_EQ(diskSpec->raw[2].bytes, std::vector<std::uint8_t>(512, 0xAA));
    EXPECT_EQ(diskSpec->raw[3].bytes, std::vector<std::uint8_t>(3, 7));
    EXPECT_TRUE(planImage(*diskSpec));
}

TEST(Description, NetWareStructuresFollowTypeUnlessSaidOtherwise)
{
    const auto diskSpec = parseDescriptionText(R"({
        "totalSectors": 100000,
        "partitions": [
            { "start": 100, "size": 1000 },
            { "type": 131, "start": 2000, "size": 1000 },
            { "type": "0x83", "start": 4000, "size": 1000, "volumes": [] },
            { "start": 6000, "size": 1000, "netware": false } ] })");
    ASSERT_TRUE(diskSpec) << diskSpec.error();
    const auto& p = diskSpec->partitions;
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
        {R"({"sizeMiB": 1, "partitions": [{"start": 1, "size": 1,
             "volumes": [{"name": "A", "sizeSectors": "auto"}]}]})",
         "partitions[0].volumes[0].sizeSectors: \"auto\" sizes only volumes with contents"},
        {R"({"sizeMiB": 1, "partitions": [{"type": 12, "start": 1, "size": "auto"}]})",
         "partitions[0].size: \"auto\" sizes only NetWare partitions"},
        {R"({"sizeMiB": 1, "partitions": [{"start": 1, "size": 1, "volumes": [{"name": "A", "contents": {
             "tree": [{"folder": "A", "children": [{"file": "B", "folder": "C"}]}]}}]}]})",
         "partitions[0].volumes[0].contents.tree[0].children[0]: give exactly one of \"folder\" and \"file\""},
        {R"({"sizeMiB": 1, "partitions": [{"start": 1, "size": 1, "volumes": [{"name": "A", "contents": {
             "tree": [{"file": "B", "children": []}]}}]}]})",
         "contents.tree[0].children: only folders have children"},
        {R"({"sizeMiB": 1, "partitions": [{"start": 1, "size": 1, "volumes": [{"name": "A", "contents": {
             "tree": [{"file": "B", "date": "1998-13-01"}]}}]}]})",
         "contents.tree[0].date: \"1998-13-01\" is not a date"},
        {R"({"sizeMiB": 1, "partitions": [{"start": 1, "size": 1, "volumes": [{"name": "A", "contents": {
             "tree": [{"file": "B", "chain": {"order": "random"}}]}}]}]})",
         "contents.tree[0].chain.order: expected \"contiguous\", \"interleaved\" or \"reverse\""},
        {R"({"sizeMiB": 1, "partitions": [{"start": 1, "size": 1, "volumes": [{"name": "A", "contents": {
             "fatChains": [{}]}}]}]})",
         "contents.fatChains: expected an array of two chains"},
        {R"({"sizeMiB": 1, "partitions": [{"start": 1, "size": 1, "volumes": [{"name": "A", "contents": {
             "rawEntries": [{"hex": "00", "suballocationRecord": 1}]}}]}]})",
         "contents.rawEntries[0]: give exactly one of \"hex\" and \"suballocationRecord\""},
    };
    for (const auto& [description, expected] : cases) {
        SCOPED_TRACE(description);
        const auto diskSpec = parseDescriptionText(description);
        ASSERT_FALSE(diskSpec);
        EXPECT_NE(diskSpec.error().find(expected), std::string::npos) << diskSpec.error();
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
    const auto diskSpec = parseDescriptionFile(description);
    std::filesystem::remove(description);
    ASSERT_TRUE(diskSpec) << diskSpec.error();
    ASSERT_TRUE(writeImage(*diskSpec, image.path()));

    EXPECT_TRUE(testing::allZero(image.sector(0)));
    const SectorBytes table = image.sector(256);
    EXPECT_EQ(text(table, 0, 15), "NetWare Volumes");
    EXPECT_EQ(readU32(table, 32 + 32), 64u);

    const auto missing = parseDescriptionFile(description);
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("cannot open"), std::string::npos);
}

TEST(Description, VolumeContentsWithEveryKnob)
{
    const auto parsed = parseDescriptionText(R"({
        "totalSectors": "auto",
        "partitions": [ { "start": 2048, "size": "auto", "hotfix": { "length": 128 }, "volumes": [
          { "name": "SYS", "sectorsPerBlock": 2, "contents": {
              "date": "1998-03-14 10:22:36",
              "fileOrder": "interleaved",
              "tree": [
                { "folder": "USERS", "ownId": 100, "date": "1999-01-02", "children": [
                  { "file": "REPORT.DOC", "longName": "Quarterly Report 1998.doc", "size": 5000, "deleted": true,
                    "attributes": "0x20", "storage": "tail" },
                  { "file": "NOTE.TXT", "data": { "text": "hello" }, "storage": "fragment", "sizeClass": 3 },
                  { "file": { "hex": "8A 41" }, "longName": { "hex": "41 42" }, "longNameInNextSector": true,
                    "size": 10, "compressed": { "storedLength": 20, "checkSize": 11 }, "patternSeed": 9,
                    "chain": { "order": "reverse", "loopTo": 0 } } ] },
                { "folder": "ODD", "parentId": 4000, "nameSpace": 2, "oddNames": true, "deletedMarker": 5 },
                { "file": "RAW.BIN", "data": { "hex": "00 01" }, "size": 3000, "chain": { "blocks": [90, 91] },
                  "firstBlock": 7, "dateTime": "0x12345678", "compressed": false } ],
              "generate": { "entries": 50, "perFolder": 10, "depth": 2, "deletedEvery": 0, "longNameEvery": 3,
                            "fileSize": 100 },
              "rawEntries": [ { "position": 60, "hex": "fb ff ff ff", "copies": [2] },
                              { "suballocationRecord": 5, "roots": [1, 2] } ],
              "fatChains": [ {}, { "length": 2, "firstSequence": 1 } ],
              "detChains": [ { "order": "interleaved", "lastNext": 0 }, { "blocks": [80] } ],
              "fatCopy2Patches": [ { "entry": 63, "hex": "01" } ],
              "detCopy2Patches": [ { "position": 1, "offset": 108, "hex": "01 00" } ] } } ] } ] })");
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->totalSectors, 0u);
    EXPECT_EQ(parsed->partitions[0].sizeSectors, 0u);
    const SegmentSpec& sys = parsed->partitions[0].netware->segments[0];
    EXPECT_EQ(sys.sizeSectors, 0u) << "sized to fit when left out";
    ASSERT_TRUE(sys.contents);
    const VolumeContents& c = *sys.contents;
    EXPECT_EQ(c.defaultDateTime, packDateTime(1998, 3, 14, 10, 22, 36));
    EXPECT_EQ(c.fileOrder, BlockOrder::Interleaved);

    ASSERT_EQ(c.nodes.size(), 3u);
    const Node& users = c.nodes[0];
    EXPECT_TRUE(users.folder);
    EXPECT_EQ(users.ownId, 100u);
    EXPECT_EQ(users.dateTime, packDateTime(1999, 1, 2, 0, 0, 0));
    ASSERT_EQ(users.children.size(), 3u);
    const Node& report = users.children[0];
    EXPECT_EQ(report.longName, "Quarterly Report 1998.doc");
    EXPECT_EQ(report.deletedMarker, kDefaultDeletedMarker);
    EXPECT_EQ(report.attributes, 0x20u);
    EXPECT_EQ(report.storage, Storage::SuballocationTail);
    const Node& note = users.children[1];
    EXPECT_EQ(note.size, 5u) << "the size follows the data";
    EXPECT_EQ(note.storage, Storage::FragmentOnly);
    EXPECT_EQ(note.sizeClass, 3u);
    const Node& packed = users.children[2];
    EXPECT_EQ(packed.name, "\x8A\x41");
    EXPECT_EQ(packed.longName, "AB");
    EXPECT_TRUE(packed.longNameInNextSector);
    ASSERT_TRUE(packed.compressed);
    EXPECT_EQ(packed.compressed->storedLength, 20u);
    EXPECT_EQ(packed.compressed->checkSize, 11u);
    EXPECT_EQ(packed.patternSeed, 9u);
    EXPECT_EQ(packed.chain.order, BlockOrder::Reverse);
    EXPECT_EQ(packed.chain.loopTo, 0u);
    const Node& odd = c.nodes[1];
    EXPECT_EQ(odd.parentId, 4000u);
    EXPECT_EQ(odd.nameSpace, 2);
    EXPECT_TRUE(odd.oddNames);
    EXPECT_EQ(odd.deletedMarker, 5u);
    const Node& raw = c.nodes[2];
    EXPECT_EQ(raw.data, (std::vector<std::uint8_t>{0, 1}));
    EXPECT_EQ(raw.size, 3000u);
    EXPECT_EQ(raw.chain.blocks, (std::vector<std::uint32_t>{90, 91}));
    EXPECT_EQ(raw.firstBlock, 7u);
    EXPECT_EQ(raw.dateTime, 0x12345678u);
    EXPECT_FALSE(raw.compressed);

    ASSERT_TRUE(c.generate);
    EXPECT_EQ(c.generate->entries, 50u);
    EXPECT_EQ(c.generate->perFolder, 10u);
    EXPECT_EQ(c.generate->longNameEvery, 3u);
    EXPECT_EQ(c.generate->fileSize, 100u);
    ASSERT_EQ(c.rawEntries.size(), 2u);
    EXPECT_EQ(c.rawEntries[0].position, 60u);
    EXPECT_FALSE(c.rawEntries[0].inCopy1);
    EXPECT_TRUE(c.rawEntries[0].inCopy2);
    EXPECT_EQ(readU32(c.rawEntries[0].bytes, 0), 0xFFFFFFFBu);
    EXPECT_FALSE(c.rawEntries[1].position);
    EXPECT_EQ(c.rawEntries[1].bytes, suballocationRecord(5, {1, 2}));
    EXPECT_EQ(c.fatChains[1].length, 2u);
    EXPECT_EQ(c.fatChains[1].firstSequence, 1u);
    EXPECT_EQ(c.detChains[0].lastNext, 0u);
    EXPECT_EQ(c.detChains[1].blocks, (std::vector<std::uint32_t>{80}));
    ASSERT_EQ(c.fatCopy2Patches.size(), 1u);
    EXPECT_EQ(c.fatCopy2Patches[0].index, 63u);
    ASSERT_EQ(c.detCopy2Patches.size(), 1u);
    EXPECT_EQ(c.detCopy2Patches[0].offset, 108u);

    const auto layout = planImage(*parsed);
    ASSERT_TRUE(layout) << layout.error();
    const PartitionLayout& partition = layout->partitions[0];
    const SegmentLayout& segment = partition.segments[0];
    EXPECT_EQ(segment.sectorsPerBlock, 2u);
    EXPECT_GE(segment.blockCount, 92u) << "the explicit blocks 90 and 91 fit";
    EXPECT_EQ(partition.sizeSectors, segment.startSector + segment.sizeSectors - 2048);
    EXPECT_EQ(layout->totalSectors, segment.startSector + segment.sizeSectors);
    EXPECT_EQ(segment.secondDetBlock, 80u);
    EXPECT_EQ(segment.manifest->entries.size(), 3u + 2u + 50u) << "ODD is in another name space";
}

TEST(ManifestJson, ListsLayoutAndEntriesWithTheirData)
{
    SegmentSpec segment;
    segment.name = "SYS";
    segment.contents.emplace();
    Node file = fileNode("A.TXT", 700);
    file.longName = "Long A.txt";
    segment.contents->nodes = {folderNode("DOCS", {file}), fileNode("\x81" "BER.TXT", 3)};
    PartitionSpec partition;
    partition.slot = 2;
    partition.startSector = 100;
    partition.netware.emplace();
    partition.netware->segments = {segment};
    DiskSpec disk;
    disk.partitions = {partition};
    const auto layout = planImage(disk);
    ASSERT_TRUE(layout) << layout.error();
    const VolumeManifest& m = *layout->volume("SYS");

    std::ostringstream text;
    writeManifestJson(*layout, text);
    const auto json = nlohmann::json::parse(text.str());
    ASSERT_EQ(json["volumes"].size(), 1u);
    const auto& volume = json["volumes"][0];
    EXPECT_EQ(volume["partitionSlot"], 2);
    EXPECT_EQ(volume["name"], "SYS");
    EXPECT_EQ(volume["startSector"], m.startSector);
    EXPECT_EQ(volume["sectorsPerBlock"], 8);
    EXPECT_EQ(volume["fat"][1]["blocks"], m.fat[1].blocks);
    EXPECT_EQ(volume["det"][0]["lastNext"], kChainEnd);
    ASSERT_EQ(volume["entries"].size(), 3u);
    EXPECT_EQ(volume["entries"][0]["kind"], "folder");
    const auto& a = volume["entries"][1];
    EXPECT_EQ(a["kind"], "file");
    EXPECT_EQ(a["name"], "Long A.txt");
    EXPECT_EQ(a["parentId"], m.entries[0].ownId);
    EXPECT_EQ(a["entrySector"], m.entries[1].entrySector);
    EXPECT_EQ(a["data"]["length"], 700);
    EXPECT_EQ(a["data"]["crc32"], crc32(expectedData(m.entries[1])));
    EXPECT_EQ(volume["entries"][2]["nameHex"], "814245522e545854") << "names that are not ASCII also in hex";
}

} // namespace
} // namespace tamsin::imagebuilder
