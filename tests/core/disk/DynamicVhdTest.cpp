// Dynamic VHD disks read through their block table: allocated blocks, their
// sector bitmaps, unallocated blocks and blocks cut off by a short file.

#include "disk/DiskDevice.h"
#include "disk/DiskFormat.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace tamsin {
namespace {

void putBe32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void putBe64(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t v)
{
    putBe32(out, at, static_cast<std::uint32_t>(v >> 32));
    putBe32(out, at + 4, static_cast<std::uint32_t>(v));
}

// A 3-block disk of 4 KiB blocks (8 sectors, one bitmap sector each):
// block 0 stored with sectors 0..3 marked, block 1 not stored, block 2
// stored. Sector s of the disk holds the byte s + 1.
std::vector<std::uint8_t> dynamicVhd()
{
    constexpr std::uint32_t kBlock = 4096;
    std::vector<std::uint8_t> file(512 + 1024 + 512 + 2 * (512 + kBlock) + 512, 0);
    auto footer = [&](std::size_t at) {
        std::memcpy(&file[at], "conectix", 8);
        putBe64(file, at + 16, 512);  // dynamic header
        putBe64(file, at + 48, 3 * kBlock);
        putBe32(file, at + 60, 3);  // dynamic
    };
    footer(0);
    footer(file.size() - 512);
    std::memcpy(&file[512], "cxsparse", 8);
    putBe64(file, 512 + 16, 1536);  // block table
    putBe32(file, 512 + 28, 3);
    putBe32(file, 512 + 32, kBlock);
    const std::uint32_t stored[3] = {2048 / 512, 0xFFFFFFFFu, (2048 + 512 + kBlock) / 512};
    for (int b = 0; b < 3; ++b)
        putBe32(file, 1536 + 4 * b, stored[b]);
    for (int b : {0, 2}) {
        const std::size_t at = std::size_t{stored[b]} * 512;
        file[at] = b == 0 ? 0xF0 : 0xFF;
        for (int s = 0; s < 8; ++s)
            std::memset(&file[at + 512 + s * 512], b * 8 + s + 1, 512);
    }
    return file;
}

TEST(DynamicVhd, BlocksReadThroughTheTableAndUnmarkedSectorsAreZeros)
{
    test::TempDir dir;
    const std::vector<std::uint8_t> bytes = dynamicVhd();
    const auto path = (dir / "disk.vhd").string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

    DiskFormat format = DiskFormat::Raw;
    OpenError error;
    auto device = openDiskDevice(path, &error, &format);
    ASSERT_TRUE(device) << error.message;
    EXPECT_EQ(format, DiskFormat::Vhd);
    EXPECT_EQ(device->sizeBytes(), 3u * 4096);
    std::vector<std::uint8_t> all(3 * 4096, 0xEE);
    const DeviceRead read = device->readAt(0, all);
    ASSERT_TRUE(read.ok);
    ASSERT_EQ(read.bytes, all.size());
    for (int s = 0; s < 24; ++s) {
        const std::uint8_t expected = s < 4 ? s + 1 : s >= 16 ? s + 1 : 0;
        EXPECT_EQ(all[s * 512], expected) << s;
        EXPECT_EQ(all[s * 512 + 511], expected) << s;
    }
    // A read inside one sector and across the block boundary.
    std::uint8_t piece[600];
    ASSERT_TRUE(device->readAt(3 * 512 + 100, piece).ok);
    EXPECT_EQ(piece[0], 4);
    EXPECT_EQ(piece[599], 0);

    // Cut short in block 2's data: that block fails, the others still read.
    std::filesystem::resize_file(path, bytes.size() - 512 - 2048);
    device = openDiskDevice(path, &error, &format);
    ASSERT_TRUE(device) << error.message;
    std::uint8_t sector[512];
    EXPECT_FALSE(device->readAt(2 * 4096 + 7 * 512, sector).ok);
    const DeviceRead first = device->readAt(0, sector);
    EXPECT_TRUE(first.ok);
    EXPECT_EQ(sector[0], 1);
}


// A 3-block disk of blockSize-byte blocks: block 0 stored with its even
// sectors marked, block 1 not stored, block 2 stored whole. Sector s of the
// disk holds the byte s + 1. A differencing disk (type 4) names its parent
// by a relative Windows locator.
std::vector<std::uint8_t> vhdOf(std::uint32_t blockSize, std::uint32_t type, const std::string& parent = {})
{
    const std::uint32_t sectors = blockSize / 512;
    const std::uint32_t bitmap = ((sectors + 7) / 8 + 511) / 512 * 512;
    const std::size_t blocksAt = 2560;
    std::vector<std::uint8_t> file(blocksAt + 2 * (bitmap + blockSize) + 512, 0);
    auto footer = [&](std::size_t at) {
        std::memcpy(&file[at], "conectix", 8);
        putBe64(file, at + 16, 512);
        putBe64(file, at + 48, 3 * std::uint64_t{blockSize});
        putBe32(file, at + 60, type);
    };
    footer(0);
    footer(file.size() - 512);
    std::memcpy(&file[512], "cxsparse", 8);
    putBe64(file, 512 + 16, 1536);
    putBe32(file, 512 + 28, 3);
    putBe32(file, 512 + 32, blockSize);
    if (!parent.empty()) {
        putBe32(file, 512 + 576, 0x57327275);  // W2ru
        putBe32(file, 512 + 576 + 4, 512);
        putBe32(file, 512 + 576 + 8, static_cast<std::uint32_t>(parent.size() * 2));
        putBe64(file, 512 + 576 + 16, 2048);
        for (std::size_t i = 0; i < parent.size(); ++i)
            file[2048 + 2 * i] = static_cast<std::uint8_t>(parent[i]);
    }
    const std::uint32_t stored[3] = {blocksAt / 512, 0xFFFFFFFFu, static_cast<std::uint32_t>((blocksAt + bitmap + blockSize) / 512)};
    for (int b = 0; b < 3; ++b)
        putBe32(file, 1536 + 4 * b, stored[b]);
    for (int b : {0, 2}) {
        const std::size_t at = std::size_t{stored[b]} * 512;
        for (std::uint32_t s = 0; s < sectors; ++s) {
            if (b == 2 || s % 2 == 0)
                file[at + s / 8] |= static_cast<std::uint8_t>(0x80 >> (s % 8));
            std::memset(&file[at + bitmap + s * 512], static_cast<int>(b * sectors + s + 1), 512);
        }
    }
    return file;
}

class DynamicVhdBlocks : public ::testing::TestWithParam<std::uint32_t> {};

// Small blocks still have a whole sector of bitmap; a differencing disk
// reads what its bitmap does not mark from its parent.
TEST_P(DynamicVhdBlocks, ReadThroughBitmapsAndTheParent)
{
    const std::uint32_t blockSize = GetParam();
    const std::uint32_t sectors = 3 * blockSize / 512;
    test::TempDir dir;
    std::vector<std::uint8_t> parent(std::size_t{sectors} * 512);
    for (std::uint32_t s = 0; s < sectors; ++s)
        std::memset(&parent[s * 512], 0xA0 + s % 16, 512);
    std::ofstream(dir / "parent.img", std::ios::binary).write(reinterpret_cast<const char*>(parent.data()), parent.size());
    for (const std::uint32_t type : {3u, 4u}) {
        const auto bytes = vhdOf(blockSize, type, type == 4 ? ".\\parent.img" : "");
        const auto path = (dir / "disk.vhd").string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        OpenError error;
        auto device = openDiskDevice(path, &error);
        ASSERT_TRUE(device) << error.message;
        std::vector<std::uint8_t> all(std::size_t{sectors} * 512, 0xEE);
        const DeviceRead read = device->readAt(0, all);
        ASSERT_TRUE(read.ok && read.bytes == all.size()) << type;
        for (std::uint32_t s = 0; s < sectors; ++s) {
            const std::uint32_t block = s / (blockSize / 512);
            const bool marked = block == 2 || (block == 0 && (s % (blockSize / 512)) % 2 == 0);
            const std::uint8_t expected = marked ? static_cast<std::uint8_t>(s + 1) : type == 4 ? parent[s * 512] : 0;
            ASSERT_EQ(all[s * 512], expected) << "type " << type << " sector " << s;
            ASSERT_EQ(all[s * 512 + 511], expected) << "type " << type << " sector " << s;
        }
    }
    std::filesystem::remove(dir / "parent.img");
    OpenError error;
    EXPECT_FALSE(openDiskDevice((dir / "disk.vhd").string(), &error));
    EXPECT_NE(error.message.find("cannot open " + (dir / "parent.img").string() + ": No such file"), std::string::npos)
        << error.message;
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, DynamicVhdBlocks, ::testing::Values(512u, 1024u, 2048u, 4096u, 1u << 20));

} // namespace
} // namespace tamsin
