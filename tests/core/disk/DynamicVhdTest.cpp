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

} // namespace
} // namespace tamsin
