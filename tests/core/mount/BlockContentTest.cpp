// Directory and FAT blocks told by their content, on a builder-made volume
// and on records built by hand.

#include "mount/BlockContent.h"

#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <set>

namespace tamsin {
namespace {

namespace ib = imagebuilder;

std::vector<std::uint8_t> readBlock(const test::BuiltVolume& built, std::uint32_t block)
{
    const ib::VolumeManifest& m = *built.manifest;
    std::vector<std::uint8_t> bytes(std::size_t{m.sectorsPerBlock} * 512);
    std::ifstream in(built.imagePath, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(m.blockSector(block) * 512));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Every block of a volume with folders, long names, deleted entries and
// suballocated files is told for what it is: the DET copies' blocks as
// directory blocks (the first holding the root record), the FAT copies'
// as FAT blocks, and no file data as either; also when the bytes the
// format leaves undefined hold random values.
class VolumeBlocks : public ::testing::TestWithParam<bool> {};

TEST_P(VolumeBlocks, AreToldApartByContent)
{
    ib::VolumeContents c;
    ib::Node docs = ib::folderNode("DOCS", {ib::fileNode("A.TXT", 5000), ib::fileNode("B.TXT", 300)});
    docs.children[0].longName = "A rather long document name.txt";
    ib::Node gone = ib::fileNode("GONE.DAT", 9000);
    gone.deletedMarker = 0x01000000;
    ib::Node tail = ib::fileNode("TAIL.DAT", 4096 + 700);
    tail.storage = ib::Storage::SuballocationTail;
    c.nodes = {docs, gone, tail, ib::fileNode("BIG.BIN", 40000)};
    if (GetParam())
        c.noiseSeed = 1234;
    test::TempDir dir;
    const test::BuiltVolume built = test::buildVolume(dir / "disk.img", c, 8);
    ASSERT_TRUE(built.manifest);
    const ib::VolumeManifest& m = *built.manifest;

    std::set<std::uint32_t> tables;
    for (int copy = 0; copy < 2; ++copy) {
        for (std::size_t k = 0; k < m.det[copy].blocks.size(); ++k) {
            const std::uint32_t block = m.det[copy].blocks[k];
            tables.insert(block);
            const DirectoryBlockMatch match = matchDirectoryBlock(readBlock(built, block));
            EXPECT_TRUE(match.directory) << "DET copy " << copy << " block " << k;
            EXPECT_EQ(match.holdsRoot, k == 0);
            EXPECT_FALSE(matchFatBlock(readBlock(built, block), m.blockCount, 0));
        }
        const std::uint64_t entriesPerBlock = m.sectorsPerBlock * 512 / 8;
        for (std::size_t k = 0; k < m.fat[copy].blocks.size(); ++k) {
            const std::uint32_t block = m.fat[copy].blocks[k];
            tables.insert(block);
            EXPECT_TRUE(matchFatBlock(readBlock(built, block), m.blockCount, k * entriesPerBlock)) << "FAT block " << k;
            EXPECT_FALSE(matchDirectoryBlock(readBlock(built, block)).directory);
        }
    }
    for (const ib::ManifestEntry& e : m.entries)
        for (std::uint32_t block : e.dataBlocks) {
            if (tables.contains(block))
                continue;
            EXPECT_FALSE(matchDirectoryBlock(readBlock(built, block)).directory) << e.name;
            EXPECT_FALSE(matchFatBlock(readBlock(built, block), m.blockCount, 0)) << e.name;
        }
}

INSTANTIATE_TEST_SUITE_P(Noise, VolumeBlocks, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "randomUndefinedBytes" : "plain"; });

struct RecordCase {
    const char* what;
    std::uint32_t parent;
    std::uint8_t nameSpace;
    std::string name;
    RecordKind kind;
};

std::array<std::uint8_t, 128> record(const RecordCase& c)
{
    std::array<std::uint8_t, 128> r{};
    for (int i = 0; i < 4; ++i)
        r[i] = static_cast<std::uint8_t>(c.parent >> (8 * i));
    r[8] = 0xA5;  // undefined bytes decide nothing
    r[9] = 0x5A;
    r[10] = c.nameSpace;
    r[11] = static_cast<std::uint8_t>(c.name.size());
    std::copy(c.name.begin(), c.name.end(), r.begin() + 12);
    return r;
}

class RecordKinds : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordKinds, AreToldByTheFieldsEveryVolumeDefines)
{
    EXPECT_EQ(classifyRecord(record(GetParam())), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordKinds,
    ::testing::Values(RecordCase{"dos", 7, 0, "README.TXT", RecordKind::Entry},
                      RecordCase{"long", 7, 4, "A long name with spaces.doc", RecordKind::Entry},
                      RecordCase{"dosTooLong", 7, 0, "ABCDEFGHIJKLMNOP", RecordKind::Invalid},
                      RecordCase{"badNameSpace", 7, 11, "X", RecordKind::Invalid},
                      RecordCase{"controlInName", 7, 0, std::string("A\x01" "B"), RecordKind::Invalid},
                      RecordCase{"unnamedChild", 7, 0, "", RecordKind::Invalid},
                      RecordCase{"empty", 0, 0, "", RecordKind::Empty},
                      RecordCase{"free", 0xFFFFFFFF, 0xEE, "", RecordKind::Free},
                      RecordCase{"trustee", 0xFFFFFFFE, 0, "", RecordKind::Trustee},
                      RecordCase{"root", 0xFFFFFFFD, 0, "", RecordKind::Root}),
    [](const auto& info) { return info.param.what; });

TEST(BlockContent, SomethingBesidesEmptySlotsAndOwnersAsConfidence)
{
    std::vector<std::uint8_t> block(4096, 0);
    EXPECT_FALSE(matchDirectoryBlock(block).directory);  // zeros: only empty slots
    const auto a = record({"", 7, 0, "A.TXT", RecordKind::Entry});
    const auto b = record({"", 9, 0, "B.TXT", RecordKind::Entry});
    std::copy(a.begin(), a.end(), block.begin());
    const DirectoryBlockMatch one = matchDirectoryBlock(block);
    EXPECT_TRUE(one.directory);
    EXPECT_TRUE(one.singleOwner);
    EXPECT_EQ(one.owner, 7u);
    std::copy(b.begin(), b.end(), block.begin() + 128);
    const DirectoryBlockMatch two = matchDirectoryBlock(block);  // two folders' records in one unit
    EXPECT_TRUE(two.directory);
    EXPECT_FALSE(two.singleOwner);
    block[128 + 10] = 0x41;  // a name space no volume has
    EXPECT_FALSE(matchDirectoryBlock(block).directory);
}

} // namespace
} // namespace tamsin
