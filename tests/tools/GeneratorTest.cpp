#include "ImageFile.h"
#include "VolumeReadBack.h"

#include "imagebuilder/ImageBuilder.h"

#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>

namespace tamsin::imagebuilder {
namespace {

using testing::ImageFile;
using testing::VolumeReadBack;

DiskSpec generatedDisk(const GeneratedTree& generate, std::vector<Node> nodes, std::uint32_t sectorsPerBlock)
{
    SegmentSpec segment;
    segment.name = "DATA";
    segment.sectorsPerBlock = sectorsPerBlock;
    segment.contents.emplace();
    segment.contents->nodes = std::move(nodes);
    segment.contents->generate = generate;
    PartitionSpec partition;
    partition.startSector = 2048;
    partition.netware.emplace();
    partition.netware->segments.push_back(std::move(segment));
    DiskSpec disk;
    disk.partitions.push_back(std::move(partition));
    return disk;
}

TEST(Generator, SpreadsEntriesOverNestedFoldersAfterTheDescribedTree)
{
    GeneratedTree generate;
    generate.entries = 1000;
    generate.perFolder = 50;
    generate.depth = 2;
    generate.deletedEvery = 10;
    generate.longNameEvery = 7;
    generate.fileSize = 600;
    const DiskSpec disk = generatedDisk(generate, {folderNode("FIRST")}, 1);
    ImageFile image;
    const auto layout = writeImage(disk, image.path());
    ASSERT_TRUE(layout) << layout.error();
    const VolumeManifest& m = *layout->volume("DATA");
    ASSERT_EQ(m.entries.size(), 1001u);
    EXPECT_EQ(m.entries[0].name, "FIRST");

    std::map<std::uint32_t, const ManifestEntry*> folders;
    std::map<std::uint32_t, int> children;
    int deleted = 0;
    int longNames = 0;
    for (const ManifestEntry& e : m.entries) {
        if (e.folder)
            folders[e.ownId] = &e;
        ++children[e.parentId];
        deleted += e.deleted() ? 1 : 0;
        longNames += e.name.starts_with("Generated document ") ? 1 : 0;
        EXPECT_FALSE(e.folder && e.deleted());
    }
    EXPECT_EQ(folders.size(), 1u + 19u) << "ceil(1000 / 50) - 1 generated folders";
    EXPECT_EQ(children[0], 51) << "the top level holds FIRST and 50 generated entries";
    for (const auto& [parent, count] : children)
        EXPECT_LE(count, parent == 0 ? 51 : 50) << parent;
    EXPECT_EQ(deleted, 981 / 10);
    EXPECT_EQ(longNames, 981 / 7);

    for (const auto& [id, folder] : folders) {
        int depth = 1;
        for (std::uint32_t parent = folder->parentId; parent != 0; parent = folders.at(parent)->parentId)
            ++depth;
        EXPECT_LE(depth, 2) << folder->name;
    }
    const VolumeReadBack r(image, m.startSector, m.sectorsPerBlock);
    for (std::size_t k = 1; k < m.entries.size(); k += 97) {
        const ManifestEntry& e = m.entries[k];
        SCOPED_TRACE(e.name);
        EXPECT_TRUE(e.folder || e.parentId == 0 || folders.contains(e.parentId));
        if (!e.folder) {
            EXPECT_EQ(r.chainData(e.dataBlocks, 600), expectedData(e));
        }
    }
}

TEST(Generator, HundredThousandEntriesStreamToASparseImage)
{
    GeneratedTree generate;
    generate.entries = 100'000;
    generate.longNameEvery = 4;
    ImageFile image;
    const auto layout = writeImage(generatedDisk(generate, {}, 8), image.path());
    ASSERT_TRUE(layout) << layout.error();
    const VolumeManifest& m = *layout->volume("DATA");
    ASSERT_EQ(m.entries.size(), 100'000u);
    // 100000 entries and about 24000 long names: about 3800 DET blocks per copy.
    EXPECT_EQ(m.det[0].blocks.size(), (m.detPositions + 31) / 32);
    EXPECT_GT(m.det[0].blocks.size(), 3700u);

    const ManifestEntry& last = m.entries.back();
    const SectorBytes sector = image.sector(last.entrySector);
    EXPECT_EQ(readU32(sector, last.slot * 128 + 120), last.ownId);
    struct stat info {};
    ASSERT_EQ(::stat(image.path().c_str(), &info), 0);
    EXPECT_LT(info.st_blocks * 512, 48 * 1024 * 1024) << "two DET copies of about 16 MiB and little else";
}

} // namespace
} // namespace tamsin::imagebuilder
