#include "ImageFile.h"
#include "VolumeReadBack.h"

#include "common/LittleEndian.h"
#include "imagebuilder/Demo.h"
#include "imagebuilder/Description.h"
#include "imagebuilder/ImageBuilder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace tamsin::imagebuilder {
namespace {

using testing::DetEntry;
using testing::ImageFile;
using testing::VolumeReadBack;

NameSpaceRecord record(std::uint8_t nameSpace, std::string name, bool adjacent = false)
{
    return {.nameSpace = nameSpace, .name = std::move(name), .adjacent = adjacent};
}

Node withRecords(Node node, std::vector<NameSpaceRecord> records)
{
    node.nameSpaceRecords = std::move(records);
    return node;
}

std::string nameIn(const DetEntry& entry)
{
    return {reinterpret_cast<const char*>(entry.data()) + kDetName, entry[kDetNameLength]};
}

class NameSpaces : public ::testing::Test {
protected:
    void build(VolumeContents contents)
    {
        auto built = writeImage(singleVolumeDisk("SYS", 1, std::move(contents)), image.path());
        ASSERT_TRUE(built) << built.error();
        layout = std::move(*built);
    }
    void build(std::vector<Node> nodes) { build(VolumeContents{.nodes = std::move(nodes)}); }
    const VolumeManifest& manifest() const { return *layout.volume("SYS"); }
    const ManifestEntry& entry(std::string_view dosName) const
    {
        for (const ManifestEntry& e : manifest().entries)
            if (e.dosName == dosName)
                return e;
        throw std::runtime_error("no entry " + std::string(dosName));
    }
    DetEntry at(std::uint32_t position, int copy = 0) const
    {
        return VolumeReadBack(image, manifest().startSector, 1).detEntry(manifest().det[copy].blocks, position);
    }
    // The positions on the stored chain from an entry, at most 12.
    std::vector<std::uint32_t> storedChain(std::uint32_t from) const
    {
        std::vector<std::uint32_t> chain;
        for (std::uint32_t p = readU32(at(from), kDetNameList); p != 0 && chain.size() < 12;
             p = readU32(at(p), kDetNameList))
            chain.push_back(p);
        return chain;
    }

    ImageFile image;
    BuiltLayout layout;
};

TEST_F(NameSpaces, RecordsAreChainedFromTheDosEntryAwayFromItOrAdjacent)
{
    Node report = withRecords(fileNode("REPORT.DOC", 100), {record(kLongNameSpace, "Quarterly Report 1998.doc"),
                                                            record(kNfsNameSpace, "quarterly-report.doc"),
                                                            record(kMacNameSpace, "Quarterly Report")});
    report.attributes = 0x21;
    NameSpaceRecord nt = record(kNtNameSpace, "Report (NT).doc");
    nt.position = 30;
    Node near = withRecords(fileNode("NEAR.TXT", 1), {record(kNfsNameSpace, "near", true), nt});
    near.longName = "Near with a long name";
    Node four = withRecords(fileNode("FOUR.TXT", 1), {record(kLongNameSpace, "4", true), record(kNfsNameSpace, "4", true),
                                                     record(kMacNameSpace, "4", true), record(kNtNameSpace, "4", true)});
    VolumeContents contents{.nodes = {folderNode("DOCS", {report}), near, four, fileNode("PLAIN.TXT", 1)}};
    contents.rawEntries.push_back(RawEntry{}); // a zero entry without a position
    ASSERT_NO_FATAL_FAILURE(build(contents));

    // DOCS 1, REPORT 2, NEAR 4 (its two followers need slots 1..3), FOUR 8
    // (four followers start a sector), PLAIN 13, the raw entry 14; the other
    // records start the next sector.
    const ManifestEntry& r = entry("REPORT.DOC");
    EXPECT_EQ(storedChain(2), (std::vector<std::uint32_t>{16, 17, 18}));
    EXPECT_EQ(nameIn(at(5)), "Near with a long name");
    EXPECT_EQ(storedChain(4), (std::vector<std::uint32_t>{6, 30}));
    EXPECT_EQ(storedChain(8), (std::vector<std::uint32_t>{9, 10, 11, 12}));
    EXPECT_EQ(entry("PLAIN.TXT").position, 13u);
    EXPECT_EQ(readU32(at(13), kDetNameList), 0u);
    EXPECT_EQ(manifest().entries.size(), 5u) << "records are no entries of their own";

    const char* names[] = {"Quarterly Report 1998.doc", "quarterly-report.doc", "Quarterly Report"};
    for (std::uint32_t k = 0; k < 3; ++k) {
        const DetEntry bytes = at(16 + k);
        EXPECT_EQ(readU32(bytes, kDetParentId), entry("DOCS").ownId);
        EXPECT_EQ(readU32(bytes, kDetAttributes), 0x21u);
        EXPECT_EQ(bytes[kDetNameSpace], (std::array{kLongNameSpace, kNfsNameSpace, kMacNameSpace})[k]);
        EXPECT_EQ(nameIn(bytes), names[k]);
        EXPECT_EQ(bytes[kDetNfsTotalLength], k == 1 ? 20u : 0u);
        EXPECT_EQ(readU32(bytes, kDetOwnId), r.position) << "PrimaryEntry";
        EXPECT_EQ(bytes, at(16 + k, 1)) << "DET copy 2 holds the same record";
    }
    EXPECT_EQ(r.name, names[0]);
    EXPECT_EQ(r.dosName, "REPORT.DOC");
    ASSERT_EQ(r.chain().size(), 3u);
    EXPECT_EQ(r.chain()[1].name, names[1]);
    EXPECT_EQ(r.nameSpaceRecords()[0].next, 17u);
    EXPECT_EQ(r.nameSpaceRecords()[2].primaryEntry, 2u);
    EXPECT_EQ(entry("NEAR.TXT").name, "near") << "the chain's name before the next-slot long name; NT is not shown";
    EXPECT_EQ(*entry("NEAR.TXT").chainName(kNtNameSpace), "Report (NT).doc");
}

TEST_F(NameSpaces, ShownNamesAndBrokenChainsAsTheReaderTakesThem)
{
    const auto file = [](std::string dos, std::vector<NameSpaceRecord> records) {
        return withRecords(fileNode(std::move(dos), 1), std::move(records));
    };
    Node emptyNext = file("EMPTYNXT.TXT", {record(4, "chained")});
    emptyNext.longName = std::string("\0x", 2);
    Node orphan = file("ORPHAN.TXT", {record(4, "unlinked")});
    orphan.nameList = 0;
    ASSERT_NO_FATAL_FAILURE(build({
        file("LOOP.TXT", {{.nameSpace = 4, .name = "loops back", .next = 1}}),
        file("A.TXT", {record(1, "mac a"), record(2, "nfs a")}),
        file("C.TXT", {record(3, "ftam c")}),
        file("WRONG.TXT", {{.nameSpace = 4, .name = "not mine", .primaryEntry = 77}, record(2, "after")}),
        file("OUT.TXT", {{.nameSpace = 4, .name = "goes outside", .next = 0xFFFFFF}}),
        file("TODOS.TXT", {{.nameSpace = 1, .name = "to a DOS entry", .next = 1}}),
        file("FREE.TXT", {{.nameSpace = 4, .name = "marked free", .parentId = 0xFFFFFFFF}}),
        file("EMPTY.TXT", {{.nameSpace = 4, .oddName = true}, record(2, "nfs after empty")}),
        file("CLAMP.TXT", {{.nameSpace = 4, .name = std::string(90, 'L'), .oddName = true, .nameLength = 200}}),
        file("MAC32.TXT", {{.nameSpace = 1, .name = std::string(32, 'M'), .oddName = true}}),
        file("CUT.TXT", {record(4, std::string("cut\0here", 8))}),
        file("NEAR.TXT", {{.nameSpace = 4, .name = "adjacent, not mine", .adjacent = true, .primaryEntry = 0}}),
        emptyNext,
        orphan,
    }));
    const std::vector<std::tuple<std::string, std::string, ChainEnd>> expected = {
        {"LOOP.TXT", "loops back", ChainEnd::Revisited},
        {"A.TXT", "nfs a", ChainEnd::Zero},
        {"C.TXT", "C.TXT", ChainEnd::Zero},
        {"WRONG.TXT", "WRONG.TXT", ChainEnd::OtherPrimary},
        {"OUT.TXT", "goes outside", ChainEnd::Outside},
        {"TODOS.TXT", "to a DOS entry", ChainEnd::DosRecord},
        {"FREE.TXT", "FREE.TXT", ChainEnd::NotRecord},
        {"EMPTY.TXT", "nfs after empty", ChainEnd::Zero},
        {"CLAMP.TXT", std::string(80, 'L'), ChainEnd::Zero},
        {"MAC32.TXT", std::string(32, 'M'), ChainEnd::Zero},
        {"CUT.TXT", "cut", ChainEnd::Zero},
        {"NEAR.TXT", "adjacent, not mine", ChainEnd::OtherPrimary}, // the next-slot rule takes it
        {"EMPTYNXT.TXT", "chained", ChainEnd::Zero}, // the next slot is not consulted
        {"ORPHAN.TXT", "ORPHAN.TXT", ChainEnd::Zero}, // its record starts the next sector
    };
    for (const auto& [dos, name, end] : expected) {
        EXPECT_EQ(entry(dos).name, name) << dos;
        EXPECT_EQ(entry(dos).chainEnd(), end) << dos;
    }
    EXPECT_EQ(at(entry("CLAMP.TXT").nameList)[kDetNameLength], 200u);
    EXPECT_EQ(entry("EMPTY.TXT").chain().size(), 2u) << "the empty name is passed over";
    EXPECT_EQ(entry("ORPHAN.TXT").nameSpaceRecords().size(), 1u) << "written, not linked";
}

TEST_F(NameSpaces, TheReaderTakesAtMostEightLinks)
{
    // X (position 1) chains its five records into five of Y that name X as their primary entry.
    std::vector<NameSpaceRecord> xs, ys;
    for (std::uint8_t ns = kMacNameSpace; ns <= kNtNameSpace; ++ns) {
        xs.push_back({.nameSpace = ns, .name = "x" + std::to_string(ns), .position = 99u + ns});
        ys.push_back({.nameSpace = ns, .name = "y", .position = 104u + ns, .primaryEntry = 1});
    }
    xs.back().next = 105;
    ASSERT_NO_FATAL_FAILURE(build({withRecords(fileNode("X.TXT", 1), xs), withRecords(fileNode("Y.TXT", 1), ys)}));
    EXPECT_EQ(storedChain(1).size(), 10u);
    EXPECT_EQ(entry("X.TXT").chain().size(), kMaxNameSpaceLinks);
    EXPECT_EQ(entry("X.TXT").chainEnd(), ChainEnd::LinkLimit);
    EXPECT_EQ(entry("X.TXT").name, "x4");
    EXPECT_EQ(entry("Y.TXT").name, "Y.TXT");
}

TEST_F(NameSpaces, RootEntryInBothTableStyles)
{
    RootRecord root{.nameSpaces = {kDosNameSpace, kLongNameSpace, kNfsNameSpace}, .volumeFlags = 0x06,
                    .created = packDateTime(1997, 5, 4, 3, 2, 0), .records = {record(kLongNameSpace, "")}};
    root.records[0].position = 30;
    ASSERT_NO_FATAL_FAILURE(build(VolumeContents{.root = root}));
    DetEntry bytes = at(0);
    EXPECT_EQ(readU32(bytes, 0), 0xFFFFFFFDu);
    EXPECT_EQ((std::vector<std::uint8_t>(bytes.begin() + 11, bytes.begin() + 16)), (std::vector<std::uint8_t>{3, 0, 4, 2, 0}));
    EXPECT_EQ(bytes[kRootVolumeFlags], 0x06u);
    EXPECT_EQ(readU32(bytes, kRootCreated), root.created);
    EXPECT_EQ(storedChain(0), (std::vector<std::uint32_t>{30}));
    EXPECT_EQ(readU32(at(30), kDetParentId), 0xFFFFFFFDu);
    EXPECT_EQ(manifest().nameSpaces, (std::vector<std::string>{"DOS", "LONG", "NFS"}));
    EXPECT_EQ(manifest().created, root.created);

    const auto nameSpacesOf = [&](RootRecord r) {
        build(VolumeContents{.root = r});
        return manifest().nameSpaces;
    };
    // Flag 0x20 selects nibbles, low nibble first at 16.
    EXPECT_EQ(nameSpacesOf({.nameSpaces = {0, 1, 2, 4, 5}, .volumeFlags = 0x20}),
              (std::vector<std::string>{"DOS", "MAC", "NFS", "LONG", "NT"}));
    bytes = at(0);
    EXPECT_EQ((std::vector<std::uint8_t>(bytes.begin() + 12, bytes.begin() + 19)),
              (std::vector<std::uint8_t>{0, 0, 0, 0, 0x10, 0x42, 0x05}));
    // Nibbles under flags that select bytes read as bytes: 0, 0, 0, 0, 0x10.
    EXPECT_EQ(nameSpacesOf({.nameSpaces = {0, 1, 2, 4, 5}, .table = NameSpaceTable::Nibbles}),
              (std::vector<std::string>{"DOS"}));
    // At most the table's size, names once, unknown codes skipped, DOS when none is left.
    EXPECT_EQ(nameSpacesOf({.nameSpaces = {4, 9, 0, 4}, .nameSpaceCount = 0xFF}), (std::vector<std::string>{"LONG", "DOS"}));
    EXPECT_EQ(nameSpacesOf({.nameSpaces = {4}, .nameSpaceCount = 0}), (std::vector<std::string>{"LONG"}));
    EXPECT_EQ(nameSpacesOf({.nameSpaces = {9}}), (std::vector<std::string>{"DOS"}));

    // Without root settings: FD FF FF FF and zeros; DOS only.
    ASSERT_NO_FATAL_FAILURE(build({fileNode("A.TXT", 1)}));
    bytes = at(0);
    EXPECT_TRUE(std::all_of(bytes.begin() + 4, bytes.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(manifest().nameSpaces, (std::vector<std::string>{"DOS"}));
}

TEST_F(NameSpaces, ModificationStampsGeneratedChainsAndTheDemo)
{
    Node modified = fileNode("MOD.TXT", 1);
    modified.modifiedDateTime = packDateTime(2001, 2, 3, 4, 5, 6);
    ASSERT_NO_FATAL_FAILURE(build(VolumeContents{
        .nodes = {modified, fileNode("PLAIN.TXT", 1)},
        .generate = GeneratedTree{.entries = 30, .deletedEvery = 0, .chainedLongNameEvery = 4}}));
    EXPECT_EQ(readU32(at(1), kDetModifiedDateTime), *modified.modifiedDateTime);
    EXPECT_EQ(entry("MOD.TXT").modifiedDateTime, *modified.modifiedDateTime);
    EXPECT_EQ(entry("PLAIN.TXT").modifiedDateTime, 0u);
    const ManifestEntry& generated = entry("F0000008.DAT");
    EXPECT_EQ(generated.name, "Generated document 8.txt");
    EXPECT_GT(generated.nameList, manifest().entries.back().position);
    EXPECT_EQ(std::count_if(manifest().entries.begin(), manifest().entries.end(),
                            [](const ManifestEntry& e) { return e.nameList != 0; }),
              30 / 4);

    const auto demo = planImage(demoDiskSpec());
    ASSERT_TRUE(demo) << demo.error();
    EXPECT_EQ(demo->volume("SYS")->nameSpaces, (std::vector<std::string>{"DOS", "LONG"}));
    const ManifestEntry* minutes = demo->volume("SYS")->find("Meeting Minutes March.doc");
    ASSERT_NE(minutes, nullptr);
    EXPECT_EQ(minutes->nameList, minutes->position + 1);
}

TEST(NameSpaceDescription, ReadsTheKeysAndRefusesBadValues)
{
    const auto parsed = parseDescriptionText(R"({"totalSectors": "auto", "partitions": [{"start": 2048, "size": "auto",
        "volumes": [{"name": "SYS", "contents": {
          "root": {"nameSpaces": ["DOS", "LONG", 2], "nameSpaceCount": 4, "table": "nibbles", "volumeFlags": "0x22",
                   "created": "1996-09-12 10:00:00", "records": [{"nameSpace": "LONG", "position": 60}]},
          "tree": [{"file": "REPORT.DOC", "modified": "1999-01-02 03:04:06", "nameList": 7, "nameSpaceRecords": [
              {"nameSpace": "LONG", "name": "Quarterly Report.doc", "adjacent": true},
              {"nameSpace": 2, "name": {"hex": "61 00 62"}, "totalLength": 60, "position": 70, "parentId": 5,
               "primaryEntry": 6, "next": "0x10"},
              {"nameSpace": "MAC", "name": "", "oddName": true, "nameLength": 200}]}],
          "generate": {"entries": 10, "chainedLongNameEvery": 3}}}]}]})");
    ASSERT_TRUE(parsed) << parsed.error();
    const VolumeContents& c = *parsed->partitions[0].netware->segments[0].contents;
    EXPECT_EQ(c.root->nameSpaces, (std::vector<std::uint8_t>{0, 4, 2}));
    EXPECT_EQ(c.root->table, NameSpaceTable::Nibbles);
    EXPECT_EQ(c.root->created, packDateTime(1996, 9, 12, 10, 0, 0));
    const Node& report = c.nodes[0];
    EXPECT_EQ(report.modifiedDateTime, packDateTime(1999, 1, 2, 3, 4, 6));
    const NameSpaceRecord& nfs = report.nameSpaceRecords[1];
    EXPECT_EQ(nfs.name, std::string("a\0b", 3));
    EXPECT_EQ(std::tuple(nfs.totalLength, nfs.position, nfs.parentId, nfs.primaryEntry, nfs.next),
              std::tuple(std::optional<std::uint8_t>(60), std::optional<std::uint32_t>(70), std::optional<std::uint32_t>(5),
                         std::optional<std::uint32_t>(6), std::optional<std::uint32_t>(16)));
    EXPECT_EQ(report.nameSpaceRecords[2].nameLength, 200);
    const auto layout = planImage(*parsed);
    ASSERT_TRUE(layout) << layout.error();
    EXPECT_EQ(layout->volume("SYS")->nameSpaces, (std::vector<std::string>{"DOS", "LONG", "NFS"}));
    EXPECT_EQ(layout->volume("SYS")->entries[0].name, "Quarterly Report.doc") << "7 is a DOS entry: the next slot names it";

    const auto contents = [](const std::string& keys) {
        return R"({"sizeMiB": 4, "partitions": [{"start": 64, "size": 8000, "volumes": [{"name": "A", "contents": {)" + keys
            + "}}]}]}";
    };
    const auto file = [&](const std::string& records) {
        return contents(R"("tree": [{"file": "A", "nameSpaceRecords": [)" + records + "]}]");
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {file(R"({"nameSpace": "LONGER"})"), "nameSpaceRecords[0].nameSpace: expected a name-space code or \"MAC\""},
        {file(R"({"nameSpace": 6, "name": "x"})"), "A: nameSpaceRecords[0]: the name space must be 1 (MAC), 2 (NFS)"},
        {file(R"({"nameSpace": "MAC", "name": "12345678901234567890123456789012"})"),
         "A: nameSpaceRecords[0]: the MAC name must have 1 to 31 bytes, not 32 (oddName allows 0 to 108)"},
        {file(R"({"nameSpace": 4, "name": "a"}, {"nameSpace": "LONG", "name": "b"})"),
         "A: nameSpaceRecords: two records of name space LONG"},
        {file(R"({"nameSpace": 4, "name": "a", "adjacent": true, "position": 9})"), "give either position or adjacent"},
        {contents(R"("rawEntries": [{"position": 5, "hex": "00"}], "tree": [{"file": "A", "nameSpaceRecords": [)"
                  R"({"nameSpace": 4, "name": "a", "position": 5}]}])"),
         "A: nameSpaceRecords[0]: position 5 is taken"},
        {contents(R"("tree": [{"file": "A", "modified": "1999-01-01", "modifiedDateTime": 1}])"),
         "give either \"modified\" or \"modifiedDateTime\", not both"},
        {contents(R"("root": {"table": "words"})"), "contents.root.table: expected \"bytes\" or \"nibbles\""},
        {contents(R"("root": {"nameSpaces": [0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4]})"),
         "root: the byte table holds at most 10 name spaces, not 11"},
        {contents(R"("root": {"table": "nibbles", "nameSpaces": [0, 16]})"), "root.nameSpaces[1]: 16 does not fit"},
        {contents(R"("root": {}, "rawEntries": [{"position": 0, "hex": "00"}])"), "root: position 0 holds a raw entry"},
    };
    for (const auto& [description, message] : cases) {
        const auto read = parseDescriptionText(description);
        const auto planned = read ? planImage(*read) : Result<BuiltLayout>(Error{read.error()});
        ASSERT_FALSE(planned) << description;
        EXPECT_NE(planned.error().find(message), std::string::npos) << planned.error();
    }
}

TEST(NameSpaceManifestJson, ListsNamesChainsAndRootFields)
{
    Node file = withRecords(fileNode("\x81" "BER.TXT", 3), {record(kNfsNameSpace, "nfs\x81"), record(kFtamNameSpace, "ftam")});
    file.modifiedDateTime = 99;
    const auto layout = planImage(singleVolumeDisk(
        "SYS", 8, VolumeContents{.nodes = {file, fileNode("PLAIN.TXT", 1)}, .root = RootRecord{.nameSpaces = {0, 4}, .created = 7}}));
    ASSERT_TRUE(layout) << layout.error();
    std::ostringstream text;
    writeManifestJson(*layout, text);
    const auto volume = nlohmann::json::parse(text.str())["volumes"][0];
    EXPECT_EQ(volume["nameSpaces"], nlohmann::json::array({"DOS", "LONG"}));
    EXPECT_EQ(volume["created"], 7);
    const auto& e = volume["entries"][0];
    EXPECT_EQ(e["nameHex"], "6e667381");
    EXPECT_EQ(e["dosNameHex"], "814245522e545854");
    EXPECT_EQ(e["modifiedDateTime"], 99);
    EXPECT_EQ(e["nameList"], 4);
    EXPECT_EQ(e["chain"][0]["nameHex"], "6e667381");
    EXPECT_EQ(e["chain"][1], (nlohmann::json{{"position", 5}, {"nameSpace", 3}})) << "FTAM names are not taken";
    EXPECT_EQ(e["chainEnd"], "zero");
    EXPECT_EQ(e["nameSpaceRecords"][1],
              (nlohmann::json{{"position", 5}, {"nameSpace", 3}, {"nameLength", 4}, {"primaryEntry", 1}, {"next", 0}}));
    EXPECT_EQ(volume["entries"][1]["dosName"], "PLAIN.TXT");
    EXPECT_FALSE(volume["entries"][1].contains("chain"));
}

} // namespace
} // namespace tamsin::imagebuilder
