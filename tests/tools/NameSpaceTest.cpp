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

NameSpaceRecord record(std::uint8_t nameSpace, std::string name)
{
    NameSpaceRecord r;
    r.nameSpace = nameSpace;
    r.name = std::move(name);
    return r;
}

Node withRecords(Node node, std::vector<NameSpaceRecord> records)
{
    node.nameSpaceRecords = std::move(records);
    return node;
}

DiskSpec diskWith(VolumeContents contents)
{
    SegmentSpec segment;
    segment.name = "SYS";
    segment.sectorsPerBlock = 1;
    segment.contents = std::move(contents);
    PartitionSpec partition;
    partition.startSector = 64;
    partition.netware.emplace();
    partition.netware->hotfixLength = 128;
    partition.netware->segments.push_back(std::move(segment));
    DiskSpec disk;
    disk.partitions.push_back(std::move(partition));
    return disk;
}

DiskSpec diskWith(std::vector<Node> nodes)
{
    VolumeContents contents;
    contents.nodes = std::move(nodes);
    return diskWith(std::move(contents));
}

std::string nameIn(const DetEntry& entry)
{
    return {reinterpret_cast<const char*>(entry.data()) + kDetName, entry[kDetNameLength]};
}

class NameSpaces : public ::testing::Test {
protected:
    void build(const DiskSpec& disk)
    {
        auto built = writeImage(disk, image.path());
        ASSERT_TRUE(built) << built.error();
        layout = std::move(*built);
    }
    const VolumeManifest& manifest() const { return *layout.partitions[0].segments[0].manifest; }
    const ManifestEntry& entry(std::string_view dosName) const
    {
        for (const ManifestEntry& e : manifest().entries)
            if (e.dosName == dosName)
                return e;
        throw std::runtime_error("no entry " + std::string(dosName));
    }
    DetEntry at(std::uint32_t position, int copy = 0) const
    {
        const VolumeReadBack r(image, manifest().startSector, manifest().sectorsPerBlock);
        return r.detEntry(manifest().det[copy].blocks, position);
    }
    // The positions of the chain from a DOS entry as stored, up to `limit` links.
    std::vector<std::uint32_t> storedChain(std::uint32_t dosPosition, std::size_t limit = 10) const
    {
        std::vector<std::uint32_t> chain;
        for (std::uint32_t p = readU32(at(dosPosition), kDetNameList); p != 0 && chain.size() < limit;
             p = readU32(at(p), kDetNameList))
            chain.push_back(p);
        return chain;
    }

    ImageFile image;
    BuiltLayout layout;
};

TEST_F(NameSpaces, RecordsAreChainedFromTheDosEntryAndPlacedAfterEverythingElse)
{
    Node report = withRecords(fileNode("REPORT.DOC", 100), {record(kLongNameSpace, "Quarterly Report 1998.doc"),
                                                            record(kNfsNameSpace, "quarterly-report.doc"),
                                                            record(kMacNameSpace, "Quarterly Report")});
    report.attributes = 0x21;
    NameSpaceRecord nt = record(kNtNameSpace, "Report (NT).doc");
    nt.position = 20;
    Node placed = withRecords(fileNode("PLACED.TXT", 1), {nt});
    VolumeContents contents;
    contents.nodes = {folderNode("DOCS", {report, placed}), fileNode("PLAIN.TXT", 1)};
    contents.rawEntries.push_back(RawEntry{}); // a zero entry without a position
    ASSERT_NO_FATAL_FAILURE(build(diskWith(contents)));

    const ManifestEntry& docs = entry("DOCS");
    const ManifestEntry& r = entry("REPORT.DOC");
    const ManifestEntry& p = entry("PLACED.TXT");
    EXPECT_EQ(docs.position, 1u);
    EXPECT_EQ(r.position, 2u);
    EXPECT_EQ(p.position, 3u);
    EXPECT_EQ(entry("PLAIN.TXT").position, 4u);
    // The raw entry takes 5; the records follow from the next sector on, in
    // chain order; 20 was given.
    const std::vector<std::uint32_t> chain = storedChain(r.position);
    EXPECT_EQ(chain, (std::vector<std::uint32_t>{8, 9, 10}));
    EXPECT_EQ(storedChain(p.position), (std::vector<std::uint32_t>{20}));
    EXPECT_EQ(manifest().detPositions, 21u);

    const std::array<std::pair<std::uint8_t, std::string>, 3> expected = {
        std::pair{kLongNameSpace, "Quarterly Report 1998.doc"}, {kNfsNameSpace, "quarterly-report.doc"},
        {kMacNameSpace, "Quarterly Report"}};
    for (std::size_t k = 0; k < chain.size(); ++k) {
        SCOPED_TRACE(k);
        const DetEntry bytes = at(chain[k]);
        EXPECT_EQ(readU32(bytes, kDetParentId), docs.ownId) << "the DOS entry's parent";
        EXPECT_EQ(readU32(bytes, kDetAttributes), 0x21u) << "the DOS entry's attributes";
        EXPECT_EQ(bytes[kDetNameSpace], expected[k].first);
        EXPECT_EQ(nameIn(bytes), expected[k].second);
        EXPECT_EQ(readU32(bytes, kDetOwnId), r.position) << "PrimaryEntry is the DOS entry's position";
        EXPECT_EQ(bytes[kDetNfsTotalLength], k == 1 ? expected[k].second.size() : 0u);
        EXPECT_EQ(bytes, at(chain[k], 1)) << "DET copy 2 holds the same record";
    }
    const DetEntry ntBytes = at(20);
    EXPECT_EQ(ntBytes[kDetNameSpace], kNtNameSpace);
    EXPECT_EQ(readU32(ntBytes, kDetOwnId), p.position);
    EXPECT_EQ(readU32(ntBytes, kDetNameList), 0u);
    EXPECT_EQ(readU32(at(entry("PLAIN.TXT").position), kDetNameList), 0u) << "no records, no chain";

    // The manifest: the LONG name is shown, the NT name never.
    EXPECT_EQ(r.name, "Quarterly Report 1998.doc");
    EXPECT_EQ(r.dosName, "REPORT.DOC");
    EXPECT_EQ(r.nameList, 8u);
    ASSERT_EQ(r.chain().size(), 3u);
    EXPECT_EQ(r.chain()[1].position, 9u);
    EXPECT_EQ(r.chain()[1].name, "quarterly-report.doc");
    EXPECT_EQ(r.chainEnd(), ChainEnd::Zero);
    ASSERT_EQ(r.nameSpaceRecords().size(), 3u);
    EXPECT_EQ(r.nameSpaceRecords()[2].position, 10u);
    EXPECT_EQ(r.nameSpaceRecords()[2].nameSpace, kMacNameSpace);
    EXPECT_EQ(r.nameSpaceRecords()[2].nameLength, 16u);
    EXPECT_EQ(r.nameSpaceRecords()[2].primaryEntry, 2u);
    EXPECT_EQ(r.nameSpaceRecords()[0].next, 9u);
    EXPECT_EQ(p.name, "PLACED.TXT") << "NT names are not shown";
    EXPECT_EQ(*p.chainName(kNtNameSpace), "Report (NT).doc");
    EXPECT_EQ(manifest().entries.size(), 4u) << "records are not entries of their own";
}

TEST_F(NameSpaces, ShownNamePrefersLongThenNfsThenMacAndTheChainOverTheNextSlot)
{
    Node nfsAndMac = withRecords(fileNode("A.TXT", 1), {record(kMacNameSpace, "mac a"), record(kNfsNameSpace, "nfs a")});
    Node macOnly = withRecords(fileNode("B.TXT", 1), {record(kMacNameSpace, "mac b")});
    Node ftamOnly = withRecords(fileNode("C.TXT", 1), {record(kFtamNameSpace, "ftam c")});
    // A long-name entry in the next slot and a chained LONG record: the chain wins.
    Node both = withRecords(fileNode("D.TXT", 1), {record(kLongNameSpace, "chained d")});
    both.longName = "next slot d";
    // Real servers often put the record right after the DOS entry: chained and adjacent.
    NameSpaceRecord adjacent = record(kLongNameSpace, "adjacent e");
    adjacent.adjacent = true;
    Node near = withRecords(fileNode("E.TXT", 1), {adjacent, record(kNfsNameSpace, "nfs e")});
    // The next-slot rule is not consulted when the chain gives a name, even
    // one that would cut the name to nothing.
    Node emptyNext = withRecords(fileNode("F.TXT", 1), {record(kLongNameSpace, "chained f")});
    emptyNext.longName = std::string("\0f", 2);
    ASSERT_NO_FATAL_FAILURE(build(diskWith({nfsAndMac, macOnly, ftamOnly, both, near, emptyNext})));

    EXPECT_EQ(entry("A.TXT").name, "nfs a");
    EXPECT_EQ(entry("B.TXT").name, "mac b");
    EXPECT_EQ(entry("C.TXT").name, "C.TXT") << "FTAM names are not shown";
    EXPECT_EQ(entry("D.TXT").name, "chained d");
    const ManifestEntry& e = entry("E.TXT");
    EXPECT_EQ(e.name, "adjacent e");
    EXPECT_EQ(e.nameSpaceRecords()[0].position, e.position + 1);
    EXPECT_EQ(e.position / kEntriesPerSector, (e.position + 1) / kEntriesPerSector) << "in the same sector";
    EXPECT_EQ(storedChain(e.position), (std::vector<std::uint32_t>{e.position + 1, e.nameSpaceRecords()[1].position}));
    EXPECT_GT(e.nameSpaceRecords()[1].position, e.position + 1) << "the NFS record goes to the end";
    EXPECT_EQ(readU32(at(entry("D.TXT").position + 1), kDetNameList), 0u) << "the next-slot entry is not chained";
    EXPECT_EQ(entry("F.TXT").name, "chained f");
}

TEST_F(NameSpaces, AdjacentRecordsShareTheSectorOfTheirDosEntry)
{
    auto adjacent = [](std::uint8_t nameSpace, std::string name) {
        NameSpaceRecord r = record(nameSpace, std::move(name));
        r.adjacent = true;
        return r;
    };
    Node two = withRecords(fileNode("TWO.TXT", 1), {adjacent(kNfsNameSpace, "two"), adjacent(kMacNameSpace, "two")});
    two.longName = "Two with a long name";
    Node four = withRecords(fileNode("FOUR.TXT", 1),
                            {adjacent(kLongNameSpace, "4"), adjacent(kNfsNameSpace, "4"), adjacent(kMacNameSpace, "4"),
                             adjacent(kNtNameSpace, "4")});
    Node split = withRecords(fileNode("SPLIT.TXT", 1), {adjacent(kNfsNameSpace, "split")});
    split.longName = "Split";
    split.longNameInNextSector = true;
    ASSERT_NO_FATAL_FAILURE(build(diskWith({fileNode("FIRST.TXT", 1), two, four, split})));

    // FIRST at 1; TWO needs three followers: slot 0 of the next sector.
    const ManifestEntry& t = entry("TWO.TXT");
    EXPECT_EQ(t.position, 4u);
    EXPECT_EQ(nameIn(at(5)), "Two with a long name");
    EXPECT_EQ(storedChain(4), (std::vector<std::uint32_t>{6, 7}));
    EXPECT_EQ(t.name, "two") << "the chain's NFS name before the next-slot long name";
    const ManifestEntry& f = entry("FOUR.TXT");
    EXPECT_EQ(f.position, 8u) << "four followers start a sector";
    EXPECT_EQ(storedChain(8), (std::vector<std::uint32_t>{9, 10, 11, 12}));
    EXPECT_EQ(f.name, "4");
    const ManifestEntry& s = entry("SPLIT.TXT");
    EXPECT_EQ(s.position % kEntriesPerSector, 3u);
    EXPECT_EQ(storedChain(s.position), (std::vector<std::uint32_t>{s.position + 2}));
    EXPECT_EQ(s.name, "split") << "the chain crosses sectors, the next-slot rule does not";
    EXPECT_EQ(entry("FIRST.TXT").position, 1u);
}

TEST_F(NameSpaces, BrokenChainsEndWhereTheReaderStops)
{
    NameSpaceRecord loop = record(kLongNameSpace, "loops back");
    loop.next = 1; // LOOP.TXT's own DOS entry
    NameSpaceRecord self = record(kNfsNameSpace, "self");
    self.position = 40;
    self.next = 40;
    NameSpaceRecord wrongPrimary = record(kLongNameSpace, "not mine");
    wrongPrimary.primaryEntry = 77;
    NameSpaceRecord outside = record(kLongNameSpace, "goes outside");
    outside.next = 0x00FFFFFF;
    NameSpaceRecord toDos = record(kMacNameSpace, "to a DOS entry");
    toDos.next = 1;
    NameSpaceRecord empty = record(kLongNameSpace, "");
    empty.oddName = true;
    NameSpaceRecord clamped = record(kLongNameSpace, std::string(90, 'L'));
    clamped.oddName = true;
    clamped.nameLength = 200;
    NameSpaceRecord mac32 = record(kMacNameSpace, std::string(32, 'M'));
    mac32.oddName = true;
    NameSpaceRecord cut = record(kLongNameSpace, std::string("cut\0here", 8));
    NameSpaceRecord nearWrong = record(kLongNameSpace, "adjacent but not mine");
    nearWrong.adjacent = true;
    nearWrong.primaryEntry = 0;
    NameSpaceRecord free = record(kLongNameSpace, "marked free");
    free.parentId = 0xFFFFFFFF;
    Node orphans = withRecords(fileNode("ORPHAN.TXT", 1), {record(kLongNameSpace, "unlinked")});
    orphans.nameList = 0;

    ASSERT_NO_FATAL_FAILURE(build(diskWith({
        withRecords(fileNode("LOOP.TXT", 1), {loop}),
        withRecords(fileNode("SELF.TXT", 1), {self}),
        withRecords(fileNode("WRONG.TXT", 1), {wrongPrimary, record(kNfsNameSpace, "after the wrong one")}),
        withRecords(fileNode("OUT.TXT", 1), {record(kMacNameSpace, "mac before"), outside}),
        withRecords(fileNode("TODOS.TXT", 1), {toDos}),
        withRecords(fileNode("EMPTY.TXT", 1), {empty, record(kNfsNameSpace, "nfs after empty")}),
        withRecords(fileNode("CLAMP.TXT", 1), {clamped}),
        withRecords(fileNode("MAC32.TXT", 1), {mac32}),
        withRecords(fileNode("CUT.TXT", 1), {cut}),
        withRecords(fileNode("NEAR.TXT", 1), {nearWrong}),
        orphans,
        withRecords(fileNode("FREE.TXT", 1), {free}),
    })));

    const ManifestEntry& loopEntry = entry("LOOP.TXT");
    ASSERT_EQ(loopEntry.position, 1u);
    EXPECT_EQ(loopEntry.name, "loops back");
    EXPECT_EQ(loopEntry.chainEnd(), ChainEnd::Revisited);
    EXPECT_EQ(readU32(at(loopEntry.nameSpaceRecords()[0].position), kDetNameList), 1u);

    const ManifestEntry& selfEntry = entry("SELF.TXT");
    EXPECT_EQ(selfEntry.name, "self");
    EXPECT_EQ(selfEntry.chain().size(), 1u);
    EXPECT_EQ(selfEntry.chainEnd(), ChainEnd::Revisited);
    EXPECT_EQ(readU32(at(40), kDetNameList), 40u);

    const ManifestEntry& wrong = entry("WRONG.TXT");
    EXPECT_EQ(readU32(at(wrong.nameList), kDetOwnId), 77u);
    EXPECT_EQ(wrong.name, "WRONG.TXT") << "the record of another file ends the chain before the NFS record";
    EXPECT_TRUE(wrong.chain().empty());
    EXPECT_EQ(wrong.chainEnd(), ChainEnd::OtherPrimary);

    const ManifestEntry& out = entry("OUT.TXT");
    EXPECT_EQ(out.name, "goes outside");
    EXPECT_EQ(out.chainEnd(), ChainEnd::Outside);

    const ManifestEntry& toDosEntry = entry("TODOS.TXT");
    EXPECT_EQ(toDosEntry.name, "to a DOS entry");
    EXPECT_EQ(toDosEntry.chainEnd(), ChainEnd::DosRecord);

    const ManifestEntry& emptyEntry = entry("EMPTY.TXT");
    EXPECT_EQ(at(emptyEntry.nameList)[kDetNameLength], 0u);
    EXPECT_EQ(emptyEntry.name, "nfs after empty") << "an empty name is not taken, the chain goes on";
    EXPECT_EQ(emptyEntry.chain().size(), 2u);

    EXPECT_EQ(at(entry("CLAMP.TXT").nameList)[kDetNameLength], 200u);
    EXPECT_EQ(entry("CLAMP.TXT").name, std::string(80, 'L'));
    EXPECT_EQ(entry("MAC32.TXT").name, std::string(32, 'M'));
    EXPECT_EQ(entry("CUT.TXT").name, "cut");

    const ManifestEntry& nearEntry = entry("NEAR.TXT");
    EXPECT_EQ(nearEntry.chainEnd(), ChainEnd::OtherPrimary);
    EXPECT_EQ(nearEntry.name, "adjacent but not mine") << "the next-slot rule still takes the LONG entry";

    EXPECT_EQ(entry("FREE.TXT").name, "FREE.TXT") << "an entry with a special parent is no name-space record";
    EXPECT_EQ(entry("FREE.TXT").chainEnd(), ChainEnd::NotRecord);

    const ManifestEntry& orphan = entry("ORPHAN.TXT");
    EXPECT_EQ(orphan.nameList, 0u);
    EXPECT_EQ(orphan.name, "ORPHAN.TXT") << "the records after it start the next sector";
    EXPECT_EQ(orphan.nameSpaceRecords().size(), 1u) << "written, not linked";
    EXPECT_EQ(at(orphan.nameSpaceRecords()[0].position)[kDetNameSpace], kLongNameSpace);
}

TEST_F(NameSpaces, TheReaderTakesAtMostEightLinks)
{
    // X at position 1 chains five records and goes on into five records of
    // Y that name X as their primary entry: the ninth record is not read.
    std::vector<NameSpaceRecord> xs;
    std::vector<NameSpaceRecord> ys;
    for (std::uint8_t ns = kMacNameSpace; ns <= kNtNameSpace; ++ns) {
        NameSpaceRecord x = record(ns, "x" + std::to_string(ns));
        x.position = 99 + ns;
        xs.push_back(x);
        NameSpaceRecord y = record(ns, "y" + std::to_string(ns));
        y.position = 104 + ns;
        y.primaryEntry = 1;
        ys.push_back(y);
    }
    xs.back().next = 105;
    ASSERT_NO_FATAL_FAILURE(build(diskWith({withRecords(fileNode("X.TXT", 1), xs), withRecords(fileNode("Y.TXT", 1), ys)})));
    const ManifestEntry& x = entry("X.TXT");
    ASSERT_EQ(x.position, 1u);
    EXPECT_EQ(storedChain(1, 20), (std::vector<std::uint32_t>{100, 101, 102, 103, 104, 105, 106, 107, 108, 109}));
    EXPECT_EQ(x.chain().size(), kMaxNameSpaceLinks);
    EXPECT_EQ(x.chain().back().position, 107u);
    EXPECT_EQ(x.chainEnd(), ChainEnd::LinkLimit);
    EXPECT_EQ(x.name, "x4");
    EXPECT_EQ(entry("Y.TXT").chainEnd(), ChainEnd::OtherPrimary);
    EXPECT_EQ(entry("Y.TXT").name, "Y.TXT");
}

TEST_F(NameSpaces, RootEntryListsNameSpacesInBothTableStyles)
{
    // Byte table (3.x style): flags without 0x30.
    VolumeContents bytes;
    bytes.root.emplace();
    bytes.root->nameSpaces = {kDosNameSpace, kLongNameSpace, kNfsNameSpace};
    bytes.root->volumeFlags = 0x06;
    bytes.root->created = packDateTime(1997, 5, 4, 3, 2, 0);
    NameSpaceRecord longRoot = record(kLongNameSpace, "");
    NameSpaceRecord nfsRoot = record(kNfsNameSpace, "");
    nfsRoot.position = 30;
    bytes.root->records = {longRoot, nfsRoot};
    bytes.nodes = {fileNode("A.TXT", 1)};
    ASSERT_NO_FATAL_FAILURE(build(diskWith(bytes)));
    DetEntry root = at(0);
    EXPECT_EQ(readU32(root, 0), 0xFFFFFFFDu);
    EXPECT_EQ(root[kDetNameSpace], 0u);
    EXPECT_EQ(root[kRootNameSpaceCount], 3u);
    EXPECT_EQ((std::vector<std::uint8_t>(root.begin() + 12, root.begin() + 16)), (std::vector<std::uint8_t>{0, 4, 2, 0}));
    EXPECT_EQ(root[kRootVolumeFlags], 0x06u);
    EXPECT_EQ(readU32(root, kRootCreated), packDateTime(1997, 5, 4, 3, 2, 0));
    EXPECT_EQ(manifest().nameSpaces, (std::vector<std::string>{"DOS", "LONG", "NFS"}));
    EXPECT_EQ(manifest().created, packDateTime(1997, 5, 4, 3, 2, 0));
    // Root records: chained from the root's 124, the first after every other entry.
    EXPECT_EQ(storedChain(0), (std::vector<std::uint32_t>{4, 30}));
    for (std::uint32_t p : {4u, 30u}) {
        EXPECT_EQ(readU32(at(p), 0), 0xFFFFFFFDu);
        EXPECT_EQ(readU32(at(p), kDetOwnId), 0u);
    }
    EXPECT_EQ(at(4)[kDetNameSpace], kLongNameSpace);
    EXPECT_EQ(manifest().entries.size(), 1u);

    // Nibble table (4.x style): chosen by flag 0x20, low nibble first.
    VolumeContents nibbles;
    nibbles.root.emplace();
    nibbles.root->nameSpaces = {kDosNameSpace, kMacNameSpace, kNfsNameSpace, kLongNameSpace, kNtNameSpace};
    nibbles.root->volumeFlags = 0x20;
    ASSERT_NO_FATAL_FAILURE(build(diskWith(nibbles)));
    root = at(0);
    EXPECT_EQ(root[kRootNameSpaceCount], 5u);
    EXPECT_EQ((std::vector<std::uint8_t>(root.begin() + 12, root.begin() + 22)),
              (std::vector<std::uint8_t>{0, 0, 0, 0, 0x10, 0x42, 0x05, 0, 0, 0}));
    EXPECT_EQ(manifest().nameSpaces, (std::vector<std::string>{"DOS", "MAC", "NFS", "LONG", "NT"}));
    EXPECT_EQ(readU32(root, kDetNameList), 0u);

    // The manifest follows the flags, not the table asked for: nibbles under
    // flags that select the byte table read as bytes: 0, 0, 0, 0, 0x10 for
    // the count of 5, so only DOS.
    nibbles.root->volumeFlags = 0;
    nibbles.root->table = NameSpaceTable::Nibbles;
    ASSERT_NO_FATAL_FAILURE(build(diskWith(nibbles)));
    EXPECT_EQ(manifest().nameSpaces, (std::vector<std::string>{"DOS"}));

    // The count is at least 1 and at most the table; unknown codes are
    // skipped, names listed once, DOS when none is left.
    VolumeContents counted;
    counted.root.emplace();
    counted.root->nameSpaces = {kLongNameSpace, 9, kDosNameSpace, kLongNameSpace};
    counted.root->nameSpaceCount = 0xFF;
    ASSERT_NO_FATAL_FAILURE(build(diskWith(counted)));
    EXPECT_EQ(manifest().nameSpaces, (std::vector<std::string>{"LONG", "DOS"}));
    counted.root->nameSpaceCount = 0;
    counted.root->nameSpaces = {kLongNameSpace};
    ASSERT_NO_FATAL_FAILURE(build(diskWith(counted)));
    EXPECT_EQ(manifest().nameSpaces, (std::vector<std::string>{"LONG"}));
    counted.root->nameSpaces = {9};
    ASSERT_NO_FATAL_FAILURE(build(diskWith(counted)));
    EXPECT_EQ(manifest().nameSpaces, (std::vector<std::string>{"DOS"}));

    // Position 0 without the root's parent value is no root entry.
    VolumeContents planted;
    planted.rawEntries.push_back(RawEntry{.position = 0});
    planted.rawEntries[0].bytes[kRootNameSpaceCount] = 2;
    planted.rawEntries[0].bytes[kRootByteTable + 1] = kLongNameSpace;
    planted.rawEntries[0].bytes[kRootCreated] = 0x55;
    ASSERT_NO_FATAL_FAILURE(build(diskWith(planted)));
    EXPECT_EQ(manifest().nameSpaces, (std::vector<std::string>{"DOS"}));
    EXPECT_EQ(manifest().created, 0u);

    // Without root settings the root entry stays FD FF FF FF and zeros.
    ASSERT_NO_FATAL_FAILURE(build(diskWith({fileNode("A.TXT", 1)})));
    root = at(0);
    EXPECT_TRUE(std::all_of(root.begin() + 4, root.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(manifest().nameSpaces, (std::vector<std::string>{"DOS"}));
    EXPECT_EQ(manifest().created, 0u);
}

TEST_F(NameSpaces, ModificationStampsAndGeneratedChains)
{
    Node modified = fileNode("MOD.TXT", 1);
    modified.modifiedDateTime = packDateTime(2001, 2, 3, 4, 5, 6);
    VolumeContents contents;
    contents.nodes = {modified, fileNode("PLAIN.TXT", 1)};
    contents.generate = GeneratedTree{.entries = 30, .deletedEvery = 0, .chainedLongNameEvery = 4};
    ASSERT_NO_FATAL_FAILURE(build(diskWith(contents)));

    EXPECT_EQ(readU32(at(entry("MOD.TXT").position), kDetModifiedDateTime), packDateTime(2001, 2, 3, 4, 5, 6));
    EXPECT_EQ(entry("MOD.TXT").modifiedDateTime, packDateTime(2001, 2, 3, 4, 5, 6));
    EXPECT_EQ(entry("PLAIN.TXT").modifiedDateTime, 0u) << "nothing is written by default";

    int chained = 0;
    for (const ManifestEntry& e : manifest().entries) {
        if (e.nameList == 0)
            continue;
        ++chained;
        EXPECT_EQ(e.name, "Generated document " + std::to_string(std::stoul(e.dosName.substr(1, 7))) + ".txt");
        EXPECT_GT(e.nameList, manifest().entries.back().position) << "after every DOS entry";
        EXPECT_EQ(readU32(at(e.nameList), kDetOwnId), e.position);
    }
    EXPECT_EQ(chained, 30 / 4);
}

TEST(NameSpaceDemo, SysListsLongNamesAndChainsSomeOfThem)
{
    const auto layout = planImage(demoDiskSpec());
    ASSERT_TRUE(layout) << layout.error();
    const VolumeManifest& sys = *layout->volume("SYS");
    EXPECT_EQ(sys.nameSpaces, (std::vector<std::string>{"DOS", "LONG"}));
    EXPECT_EQ(sys.created, packDateTime(1996, 9, 12, 9, 0, 0));
    EXPECT_EQ(layout->volume("VOL1")->nameSpaces, (std::vector<std::string>{"DOS"}));
    for (const char* name : {"Meeting Minutes March.doc", "Project Plan.mpp", "Resignation Letter.doc"}) {
        const ManifestEntry* e = sys.find(name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_EQ(e->nameList, e->position + 1) << name;
        ASSERT_NE(e->chainName(kLongNameSpace), nullptr) << name;
    }
    EXPECT_EQ(sys.find("Quarterly Report 1998.doc")->nameList, 0u) << "the next-slot long names stay";
}

TEST(NameSpaceDescription, ParsesEveryKey)
{
    const auto parsed = parseDescriptionText(R"({
        "totalSectors": "auto",
        "partitions": [ { "start": 2048, "size": "auto", "volumes": [ { "name": "SYS", "contents": {
          "root": { "nameSpaces": ["DOS", "LONG", 2], "nameSpaceCount": 4, "table": "nibbles", "volumeFlags": "0x22",
                    "created": "1996-09-12 10:00:00", "nameList": 50,
                    "records": [ { "nameSpace": "LONG", "position": 60 } ] },
          "tree": [
            { "file": "REPORT.DOC", "modified": "1999-01-02 03:04:06", "nameList": 7, "nameSpaceRecords": [
                { "nameSpace": "LONG", "name": "Quarterly Report.doc", "adjacent": true },
                { "nameSpace": 2, "name": { "hex": "61 00 62" }, "totalLength": 60, "position": 70,
                  "parentId": 5, "primaryEntry": 6, "next": "0x10" },
                { "nameSpace": "MAC", "name": "", "oddName": true, "nameLength": 200 } ] },
            { "folder": "OLD", "modifiedDateTime": 1234 } ],
          "generate": { "entries": 10, "chainedLongNameEvery": 3 } } } ] } ] })");
    ASSERT_TRUE(parsed) << parsed.error();
    const VolumeContents& c = *parsed->partitions[0].netware->segments[0].contents;
    ASSERT_TRUE(c.root);
    EXPECT_EQ(c.root->nameSpaces, (std::vector<std::uint8_t>{0, 4, 2}));
    EXPECT_EQ(c.root->nameSpaceCount, 4);
    EXPECT_EQ(c.root->table, NameSpaceTable::Nibbles);
    EXPECT_EQ(c.root->volumeFlags, 0x22u);
    EXPECT_EQ(c.root->created, packDateTime(1996, 9, 12, 10, 0, 0));
    EXPECT_EQ(c.root->nameList, 50u);
    ASSERT_EQ(c.root->records.size(), 1u);
    EXPECT_EQ(c.root->records[0].position, 60u);
    const Node& report = c.nodes[0];
    EXPECT_EQ(report.modifiedDateTime, packDateTime(1999, 1, 2, 3, 4, 6));
    EXPECT_EQ(report.nameList, 7u);
    ASSERT_EQ(report.nameSpaceRecords.size(), 3u);
    EXPECT_EQ(report.nameSpaceRecords[0].nameSpace, kLongNameSpace);
    EXPECT_TRUE(report.nameSpaceRecords[0].adjacent);
    const NameSpaceRecord& nfs = report.nameSpaceRecords[1];
    EXPECT_EQ(nfs.name, std::string("a\0b", 3));
    EXPECT_EQ(nfs.totalLength, 60);
    EXPECT_EQ(nfs.position, 70u);
    EXPECT_EQ(nfs.parentId, 5u);
    EXPECT_EQ(nfs.primaryEntry, 6u);
    EXPECT_EQ(nfs.next, 16u);
    EXPECT_TRUE(report.nameSpaceRecords[2].oddName);
    EXPECT_EQ(report.nameSpaceRecords[2].nameLength, 200);
    EXPECT_EQ(c.nodes[1].modifiedDateTime, 1234u);
    EXPECT_EQ(c.generate->chainedLongNameEvery, 3u);

    const auto layout = planImage(*parsed);
    ASSERT_TRUE(layout) << layout.error();
    const VolumeManifest& m = *layout->volume("SYS");
    EXPECT_EQ(m.nameSpaces, (std::vector<std::string>{"DOS", "LONG", "NFS"})) << "nibble table, count 4";
    EXPECT_EQ(m.entries[0].name, "Quarterly Report.doc");
    EXPECT_EQ(m.entries[0].nameList, 7u);
}

TEST(NameSpaceDescription, RefusesBadValuesWithAClearMessage)
{
    const auto withTree = [](const std::string& tree, const std::string& more = "") {
        return R"({"sizeMiB": 4, "partitions": [{"start": 64, "size": 8000, "volumes": [{"name": "A", "contents": {)"
            + more + R"("tree": [)" + tree + "]}}]}]}";
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {withTree(R"({"file": "A", "nameSpaceRecords": [{"nameSpace": "LONGER"}]})"),
         "nameSpaceRecords[0].nameSpace: expected a name-space code or \"MAC\", \"NFS\", \"FTAM\", \"LONG\" or \"NT\""},
        {withTree(R"({"file": "A", "nameSpaceRecords": [{"name": "x"}]})"), "nameSpaceRecords[0].nameSpace: missing"},
        {withTree(R"({"file": "A", "nameSpaceRecords": [{"nameSpace": 6, "name": "x"}]})"),
         "A: nameSpaceRecords[0]: the name space must be 1 (MAC), 2 (NFS), 3 (FTAM), 4 (LONG) or 5 (NT), not 6"},
        {withTree(R"({"file": "A", "nameSpaceRecords": [{"nameSpace": "DOS", "name": "x"}]})"),
         "nameSpaceRecords[0].nameSpace: expected a name-space code or \"MAC\""},
        {withTree(R"({"file": "A", "nameSpaceRecords": [{"nameSpace": "MAC", "name": "12345678901234567890123456789012"}]})"),
         "A: nameSpaceRecords[0]: the MAC name must have 1 to 31 bytes, not 32 (oddName allows 0 to 108)"},
        {withTree(R"({"file": "A", "nameSpaceRecords": [{"nameSpace": "NFS"}]})"),
         "A: nameSpaceRecords[0]: the NFS name must have 1 to 40 bytes, not 0"},
        {withTree(R"({"file": "A", "nameSpaceRecords": [{"nameSpace": 4, "name": "a"}, {"nameSpace": "LONG", "name": "b"}]})"),
         "A: nameSpaceRecords: two records of name space LONG"},
        {withTree(R"({"file": "A", "nameSpaceRecords": [{"nameSpace": 4, "name": "a", "adjacent": true, "position": 9}]})"),
         "give either position or adjacent, not both"},
        {withTree(R"({"file": "A", "nameSpaceRecords": [{"nameSpace": 4, "name": "a", "totalLength": 3}]})"),
         "totalLength only goes with NFS records"},
        {withTree(R"({"file": "A", "nameSpaceRecords": [{"nameSpace": 4, "name": "a", "position": 5}]})",
                  R"("rawEntries": [{"position": 5, "hex": "00"}], )"),
         "A: nameSpaceRecords[0]: position 5 is taken"},
        {withTree(R"({"file": "A", "modified": "1999-01-01", "modifiedDateTime": 1})"),
         "give either \"modified\" or \"modifiedDateTime\", not both"},
        {withTree(R"({"file": "A"})", R"("root": {"table": "words"}, )"),
         "contents.root.table: expected \"bytes\" or \"nibbles\""},
        {withTree(R"({"file": "A"})", R"("root": {"volumeFlags": 256}, )"), "contents.root.volumeFlags"},
        {withTree(R"({"file": "A"})", R"("root": {"nameSpaces": [0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4]}, )"),
         "root: the byte table holds at most 10 name spaces, not 11"},
        {withTree(R"({"file": "A"})", R"("root": {"table": "nibbles", "nameSpaces": [0, 16]}, )"),
         "root.nameSpaces[1]: 16 does not fit the nibble table"},
        {withTree(R"({"file": "A"})", R"("root": {"records": [{"nameSpace": 4, "adjacent": true}]}, )"),
         "root.records[0]: root records cannot be adjacent; give a position"},
        {withTree(R"({"file": "A"})", R"("root": {}, "rawEntries": [{"position": 0, "hex": "00"}], )"),
         "root: position 0 holds a raw entry"},
        {withTree(R"({"file": "A"})", R"("generate": {"entries": 1, "chainedLongNameEvery": -1}, )"),
         "generate.chainedLongNameEvery"},
    };
    for (const auto& [description, message] : cases) {
        SCOPED_TRACE(description);
        auto parsed = parseDescriptionText(description);
        std::string error = parsed ? std::string() : parsed.error();
        if (parsed) {
            const auto layout = planImage(*parsed);
            ASSERT_FALSE(layout) << "accepted";
            error = layout.error();
        }
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

TEST(NameSpaceManifestJson, ListsNamesChainsAndRootFields)
{
    SegmentSpec segment;
    segment.name = "SYS";
    segment.contents.emplace();
    segment.contents->root.emplace();
    segment.contents->root->nameSpaces = {0, 4};
    segment.contents->root->created = 0x2468ACE0;
    Node file = withRecords(fileNode("\x81" "BER.TXT", 3), {record(kNfsNameSpace, std::string("nfs\x81", 4)),
                                                           record(kFtamNameSpace, "ftam")});
    file.modifiedDateTime = 99;
    segment.contents->nodes = {file, fileNode("PLAIN.TXT", 1)};
    PartitionSpec partition;
    partition.startSector = 100;
    partition.netware.emplace();
    partition.netware->segments = {segment};
    DiskSpec disk;
    disk.partitions = {partition};
    const auto layout = planImage(disk);
    ASSERT_TRUE(layout) << layout.error();

    std::ostringstream text;
    writeManifestJson(*layout, text);
    const auto json = nlohmann::json::parse(text.str());
    const auto& volume = json["volumes"][0];
    EXPECT_EQ(volume["nameSpaces"], nlohmann::json::array({"DOS", "LONG"}));
    EXPECT_EQ(volume["created"], 0x2468ACE0);
    const auto& e = volume["entries"][0];
    EXPECT_EQ(e["nameHex"], "6e667381");
    EXPECT_EQ(e["dosNameHex"], "814245522e545854");
    EXPECT_EQ(e["modifiedDateTime"], 99);
    EXPECT_EQ(e["nameList"], 4);
    ASSERT_EQ(e["chain"].size(), 2u);
    EXPECT_EQ(e["chain"][0]["position"], 4);
    EXPECT_EQ(e["chain"][0]["nameSpace"], 2);
    EXPECT_EQ(e["chain"][0]["nameHex"], "6e667381");
    EXPECT_EQ(e["chain"][1], (nlohmann::json{{"position", 5}, {"nameSpace", 3}})) << "FTAM names are not taken";
    EXPECT_EQ(e["chainEnd"], "zero");
    EXPECT_EQ(e["nameSpaceRecords"][1],
              (nlohmann::json{{"position", 5}, {"nameSpace", 3}, {"nameLength", 4}, {"primaryEntry", 1}, {"next", 0}}));
    const auto& plain = volume["entries"][1];
    EXPECT_EQ(plain["dosName"], "PLAIN.TXT");
    EXPECT_FALSE(plain.contains("chain"));
    EXPECT_FALSE(plain.contains("nameSpaceRecords"));
}

} // namespace
} // namespace tamsin::imagebuilder
