#include "ImageFile.h"

#include "imagebuilder/Description.h"
#include "imagebuilder/ImageBuilder.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sstream>

namespace tamsin::imagebuilder {
namespace {

using testing::ImageFile;

constexpr const char* kSetText = R"({
  "disks": [
    { "totalSectors": "auto", "partitions": [
      { "slot": 1, "start": 2048, "size": 9000, "hotfix": { "length": 512 },
        "headers": { "partitionId": "0x1001", "mirrorGroupId": 77, "outOfSync": false,
                     "hotfixCopies": ["damaged", "intact", "intact", "intact"],
                     "mirrorCopies": ["intact", "missing", "intact", "intact"],
                     "redirects": [ { "logicalBlock": 50, "spare": 30, "badBits": "0x81", "tableCopies": [2] },
                                    { "logicalBlock": 51 } ],
                     "retiredSpares": [40], "dataSectors": 8000,
                     "tablePatches": [ { "copy": 1, "table": "badBits", "index": 41, "value": 3 } ] },
        "volumes": [ { "name": "SYS", "sizeSectors": 256, "netwareFields": true },
                     { "name": "VOL1", "sizeSectors": 128, "volumeRoot": 1024,
                       "contents": { "tree": [ { "file": "A.TXT", "size": 5000 } ] } } ] } ] },
    { "totalSectors": "auto", "partitions": [
      { "start": 63, "size": "auto", "headers": { "mirrorOf": { "disk": 0, "partition": 1 }, "outOfSync": true,
                                                  "damagedSectors": [ 1000, { "sector": 2000, "count": 3 } ],
                                                  "mirrorStatus": "0x00010002", "members": [ 5, 6 ] } } ] }
  ],
  "volumes": [
    { "name": "DATA", "sectorsPerBlock": 16, "fatBlocks": [1, 2], "detBlocks": [3, 4],
      "contents": { "tree": [ { "file": "B.BIN", "size": 100000 } ] },
      "segments": [ { "disk": 0, "partition": 1, "volumeRoot": 2048, "sizeSectors": 256, "tableIndex": 0 },
                    { "partition": 1, "sizeMiB": 1, "entry": false } ] }
  ]
})";

TEST(SetDescription, ParsesDisksHeadersAndSpannedVolumes)
{
    const auto set = parseDiskSetDescriptionText(kSetText);
    ASSERT_TRUE(set) << set.error();
    ASSERT_EQ(set->disks.size(), 2u);
    const NetWareLayout& first = *set->disks[0].partitions[0].netware;
    const PartitionHeaders& headers = *first.headers;
    EXPECT_EQ(headers.partitionId, 0x1001u);
    EXPECT_EQ(headers.mirrorGroupId, 77u);
    EXPECT_EQ(headers.hotfixCopies[0], HeaderCopy::Damaged);
    EXPECT_EQ(headers.mirrorCopies[1], HeaderCopy::Missing);
    ASSERT_EQ(headers.redirects.size(), 2u);
    EXPECT_EQ(headers.redirects[0].spare, 30u);
    EXPECT_EQ(headers.redirects[0].badBits, 0x81);
    EXPECT_FALSE(headers.redirects[0].inCopy1);
    EXPECT_TRUE(headers.redirects[0].inCopy2);
    EXPECT_FALSE(headers.redirects[1].spare.has_value());
    EXPECT_EQ(headers.retiredSpares, (std::vector<std::uint32_t>{40}));
    EXPECT_EQ(headers.dataSectors, 8000u);
    ASSERT_EQ(headers.tablePatches.size(), 1u);
    EXPECT_TRUE(headers.tablePatches[0].badBits);
    EXPECT_EQ(headers.tablePatches[0].copy, 1);
    EXPECT_TRUE(first.segments[0].netwareFields);
    EXPECT_EQ(first.segments[1].volumeRoot, 1024u);

    const PartitionHeaders& member = *set->disks[1].partitions[0].netware->headers;
    EXPECT_EQ(member.mirrorOf, (PartitionRef{0, 1}));
    EXPECT_TRUE(member.outOfSync);
    EXPECT_EQ(member.damagedSectors, (std::vector<std::uint32_t>{1000, 2000, 2001, 2002}));
    EXPECT_EQ(member.mirrorStatus, 0x00010002u);
    EXPECT_EQ(member.members, (std::vector<std::uint32_t>{5, 6}));

    ASSERT_EQ(set->volumes.size(), 1u);
    const SpannedVolumeSpec& data = set->volumes[0];
    EXPECT_EQ(data.sectorsPerBlock, 16u);
    EXPECT_EQ(data.secondDetBlock, 4u);
    ASSERT_EQ(data.segments.size(), 2u);
    EXPECT_EQ(data.segments[0].tableIndex, 0u);
    EXPECT_EQ(data.segments[1].disk, 0u);
    EXPECT_EQ(data.segments[1].sizeSectors, 2048u);
    EXPECT_FALSE(data.segments[1].entry);
    EXPECT_FALSE(data.segments[1].volumeRoot.has_value());

    // It builds, and the manifest lists what it built.
    const auto layout = planImages(*set);
    ASSERT_TRUE(layout) << layout.error();
    std::ostringstream text;
    writeManifestJson(*layout, text, {"zero.img", "one.img"});
    const auto json = nlohmann::json::parse(text.str());
    EXPECT_EQ(json["disks"][1]["path"], "one.img");
    ASSERT_EQ(json["volumes"].size(), 2u);
    const auto& spanned = json["volumes"][1];
    EXPECT_EQ(spanned["name"], "DATA");
    EXPECT_EQ(spanned["complete"], false);
    EXPECT_EQ(spanned["missingSegments"], nlohmann::json::array({1}));
    EXPECT_EQ(spanned["segments"][0]["startSector"], 2048 + 512 + 2048);
    EXPECT_EQ(spanned["segments"][0]["path"], "zero.img");
    EXPECT_EQ(spanned["volumeBlocks"], (256 + 2048) / 16);
    const auto& b = spanned["entries"][0];
    EXPECT_EQ(b["name"], "B.BIN");
    EXPECT_EQ(b["incomplete"], true);
    EXPECT_EQ(b["unreadable"][0][0], 11 * 8192) << "blocks 5..15 in segment 0, the rest in the missing one";
    const auto& partition = json["partitions"][0];
    EXPECT_EQ(partition["headers"]["validCopy"], 2) << "HOTFIX copy 1 damaged, MIRROR copy 2 missing";
    EXPECT_EQ(partition["headers"]["redirectedBlocks"][0]["spare"], 30);
    EXPECT_EQ(partition["headers"]["redirectedBlocks"][1]["spare"], 21) << "the first free spare";
    EXPECT_EQ(partition["dataSectors"], 8000);
    EXPECT_EQ(json["partitions"][1]["headers"]["mirrorOf"]["partition"], 1);
    ASSERT_EQ(json["rows"].size(), 3u) << "DATA's entry first, then SYS and VOL1, from disk 0 only";
    EXPECT_EQ(json["rows"][0]["name"], "DATA");
    EXPECT_EQ(json["rows"][2]["volumeRoot"], 1024);
}

TEST(SetDescription, OneDiskDescriptionsBuildTheSameImageEitherWay)
{
    constexpr const char* kOne = R"({"totalSectors": "auto", "partitions": [{"start": 100, "size": "auto",
        "volumes": [{"name": "SYS", "contents": {"tree": [{"file": "X.TXT", "size": 3000}]}}]}]})";
    const auto single = parseDescriptionText(kOne);
    const auto set = parseDiskSetDescriptionText(kOne);
    ASSERT_TRUE(single) << single.error();
    ASSERT_TRUE(set) << set.error();
    ASSERT_EQ(set->disks.size(), 1u);
    const auto one = renderImage(*single);
    const auto many = renderImages(*set);
    ASSERT_TRUE(one && many);
    EXPECT_EQ(one->sectors, many->sectors[0]);
    ImageFile image;
    EXPECT_FALSE(writeImages(*set, {image.path(), image.path()})) << "one output per disk";
}

TEST(SetDescription, RefusesBadDescriptionsWithAClearMessage)
{
    // A partition's keys inside a one-disk description.
    auto partition = [](const std::string& keys) {
        return R"({"totalSectors": "auto", "partitions": [{"start": 100, "size": "auto", )" + keys + "}]}";
    };
    constexpr const char* kDisk = R"({"totalSectors": "auto", "partitions": [{"start": 100, "size": "auto"}]})";
    auto volume = [&](const std::string& keys) {
        return std::string(R"({"disks": [)") + kDisk + R"(], "volumes": [{"name": "D", )" + keys + "}]}";
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"disks": []})", "disks: describe at least one disk"},
        {std::string(R"({"disks": [)") + kDisk + R"(], "partitions": []})", "partitions: unknown key"},
        {std::string(R"({"disks": [)") + kDisk + "," + partition(R"("headers": {"bogus": 1})") + "]}",
         "disks[1].partitions[0].headers.bogus: unknown key"},
        {partition(R"("hotfix": {"probe": 2}, "headers": true)"),
         "partitions[0].hotfix: with \"headers\" every header copy is written"},
        {partition(R"("headers": false)"), "expected true or an object"},
        {partition(R"("headers": {"hotfixCopies": ["intact"]})"),
         "headers.hotfixCopies: expected an array of four copy states"},
        {partition(R"("headers": {"mirrorCopies": ["intact", "intact", "gone", "intact"]})"),
         "headers.mirrorCopies[2]: expected \"intact\", \"damaged\" or \"missing\""},
        {partition(R"("headers": {"redirects": [{"logicalBlock": 9, "tableCopies": [3]}]})"),
         "redirects[0].tableCopies[0]: expected 1 or 2"},
        {partition(R"("headers": {"redirects": [{"spare": 30}]})"), "redirects[0].logicalBlock: missing"},
        {partition(R"("headers": {"tablePatches": [{"copy": 0, "index": 1, "value": 1}]})"),
         "tablePatches[0].copy: expected 1 or 2"},
        {partition(R"("headers": {"tablePatches": [{"copy": 1, "table": "x", "index": 1, "value": 1}]})"),
         "expected \"redirection\" or \"badBits\""},
        {partition(R"("headers": {"mirrorOf": {"disk": 0}})"), "mirrorOf.partition: missing"},
        {R"({"totalSectors": "auto", "partitions": [{"start": 1, "size": 9, "netware": false, "headers": true}]})",
         "leaves no room for hot-fix, header"},
        {partition(R"("volumes": [{"name": "A", "sizeSectors": 8, "volumeRoot": -8}])"),
         "volumeRoot: must not be negative"},
        {volume(R"("segments": [{"partition": 0}])"),
         "volumes[0].segments[0]: give exactly one of \"sizeSectors\" and \"sizeMiB\""},
        {volume(R"("segments": [{"sizeSectors": 8}])"), "volumes[0].segments[0].partition: missing"},
        {volume(R"("sectorsPerBlock": 8)"), "volumes[0].segments: missing"},
        {volume(R"("segments": [], "stripes": 2)"), "volumes[0].stripes: unknown key"},
        {R"({"totalSectors": "auto", "volumes": []})", "volumes: unknown key"},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        const auto set = parseDiskSetDescriptionText(text);
        ASSERT_FALSE(set);
        EXPECT_NE(set.error().find(expected), std::string::npos) << set.error();
    }
}

} // namespace
} // namespace tamsin::imagebuilder
