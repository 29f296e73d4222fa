#include "disk/DiskInfo.h"
#include "disk/FileDevice.h"
#include "disk/SectorReader.h"

#include "FaultyDevice.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

namespace tamsin {
namespace {

using test::FaultyDevice;
using test::MemoryDevice;

constexpr std::uint8_t kStale = 0xAB;

std::vector<std::uint8_t> staleBuffer(std::uint32_t sectors)
{
    return std::vector<std::uint8_t>(sectors * kSectorSize, kStale);
}

bool sectorHolds(const std::vector<std::uint8_t>& buffer, std::uint32_t index, std::uint8_t value)
{
    for (std::uint32_t i = 0; i < kSectorSize; ++i)
        if (buffer[index * kSectorSize + i] != value)
            return false;
    return true;
}

struct FaultyReader {
    SectorReader reader;
    FaultyDevice* device = nullptr;

    explicit FaultyReader(std::uint64_t sectors)
    {
        auto faulty = std::make_unique<FaultyDevice>(MemoryDevice::patterned(sectors));
        device = faulty.get();
        reader.attach(std::move(faulty));
    }
};

TEST(SectorReader, DeliversACleanRunInOneRequest)
{
    FaultyReader r(100);
    auto buffer = staleBuffer(10);
    EXPECT_EQ(r.reader.readSectors(20, 10, buffer), 0u);
    for (std::uint32_t i = 0; i < 10; ++i)
        EXPECT_TRUE(sectorHolds(buffer, i, static_cast<std::uint8_t>(20 + i)));
    EXPECT_EQ(r.device->totalReads(), 1u);
}

TEST(SectorReader, BadThirdSectorKeepsStaleBytesAfterRetryCountAttempts)
{
    FaultyReader r(100);
    r.device->markBad(12);
    auto buffer = staleBuffer(5);
    std::vector<std::uint32_t> unreadable;
    EXPECT_EQ(r.reader.readSectors(10, 5, buffer, &unreadable), 1u);
    EXPECT_EQ(unreadable, std::vector<std::uint32_t>{2});
    for (std::uint32_t i = 0; i < 5; ++i)
        EXPECT_TRUE(sectorHolds(buffer, i, i == 2 ? kStale : static_cast<std::uint8_t>(10 + i))) << "sector " << i;
    // The bulk read, then three single-sector attempts on the bad sector alone.
    EXPECT_EQ(r.device->attempts(12), 1u + SectorReader::kDefaultRetryCount);
    // Every other sector is read once more in the sector-by-sector pass.
    EXPECT_EQ(r.device->attempts(10), 2u);
    EXPECT_EQ(r.device->attempts(14), 2u);
}

TEST(SectorReader, CancelFlagEndsTheRetryPassWithinOneSector)
{
    FaultyReader r(200);
    r.device->markBadRange(0, 100);
    std::atomic<bool> skip{false};
    r.device->onRead([&](std::uint64_t first, std::uint64_t count) {
        if (count == 1 && first == 10)
            skip = true;
    });
    auto buffer = staleBuffer(100);
    std::vector<std::uint32_t> unreadable;
    {
        const ReadCancelScope cancel{&skip};
        EXPECT_EQ(r.reader.readSectors(0, 100, buffer, &unreadable), 100u);
    }
    EXPECT_EQ(unreadable.size(), 100u);
    EXPECT_EQ(r.device->attempts(9), 1u + SectorReader::kDefaultRetryCount);
    EXPECT_EQ(r.device->attempts(10), 2u);  // the bulk read and the attempt that raised the flag
    EXPECT_EQ(r.device->attempts(11), 1u);  // the bulk read only
    EXPECT_EQ(r.device->totalReads(), 1u + 10u * SectorReader::kDefaultRetryCount + 1u);

    // A flag of an enclosing scope counts inside a nested one too.
    std::atomic<bool> outerStop{true};
    std::atomic<bool> innerSkip{false};
    {
        const ReadCancelScope outer{&outerStop};
        const ReadCancelScope inner{&innerSkip};
        EXPECT_TRUE(ReadCancelScope::requested());
    }
    EXPECT_FALSE(ReadCancelScope::requested());

    // Once the scope has ended the flag is not looked at.
    r.device->onRead({});
    EXPECT_EQ(r.reader.readSectors(150, 2, buffer), 0u);
    EXPECT_EQ(r.reader.readSectors(20, 2, buffer), 2u);
    EXPECT_EQ(r.device->attempts(21), 2u + SectorReader::kDefaultRetryCount);
}

TEST(SectorReader, SectorThatRecoversOnALaterAttemptIsDelivered)
{
    FaultyReader r(50);
    r.device->markBad(7, 2);  // fails the bulk read and the first retry
    auto buffer = staleBuffer(4);
    EXPECT_EQ(r.reader.readSectors(5, 4, buffer), 0u);
    EXPECT_TRUE(sectorHolds(buffer, 2, 7));
    EXPECT_EQ(r.device->attempts(7), 3u);
}

TEST(SectorReader, RetryCountZeroLeavesTheWholeBufferUnchanged)
{
    FaultyReader r(50);
    r.reader.setRetryCount(0);
    r.device->markBad(3);
    auto buffer = staleBuffer(6);
    EXPECT_EQ(r.reader.readSectors(0, 6, buffer), 6u);
    EXPECT_EQ(buffer, staleBuffer(6));
    EXPECT_EQ(r.device->totalReads(), 1u);
}

TEST(SectorReader, NoDiskOpenLeavesTheBufferUnchanged)
{
    SectorReader reader;
    auto buffer = staleBuffer(3);
    std::vector<std::uint32_t> unreadable;
    EXPECT_EQ(reader.readSectors(0, 3, buffer, &unreadable), 3u);
    EXPECT_EQ(buffer, staleBuffer(3));
    EXPECT_EQ(unreadable.size(), 3u);
}

TEST(SectorReader, RunPastTheEndKeepsWhatExists)
{
    FaultyReader r(10);
    auto buffer = staleBuffer(4);
    std::vector<std::uint32_t> unreadable;
    EXPECT_EQ(r.reader.readSectors(8, 4, buffer, &unreadable), 2u);
    EXPECT_TRUE(sectorHolds(buffer, 0, 8));
    EXPECT_TRUE(sectorHolds(buffer, 1, 9));
    EXPECT_TRUE(sectorHolds(buffer, 2, kStale));
    EXPECT_EQ(unreadable, (std::vector<std::uint32_t>{2, 3}));
}

TEST(SectorReader, FailedRunPastTheEndDeliversEachExistingSector)
{
    FaultyReader r(10);
    r.device->markBad(8, 1);  // only the bulk read fails
    auto buffer = staleBuffer(4);
    EXPECT_EQ(r.reader.readSectors(8, 4, buffer), 2u);
    EXPECT_TRUE(sectorHolds(buffer, 0, 8));
    EXPECT_TRUE(sectorHolds(buffer, 1, 9));
    EXPECT_TRUE(sectorHolds(buffer, 3, kStale));
    // A sector past the end is tried once: retrying cannot make it exist.
    EXPECT_EQ(r.device->attempts(11), 2u);
}

TEST(SectorReader, ZeroFilledReadsNeverShowStaleBytes)
{
    FaultyReader r(10);
    r.device->markBad(3);
    auto buffer = staleBuffer(4);
    std::vector<std::uint32_t> unreadable;
    EXPECT_EQ(r.reader.readSectorsZeroFilled(2, 4, buffer, &unreadable), 1u);
    EXPECT_EQ(unreadable, std::vector<std::uint32_t>{1});
    EXPECT_TRUE(sectorHolds(buffer, 0, 2));
    EXPECT_TRUE(sectorHolds(buffer, 1, 0));
    EXPECT_TRUE(sectorHolds(buffer, 2, 4));

    buffer = staleBuffer(4);  // past the end: what exists, then zeros
    EXPECT_EQ(r.reader.readSectorsZeroFilled(8, 4, buffer), 2u);
    EXPECT_TRUE(sectorHolds(buffer, 1, 9));
    EXPECT_TRUE(sectorHolds(buffer, 2, 0));
    EXPECT_TRUE(sectorHolds(buffer, 3, 0));

    // An image cut inside a sector: the bytes that exist are kept, by the
    // bulk read and by the sector-by-sector pass alike.
    for (bool failBulk : {false, true}) {
        std::vector<std::uint8_t> bytes(512 + 300, 'A');
        std::fill(bytes.begin() + 512, bytes.end(), 'B');
        auto faulty = std::make_unique<FaultyDevice>(std::make_unique<MemoryDevice>(bytes));
        if (failBulk)
            faulty->markBad(0, 1);
        SectorReader cut;
        cut.attach(std::move(faulty));
        buffer = staleBuffer(2);
        EXPECT_EQ(cut.readSectorsZeroFilled(0, 2, buffer), 1u);
        EXPECT_EQ(buffer[512 + 299], 'B') << failBulk;
        EXPECT_EQ(buffer[512 + 300], 0) << failBulk;
    }

    SectorReader closed;
    buffer = staleBuffer(2);
    EXPECT_EQ(closed.readSectorsZeroFilled(0, 2, buffer), 2u);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(2 * kSectorSize, 0));
}

TEST(SectorReader, ShortBufferLimitsTheRun)
{
    FaultyReader r(10);
    std::vector<std::uint8_t> buffer(kSectorSize, kStale);
    EXPECT_EQ(r.reader.readSectors(4, 3, buffer), 0u);
    EXPECT_TRUE(sectorHolds(buffer, 0, 4));
}

TEST(SectorReader, ReadsAnImageFileAndRefusesMissingOnes)
{
    test::TempDir dir;
    const auto image = dir / "disk.img";
    {
        std::ofstream out(image, std::ios::binary);
        for (int s = 0; s < 4; ++s)
            out << std::string(kSectorSize, static_cast<char>('a' + s));
    }
    SectorReader reader;
    DiskInfo disk;
    disk.path = image.string();
    ASSERT_TRUE(reader.openDisk(disk));
    EXPECT_EQ(reader.device()->sizeBytes(), 4u * kSectorSize);
    auto buffer = staleBuffer(2);
    EXPECT_EQ(reader.readSectors(2, 2, buffer), 0u);
    EXPECT_TRUE(sectorHolds(buffer, 0, 'c'));
    EXPECT_TRUE(sectorHolds(buffer, 1, 'd'));

    disk.path = (dir / "missing.img").string();
    OpenError error;
    EXPECT_FALSE(reader.openDisk(disk, &error));
    EXPECT_FALSE(reader.isOpen());
    EXPECT_NE(error.message.find("missing.img"), std::string::npos);
    EXPECT_NE(error.message.find("No such file"), std::string::npos);
}

TEST(FileDevice, PermissionDeniedOnADeviceNamesTheDiskGroup)
{
    const std::string message = describeOpenFailure("/dev/sdb", EACCES, true);
    EXPECT_EQ(message,
              "cannot open /dev/sdb: Permission denied (reading a disk device needs root or membership of the disk "
              "group)");
    EXPECT_EQ(describeOpenFailure("x.img", EACCES, false), "cannot open x.img: Permission denied");
    EXPECT_EQ(describeOpenFailure("/dev/vda", EPERM, true), "cannot open /dev/vda: Operation not permitted")
        << "the kernel's refusal, which root does not overcome";
}

} // namespace
} // namespace tamsin
