// The directory table found by content on a volume and put back in order.

#include "mount/DirectoryRebuild.h"

#include "mount/Mount.h"
#include "mount/MountedVolume.h"

#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace tamsin {
namespace {

namespace ib = imagebuilder;

// Folders whose records lie in every block of the table, nested three deep,
// with enough files that the table spans several blocks.
ib::VolumeContents nestedFolders()
{
    ib::VolumeContents c;
    for (int f = 0; f < 6; ++f) {
        std::vector<ib::Node> files;
        for (int i = 0; i < 20; ++i)
            files.push_back(ib::fileNode("F" + std::to_string(f) + "_" + std::to_string(i) + ".TXT", 100));
        files.push_back(ib::folderNode("SUB" + std::to_string(f), {ib::fileNode("DEEP.TXT", 10),
                                                                   ib::folderNode("DEEPER", {ib::fileNode("X.TXT", 5)})}));
        c.nodes.push_back(ib::folderNode("DIR" + std::to_string(f), files));
    }
    c.noiseSeed = 99;  // undefined bytes random, as other servers leave them
    return c;
}

TEST(DirectoryRebuild, ScanFindsBothTableCopiesAndOrderPutsBackEveryNamedFolder)
{
    test::TempDir dir;
    Session session;
    const test::BuiltVolume built = test::buildAndMount(session, dir / "disk.img", nestedFolders());
    ASSERT_TRUE(built.manifest);
    const ib::VolumeManifest& m = *built.manifest;
    ASSERT_GE(m.det[0].blocks.size(), 4u);

    DirectoryScanObserver quiet;
    std::vector<FoundDirectoryBlock> found = scanDirectoryBlocks(session.mounted, session.reader, quiet, false);
    std::set<std::uint32_t> foundBlocks;
    for (const FoundDirectoryBlock& block : found)
        foundBlocks.insert(block.block);
    std::set<std::uint32_t> tableBlocks(m.det[0].blocks.begin(), m.det[0].blocks.end());
    tableBlocks.insert(m.det[1].blocks.begin(), m.det[1].blocks.end());
    EXPECT_EQ(foundBlocks, tableBlocks);  // no file data taken for a directory block

    // Whatever order they are found in, the table's order comes back where records name it.
    std::shuffle(found.begin(), found.end(), std::mt19937(7));
    const std::uint32_t perBlock = m.sectorsPerBlock * 512 / 128;
    const OrderedDirectory order = orderDirectoryBlocks(found, perBlock, m.det[0].blocks.front());
    EXPECT_EQ(order.duplicates, m.det[1].blocks.size());
    EXPECT_EQ(order.blocks.size(), m.det[0].blocks.size());
    EXPECT_EQ(order.blocks.front(), m.det[0].blocks.front());
    // Either copy of a block stands for its position.
    const auto holds = [&](std::size_t position) {
        const std::uint32_t block = order.blocks.at(position);
        return block == m.det[0].blocks.at(position) || block == m.det[1].blocks.at(position);
    };
    for (const ib::ManifestEntry& e : m.entries)
        if (e.parentId != 0)
            EXPECT_TRUE(holds(e.parentId / perBlock)) << e.name;
    EXPECT_EQ(order.ambiguous, 0u);
}

} // namespace
} // namespace tamsin
