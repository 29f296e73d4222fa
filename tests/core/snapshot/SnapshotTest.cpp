#include "snapshot/Snapshot.h"

#include "snapshot/SnapshotDiskCheck.h"
#include "snapshot/SnapshotFileIo.h"

#include "disk/FileDevice.h"
#include "mount/Mount.h"
#include "mount/MountedVolume.h"

#include "FaultyDevice.h"
#include "SampleVolumes.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace tamsin {
namespace {

// Builds snapshot bytes field by field, independently of the writer.
class Bytes {
public:
    Bytes& text(const std::string& s)
    {
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& u8(std::uint8_t v) { return put(v, 1); }
    Bytes& u16(std::uint16_t v) { return put(v, 2); }
    Bytes& u32(std::uint32_t v) { return put(v, 4); }
    Bytes& u64(std::uint64_t v) { return put(v, 8); }
    Bytes& node(std::uint8_t attributes, const std::string& name, std::uint32_t parent, std::uint32_t own,
                std::uint32_t size, std::uint32_t ordinal)
    {
        u32(static_cast<std::uint32_t>(name.size() + 40)).u8(attributes).u8(0).text(name);
        return u32(parent).u32(own).u32(size).u32(0x1234).u32(0x24676AB5).u32(0).u32(ordinal).u32(900).u32(901).u16(2);
    }
    std::vector<std::uint8_t> data;

private:
    Bytes& put(std::uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i)
            data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
};

Bytes header(const std::string& magic = "vsp4.02", const std::string& version = "1.0")
{
    Bytes b;
    b.text(magic).text(version).u16(1).u16(3).u32(4).text("VOL1");
    b.u32(1).u32(2).u32(3).u32(4).u64(204800).u64(68768).u32(25600).u32(8).u16(1).u16(2);
    return b;
}

// One folder whose stored ordinal (0, a placeholder's) is not its position,
// a placeholder Dir0, and a file inside the placeholder.
Bytes sampleFile()
{
    Bytes b = header();
    b.u32(2).node(0x10, "DOCS", 0, 5, 0, 0).node(0x10, "Dir0", 0, 77, 0, 0);
    b.u32(1).node(0x20, "LOST.TXT", 77, 9, 1234, 0);
    for (std::uint32_t i = 0; i < 140; ++i)
        b.u32(i == 3 ? 4242 : 0);
    b.u32(3).u32(1).u32(0).u32(70).u32(1).u32(0xFFFFFFFF).u32(2);
    return b;
}

class SnapshotTest : public ::testing::Test {
protected:
    std::string write(const Bytes& bytes, const std::string& name = "snap.VSNP")
    {
        const auto path = (dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data.data()),
                                                    static_cast<std::streamsize>(bytes.data.size()));
        return path;
    }

    static std::vector<std::uint8_t> read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // A volume standing in for one already mounted, to check failures leave it alone.
    void mountSomething()
    {
        volume.releaseMount();
        volume.volumeName = "SYS";
        volume.sectorsPerBlock = 16;
        TreeNode folder;
        folder.attributes = 0x10;
        folder.name = "KEEP";
        folder.ownId = 1;
        volume.addFolderNode(folder);
        volume.rebuildIndexAndTree();
    }

    void expectUntouched()
    {
        EXPECT_EQ(volume.volumeName, "SYS");
        ASSERT_EQ(volume.folderCount(), 1u);
        EXPECT_EQ(volume.folders[0].name, "KEEP");
        EXPECT_EQ(volume.tree.size(), 2u);
    }

    test::TempDir dir;
    MountedVolume volume;
};

TEST_F(SnapshotTest, LoadsAFileBuiltByteByByteAndSavesTheSameBytes)
{
    const std::string path = write(sampleFile());
    std::uint16_t disk = 0;
    const SnapshotResult result = loadSnapshot(volume, path, &disk);
    ASSERT_TRUE(result.ok()) << static_cast<int>(result.status);
    EXPECT_EQ(disk, 1);
    EXPECT_EQ(volume.volumeIndex, 3);
    EXPECT_EQ(volume.volumeName, "VOL1");
    EXPECT_EQ(volume.startSector, 68768u);
    EXPECT_EQ(volume.sizeSectors, 204800u);
    EXPECT_EQ(volume.chosenDetCopy, 2);
    ASSERT_EQ(volume.folderCount(), 2u);
    EXPECT_EQ(volume.folders[1].name, "Dir0");
    EXPECT_EQ(volume.folders[1].ordinal, 1u);  // renumbered by position
    EXPECT_EQ(volume.files[0].entrySlot, 2);
    EXPECT_EQ(volume.files[0].mirrorSector, 901u);
    EXPECT_EQ(volume.suballocationRoots[3], 4242u);
    ASSERT_EQ(volume.chosenFatList.length(), 3u);
    EXPECT_EQ(volume.chosenFatList.nodes[1].block, 70u);
    EXPECT_EQ(volume.chosenFatList.nodes[1].sequence, 1u);
    EXPECT_TRUE(volume.chosenFatList.endedNormally);
    // The placeholder comes back under the root with its file.
    EXPECT_EQ(volume.tree.item(volume.folders[1].treeItem).parent, FolderTree::kRootItem);
    EXPECT_EQ(volume.index.childFiles(77).size(), 1u);

    // Saving writes the same bytes but the disk number and the renumbered ordinal.
    const std::string again = (dir / "again.VSNP").string();
    ASSERT_TRUE(saveSnapshot(volume, 1, again).ok());
    Bytes expected = sampleFile();
    const std::size_t dir0Ordinal = header().data.size() + 4 + (44 + 4) + 4 + 2 + 4 + 24;
    expected.data[dir0Ordinal] = 1;
    EXPECT_EQ(read(again), expected.data);
}

TEST_F(SnapshotTest, EmptyVolumeRoundTrip)
{
    volume.volumeName = "EMPTY";
    volume.sectorsPerBlock = 8;
    appendBlock(volume.chosenFatList, 1, 0);
    appendBlock(volume.chosenFatList, 0xFFFFFFFF, 0);
    const std::string path = (dir / "E.VSNP").string();
    ASSERT_TRUE(saveSnapshot(volume, 0, path).ok());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 62 + 5 + 4 + 4 + 560 + 4 + 16);

    MountedVolume loaded;
    ASSERT_TRUE(loadSnapshot(loaded, path).ok());
    EXPECT_EQ(loaded.folderCount(), 0u);
    EXPECT_EQ(loaded.fileCount(), 0u);
    EXPECT_EQ(loaded.tree.size(), 1u);
}

TEST_F(SnapshotTest, MagicIsComparedWithoutCaseAndWrongOnesAreNamed)
{
    Bytes caps = sampleFile();
    std::copy_n("VSP4.02", 7, caps.data.begin());
    EXPECT_TRUE(loadSnapshot(volume, write(caps)).ok());

    mountSomething();
    Bytes old = sampleFile();
    std::copy_n("vsp4.01", 7, old.data.begin());
    SnapshotResult result = loadSnapshot(volume, write(old));
    EXPECT_EQ(result.status, SnapshotStatus::WrongMagic);
    EXPECT_EQ(result.foundMagic, "vsp4.01");
    expectUntouched();

    Bytes v2 = sampleFile();
    std::copy_n("2.0", 3, v2.data.begin() + 7);
    result = loadSnapshot(volume, write(v2));
    EXPECT_EQ(result.status, SnapshotStatus::WrongVersion);
    expectUntouched();

    result = loadSnapshot(volume, (dir / "missing.VSNP").string());
    EXPECT_EQ(result.status, SnapshotStatus::CannotOpen);
    expectUntouched();
}

TEST_F(SnapshotTest, DamagedFilesAreRefusedAndLeaveTheVolumeAsItWas)
{
    mountSomething();
    const Bytes good = sampleFile();
    std::vector<Bytes> bad;
    for (std::size_t cut : {std::size_t{12}, header().data.size() + 2, header().data.size() + 30, good.data.size() - 1}) {
        Bytes b = good;
        b.data.resize(cut);
        bad.push_back(b);
    }
    Bytes trailing = good;
    trailing.u8(0);
    bad.push_back(trailing);
    for (std::uint32_t length : {39u, 296u, 0xFFFFFFF0u}) {
        Bytes b = header();
        b.u32(1).u32(length).u8(0x10).u8(0).text("X");
        bad.push_back(b);
    }
    Bytes noBlocks = sampleFile();  // sectors per block 0 and 4096
    std::fill_n(noBlocks.data.begin() + 7 + 3 + 2 + 2 + 4 + 4 + 16 + 16 + 4, 4, 0);
    bad.push_back(noBlocks);
    noBlocks.data[7 + 3 + 2 + 2 + 4 + 4 + 16 + 16 + 4 + 1] = 0x10;
    bad.push_back(noBlocks);
    // A folder named "" (or holding a NUL) would be the destination itself once recovered.
    for (const std::string& name : {std::string(), std::string("A\0B", 3)}) {
        Bytes b = header();
        b.u32(1).node(0x10, name, 0, 5, 0, 0);
        b.u32(0);
        for (std::uint32_t i = 0; i < 140; ++i)
            b.u32(0);
        b.u32(3).u32(1).u32(0).u32(70).u32(1).u32(0xFFFFFFFF).u32(2);
        bad.push_back(b);
    }
    // Counts the rest of the file cannot hold, of folders and of files.
    Bytes hugeCount = header();
    hugeCount.u32(0x10000000);
    hugeCount.data.resize(hugeCount.data.size() + 100);
    bad.push_back(hugeCount);
    Bytes hugeFileCount = header();
    hugeFileCount.u32(0).u32(0x10000000);
    hugeFileCount.data.resize(hugeFileCount.data.size() + 100);
    bad.push_back(hugeFileCount);
    Bytes hugeName = header();
    hugeName.data.resize(14);
    hugeName.u32(0xFFFFFFFF).text("AB");
    bad.push_back(hugeName);

    for (std::size_t i = 0; i < bad.size(); ++i) {
        const SnapshotResult result = loadSnapshot(volume, write(bad[i]));
        EXPECT_EQ(result.status, SnapshotStatus::Damaged) << "case " << i;
        EXPECT_NE(result.damage, SnapshotDamage::None) << "case " << i;
        expectUntouched();
    }
    // The result names what is wrong, and where.
    for (const auto& [file, list] : {std::pair{hugeCount, SnapshotNodeList::Folders},
                                     std::pair{hugeFileCount, SnapshotNodeList::Files}}) {
        const SnapshotResult result = loadSnapshot(volume, write(file));
        EXPECT_EQ(result.damage, SnapshotDamage::TooManyNodes);
        EXPECT_EQ(result.damagedList, list);
    }
}

// Names are checked and copied a word at a time, reading past their end into
// the record's fields: only the name's own bytes may count, whatever its length.
TEST_F(SnapshotTest, NamesOfEveryLengthLoadWholeAndOnlyTheirOwnNulBytesCount)
{
    auto fileWith = [](const std::string& name) {
        Bytes b = header();
        b.u32(0).u32(1).node(0x20, name, 0, 9, 0, 0);  // parent 0: zero bytes right after the name
        for (std::uint32_t i = 0; i < 140; ++i)
            b.u32(0);
        b.u32(0);
        return b;
    };
    std::vector<std::size_t> lengths(40);
    std::iota(lengths.begin(), lengths.end(), 1);
    lengths.push_back(255);
    for (const std::size_t length : lengths) {
        std::string name(length, 'N');
        for (std::size_t i = 0; i < length; ++i)
            name[i] = "A\x01\x80\xFF.z"[i % 6];  // bytes either side of zero in value
        ASSERT_TRUE(loadSnapshot(volume, write(fileWith(name))).ok()) << length;
        ASSERT_EQ(volume.fileCount(), 1u);
        EXPECT_EQ(volume.files[0].name, name) << length;
        for (const std::size_t at : {std::size_t{0}, length / 2, length - 1}) {
            std::string holed = name;
            holed[at] = '\0';
            EXPECT_EQ(loadSnapshot(volume, write(fileWith(holed))).status, SnapshotStatus::Damaged)
                << length << " at " << at;
        }
    }
}

TEST_F(SnapshotTest, FileNamesAreUpperCasedAndGetTheExtensionOnce)
{
    EXPECT_EQ(snapshotPath("vol1"), "VOL1.VSNP");
    EXPECT_EQ(snapshotPath("vol1.vsnp"), "VOL1.VSNP");
    EXPECT_EQ(snapshotPath("/home/ann/Scans/vol1"), "/home/ann/Scans/VOL1.VSNP");
    // What a script names is kept as typed.
    EXPECT_EQ(withSnapshotExtension("runs/perf.vsnp"), "runs/perf.vsnp");
    EXPECT_EQ(withSnapshotExtension("runs/perf.Vsnp"), "runs/perf.Vsnp");
    EXPECT_EQ(withSnapshotExtension("runs/perf"), "runs/perf.VSNP");
    EXPECT_EQ(withSnapshotExtension("vsnp"), "vsnp.VSNP");
}

TEST_F(SnapshotTest, FailedSaveKeepsTheExistingFile)
{
    const std::string path = write(sampleFile(), "KEEP.VSNP");
    volume.volumeName = "X";
    volume.sectorsPerBlock = 8;
    // The folder cannot take a temporary file: nothing is replaced.
    const SnapshotResult result = saveSnapshot(volume, 0, (dir / "no-such-folder" / "X.VSNP").string());
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(read(path), sampleFile().data);
}

// Snapshots loaded for a disk that may not be the one they were saved from.
class SnapshotDiskTest : public ::testing::Test {
protected:
    // Builds a volume whose files carry the given stem, mounts it and saves
    // its snapshot; returns the snapshot's path.
    std::string saveFrom(const std::string& stem, test::BuiltVolume& built)
    {
        imagebuilder::VolumeContents contents;
        contents.nodes = {imagebuilder::folderNode(stem + "DIR", {imagebuilder::fileNode(stem + "A.TXT", 700)})};
        for (int i = 0; i < 40; ++i)
            contents.nodes.push_back(imagebuilder::fileNode(stem + std::to_string(i) + ".DAT", 100));
        built = test::buildVolume(dir / (stem + ".img"), contents);
        Session session;
        test::openAndSelect(session, built.imagePath);
        test::RecordingMountObserver observer;
        EXPECT_EQ(mountVolume(session.mounted, session.reader, observer), MountResult::Completed);
        const std::string path = (dir / (stem + ".VSNP")).string();
        EXPECT_TRUE(saveSnapshot(session.mounted, 0, path).ok());
        return path;
    }

    // Loads path for the disk of image, counting the questions asked.
    SnapshotResult loadFor(const std::string& path, std::unique_ptr<Device> disk, bool answer)
    {
        SectorReader reader;
        reader.attach(std::move(disk));
        return loadSnapshot(target, path, nullptr,
                            {{&reader}, [&](SnapshotDiskMatch match) {
                                 ++questions;
                                 lastMatch = match;
                                 return answer;
                             }});
    }

    test::TempDir dir;
    MountedVolume target;
    int questions = 0;
    SnapshotDiskMatch lastMatch = SnapshotDiskMatch::Unknown;
};

TEST_F(SnapshotDiskTest, OwnDiskLoadsWithoutAQuestionAnotherAsksFirst)
{
    test::BuiltVolume first, second;
    const std::string snapshot = saveFrom("ONE", first);
    saveFrom("TWO", second);

    ASSERT_TRUE(loadFor(snapshot, FileDevice::open(first.imagePath), false).ok());
    EXPECT_EQ(questions, 0);

    target.releaseMount();
    const SnapshotResult declined = loadFor(snapshot, FileDevice::open(second.imagePath), false);
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(declined.status, SnapshotStatus::OtherDisk);
    EXPECT_EQ(declined.diskMatch, SnapshotDiskMatch::OtherEntries);
    EXPECT_EQ(lastMatch, SnapshotDiskMatch::OtherEntries);
    EXPECT_TRUE(target.files.empty());  // left as it was

    EXPECT_TRUE(loadFor(snapshot, FileDevice::open(second.imagePath), true).ok());
    EXPECT_EQ(questions, 2);
    EXPECT_FALSE(target.files.empty());

    // The command line's refusal: no question to ask.
    SectorReader reader;
    reader.attach(FileDevice::open(second.imagePath));
    EXPECT_EQ(loadSnapshot(target, snapshot, nullptr, {{&reader}, {}}).status, SnapshotStatus::OtherDisk);

    // A sample is found on any of the disks read together.
    SectorReader own;
    own.attach(FileDevice::open(first.imagePath));
    EXPECT_TRUE(loadSnapshot(target, snapshot, nullptr, {{&reader, &own}, {}}).ok());
}

TEST_F(SnapshotDiskTest, NothingConfirmingIsAskedAboutWithItsReason)
{
    test::BuiltVolume first, second;
    const std::string snapshot = saveFrom("ONE", first);
    saveFrom("TWO", second);
    MountedVolume saved;
    ASSERT_TRUE(loadSnapshot(saved, snapshot).ok());
    std::set<std::uint64_t> entrySectors;
    for (const auto* list : {&saved.folders, &saved.files})
        for (const TreeNode& node : *list)
            if (node.entrySector != 0)
                entrySectors.insert(node.entrySector);
    ASSERT_GT(entrySectors.size(), 2u);

    // A disk whose every sampled sector fails, and one too small to hold
    // them: nothing confirms, so the snapshot is not taken without asking.
    auto unreadable = std::make_unique<test::FaultyDevice>(FileDevice::open(second.imagePath));
    for (std::uint64_t sector : entrySectors)
        unreadable->markBad(sector);
    EXPECT_EQ(loadFor(snapshot, std::move(unreadable), false).diskMatch, SnapshotDiskMatch::NoneReadable);
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(loadFor(snapshot, std::make_unique<test::MemoryDevice>(std::vector<std::uint8_t>(3 * 512)), false).diskMatch,
              SnapshotDiskMatch::NoneReadable);
    EXPECT_EQ(questions, 2);
    questions = 0;

    // The own disk with every entry sector but the first sample's failing still matches.
    std::uint64_t kept = 0;
    for (const TreeNode& folder : saved.folders)
        if (folder.entrySector != 0 && kept == 0)
            kept = folder.entrySector;
    auto mostly = std::make_unique<test::FaultyDevice>(FileDevice::open(first.imagePath));
    for (std::uint64_t sector : entrySectors)
        if (sector != kept)
            mostly->markBad(sector);
    EXPECT_TRUE(loadFor(snapshot, std::move(mostly), false).ok());
    EXPECT_EQ(questions, 0);
}


// A volume whose snapshot spans several read and write buffers, with names of
// every length from 1 to 255 so that records cross the buffers' ends at
// varying offsets, and the bytes its snapshot must hold, built field by field.
class LargeSnapshotTest : public SnapshotTest {
protected:
    static constexpr std::uint32_t kFiles = 15000;

    void SetUp() override
    {
        volume.volumeName = "BIG";
        volume.sectorsPerBlock = 8;
        expected.text("vsp4.02").text("1.0").u16(0).u16(0).u32(3).text("BIG").u32(0).u32(0).u32(0).u32(0).u64(0).u64(0).u32(0).u32(8).u16(0).u16(0);
        expected.u32(3);
        addNode(volume.folders, 0x10, "DOCS", 0, 5, 0);
        addNode(volume.folders, 0x10, "Dir0", 0, 77, 0);  // a placeholder: no entry sector
        addNode(volume.folders, 0x10, "SUB", 5, 6, 1);
        expected.u32(kFiles);
        const std::uint32_t parents[] = {5, 77, 6};
        for (std::uint32_t i = 0; i < kFiles; ++i) {
            std::string name(1 + i * 7 % 255, 'A');
            for (std::size_t j = 0; j < name.size(); ++j)
                name[j] = static_cast<char>('A' + (i + j) % 26);
            addNode(volume.files, 0x20, name, parents[i % 3], 1000 + i, i % 97 == 0 ? 0 : 2000 + i);
        }
        for (std::uint32_t i = 0; i < 140; ++i)
            expected.u32(i);
        for (std::uint32_t i = 0; i < 140; ++i)
            volume.suballocationRoots[i] = i;
        expected.u32(2).u32(9).u32(0).u32(0xFFFFFFFF).u32(1);
        appendBlock(volume.chosenFatList, 9, 0);
        appendBlock(volume.chosenFatList, 0xFFFFFFFF, 1);
        path = (dir / "BIG.VSNP").string();
        ASSERT_TRUE(saveSnapshot(volume, 0, path).ok());
        ASSERT_GT(expected.data.size(), 2 * kSnapshotBufferBytes + 4096);
        ASSERT_GT(expected.data.size(), kSnapshotReadAheadBytes + 2 * kSnapshotReadBytes);  // read ahead
    }

    void addNode(std::vector<TreeNode>& list, std::uint8_t attributes, const std::string& name, std::uint32_t parent,
                 std::uint32_t own, std::uint32_t entrySector)
    {
        TreeNode node;
        node.attributes = attributes;
        node.name = name;
        node.parentId = parent;
        node.ownId = own;
        node.size = own * 3;
        node.firstBlock = own + 1;
        node.dateTime = 0x24676AB5 + own;
        node.deletedMarker = own % 10 == 0;
        node.ordinal = static_cast<std::uint32_t>(list.size());
        node.entrySector = entrySector;
        node.mirrorSector = entrySector + 1;
        node.entrySlot = static_cast<std::uint16_t>(own % 4);
        records.push_back(expected.data.size());
        expected.u32(static_cast<std::uint32_t>(name.size() + 40)).u8(attributes).u8(0).text(name);
        expected.u32(parent).u32(own).u32(node.size).u32(node.firstBlock).u32(node.dateTime).u32(node.deletedMarker);
        expected.u32(node.ordinal).u32(entrySector).u32(entrySector + 1).u16(node.entrySlot);
        list.push_back(node);
    }

    // The offset of the record holding the byte at offset.
    std::size_t recordAcross(std::size_t offset) const
    {
        auto after = std::upper_bound(records.begin(), records.end(), offset);
        return *(after - 1);
    }

    Bytes expected;
    std::vector<std::size_t> records;  // offsets of the node records in expected
    std::string path;
};

TEST_F(LargeSnapshotTest, SavesAndLoadsEveryRecordAcrossTheBuffers)
{
    EXPECT_TRUE(read(path) == expected.data);

    MountedVolume loaded;
    ASSERT_TRUE(loadSnapshot(loaded, path).ok());
    ASSERT_EQ(loaded.fileCount(), kFiles);
    std::uint32_t different = 0;
    for (std::uint32_t i = 0; i < kFiles; ++i) {
        const TreeNode& a = volume.files[i];
        const TreeNode& b = loaded.files[i];
        different += a.name != b.name || a.attributes != b.attributes || a.parentId != b.parentId
                     || a.ownId != b.ownId || a.size != b.size || a.firstBlock != b.firstBlock
                     || a.dateTime != b.dateTime || a.deletedMarker != b.deletedMarker || b.ordinal != i
                     || a.entrySector != b.entrySector || a.mirrorSector != b.mirrorSector
                     || a.entrySlot != b.entrySlot;
    }
    EXPECT_EQ(different, 0u);
    EXPECT_EQ(loaded.suballocationRoots, volume.suballocationRoots);
    // Children come in list order.
    const auto inDocs = loaded.index.childFiles(5);
    ASSERT_EQ(inDocs.size(), kFiles / 3);
    EXPECT_TRUE(std::is_sorted(inDocs.begin(), inDocs.end()));
    EXPECT_EQ(inDocs[1], 3u);
    EXPECT_EQ(loaded.tree.item(loaded.folders[2].treeItem).parent, loaded.folders[0].treeItem);

    const std::string again = (dir / "AGAIN.VSNP").string();
    ASSERT_TRUE(saveSnapshot(loaded, 0, again).ok());
    EXPECT_TRUE(read(again) == expected.data);
}

TEST_F(LargeSnapshotTest, DamageAtTheBufferBoundariesIsRefused)
{
    mountSomething();
    std::vector<Bytes> bad;
    // Cut short at the read buffer's ends, read on the caller's thread and read ahead.
    for (std::size_t cut : {kSnapshotReadBytes - 1, kSnapshotReadBytes, kSnapshotReadBytes + 1,
                            2 * kSnapshotReadBytes + 3, kSnapshotReadAheadBytes + kSnapshotReadBytes,
                            kSnapshotReadAheadBytes + kSnapshotReadBytes + 1, expected.data.size() - 9}) {
        Bytes b = expected;
        b.data.resize(cut);
        bad.push_back(b);
    }
    // The records across the ends of the first and second buffers read,
    // whose decoding needs the next, with an impossible length and with a
    // NUL in its name.
    for (const std::size_t end : {kSnapshotReadBytes, 2 * kSnapshotReadBytes}) {
        const std::size_t across = recordAcross(end);
        Bytes shortRecord = expected;
        shortRecord.data[across] = 39;
        shortRecord.data[across + 1] = 0;
        bad.push_back(shortRecord);
        Bytes nul = expected;
        nul.data[across + 4 + 2] = 0;
        bad.push_back(nul);
    }

    for (std::size_t i = 0; i < bad.size(); ++i) {
        const SnapshotResult result = loadSnapshot(volume, write(bad[i], "BAD.VSNP"));
        EXPECT_EQ(result.status, SnapshotStatus::Damaged) << "case " << i;
        expectUntouched();
    }
}

// A placeholder folder has no entry on the disk: it is saved with every field
// 0 but its name and id, its attributes too, and loads as a folder again.
TEST(SnapshotPlaceholders, AreSavedWithZeroAttributesAndLoadAsFolders)
{
    test::TempDir dir;
    Session session;
    const test::BuiltVolume built = test::buildVolume(dir / "disk.img", test::commandSample());
    test::openAndSelect(session, built.imagePath);
    test::RecordingMountObserver observer;
    ASSERT_EQ(mountVolume(session.mounted, session.reader, observer), MountResult::Completed);
    ASSERT_TRUE(session.mounted.folders.back().isPlaceholder());
    const std::string path = (dir / "sys.VSNP").string();
    ASSERT_TRUE(saveSnapshot(session.mounted, 0, path).ok());

    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::size_t name = bytes.find("Dir0");
    ASSERT_NE(name, std::string::npos);
    EXPECT_EQ(bytes.substr(name - 2, 2), std::string(2, '\0')) << "attributes and high attributes";

    MountedVolume loaded;
    ASSERT_TRUE(loadSnapshot(loaded, path).ok());
    const TreeNode& placeholder = loaded.folders.back();
    EXPECT_EQ(placeholder.name, "Dir0");
    EXPECT_TRUE(placeholder.isFolder());
    ASSERT_EQ(loaded.index.childFiles(placeholder.ownId).size(), 1u);
    EXPECT_EQ(loaded.files[loaded.index.childFiles(placeholder.ownId)[0]].name, "ORPHAN.TXT");
}

TEST(SnapshotSamples, PassOverNodesWithoutAnEntryLikeAListOfCandidates)
{
    // Placeholders at the start, in runs, across the folder/file seam and at the end.
    const std::vector<std::set<std::size_t>> patterns = {
        {}, {0, 1, 7, 8, 9, 10, 44}, {4, 5, 6}, {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24}};
    for (const auto& placeholders : patterns) {
        std::vector<TreeNode> folders(5), files(40);
        std::vector<const TreeNode*> candidates;
        std::vector<std::size_t> withoutEntry(placeholders.begin(), placeholders.end());
        for (std::size_t i = 0; i < folders.size() + files.size(); ++i) {
            TreeNode& node = i < folders.size() ? folders[i] : files[i - folders.size()];
            node.name = "N";
            node.entrySector = placeholders.count(i) ? 0 : 100 + static_cast<std::uint32_t>(i);
            if (node.entrySector != 0)
                candidates.push_back(&node);
        }
        std::vector<const TreeNode*> expected;
        const std::size_t samples = std::min(candidates.size(), kSnapshotSamples);
        for (std::size_t i = 0; i < samples; ++i)
            expected.push_back(candidates[i * candidates.size() / samples]);
        EXPECT_EQ(snapshotSamples(folders, files, withoutEntry), expected) << placeholders.size() << " placeholders";
    }
    std::vector<TreeNode> none(3);
    EXPECT_TRUE(snapshotSamples(none, {}, {0, 1, 2}).empty());
}

} // namespace
} // namespace tamsin
