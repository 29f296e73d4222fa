// Access mode F: the loader's messages on stand-in libraries, what the engine
// hands to the library, and our own libraries reading a builder image the
// same as native access.

#include "disk/DiskEnumerator.h"
#include "disk/FileDevice.h"
#include "disk/HelperDisk.h"
#include "disk/HelperLibraries.h"
#include "disk/SectorReader.h"
#include "session/Session.h"
#include "volumes/VolumeTableReader.h"

#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>

namespace tamsin {
namespace {

const std::filesystem::path kStandIns = TAMSIN_STANDINS;

TEST(HelperLibraries, EachLoadFailureHasItsMessageInLoadOrder)
{
    const std::pair<const char*, const char*> cases[] = {
        {"no-disk32", kDisk32Missing},      {"bad-disk32", kDisk32Missing},  {"no-read", kDisk32Corrupted},
        {"no-int13", kDisk32Corrupted},     {"no-disk2", kDisk2Missing},     {"no-geometry", kDisk2Corrupted},
        {"no-find", kDisk32Corrupted},
        // find_hard_disk32 is looked up only after disk2.dll is loaded.
        {"no-find-no-disk2", kDisk2Missing},
    };
    for (const auto& [folder, message] : cases) {
        HelperLibraries libraries;
        EXPECT_EQ(libraries.load(kStandIns / folder), message) << folder;
        EXPECT_FALSE(libraries.loaded()) << folder;
    }
    HelperLibraries full;
    EXPECT_EQ(full.load(kStandIns / "full"), "");
    EXPECT_TRUE(full.loaded());
}

TEST(HelperLibraries, FolderFromEnvironmentElseBuildTree)
{
    ::setenv("TAMSIN_HELPER_DIR", "/opt/helpers", 1);
    EXPECT_EQ(HelperLibraries::defaultFolder(), "/opt/helpers");
    ::setenv("TAMSIN_HELPER_DIR", "", 1);
    const auto folder = HelperLibraries::defaultFolder();
    ::unsetenv("TAMSIN_HELPER_DIR");
    EXPECT_EQ(folder, HelperLibraries::defaultFolder());
    EXPECT_TRUE(std::filesystem::exists(folder / kDisk32Name)) << folder;
    EXPECT_TRUE(std::filesystem::exists(folder / kDisk2Name)) << folder;
}

TEST(HelperDisk, ChsFromLowThirtyTwoBitsForSixteenHeadsSixtyThreeSectors)
{
    auto chs = [](std::uint64_t sector) {
        const HelperChs c = helperChs(sector);
        return std::to_string(c.cylinder) + "/" + std::to_string(c.head) + "/" + std::to_string(c.sector);
    };
    EXPECT_EQ(chs(0), "0/0/1");
    EXPECT_EQ(chs(1007), "0/15/63");
    EXPECT_EQ(chs(1008), "1/0/1");
    EXPECT_EQ(chs(1009), "1/0/2");
    EXPECT_EQ(chs((std::uint64_t{1} << 32) + 1008), "1/0/1");
}

// The full stand-in pair, loaded once per process, and its record of reads.
class HelperStandIn : public ::testing::Test {
protected:
    static const HelperLibraries& libraries()
    {
        static HelperLibraries loaded;
        static const std::string failure = loaded.load(kStandIns / "full");
        EXPECT_EQ(failure, "");
        return loaded;
    }

    void SetUp() override
    {
        table = listHelperDisks(libraries());
        void* disk32 = ::dlopen((kStandIns / "full" / kDisk32Name).c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(disk32, nullptr);
        reads = static_cast<std::uint32_t(*)[7]>(::dlsym(disk32, "standInReads"));
        readCount = static_cast<std::uint32_t*>(::dlsym(disk32, "standInReadCount"));
        ASSERT_TRUE(reads && readCount);
        *readCount = 0;
    }

    std::unique_ptr<SectorReader> reader(std::size_t disk) const
    {
        auto r = std::make_unique<SectorReader>(AccessMode::Helper);
        r->attach(std::make_unique<HelperDevice>(libraries(), *table.disk(disk)));
        return r;
    }

    DiskTable table;
    std::uint32_t (*reads)[7] = nullptr;
    std::uint32_t* readCount = nullptr;
};

TEST_F(HelperStandIn, ListsTheLibrariesDisks)
{
    EXPECT_EQ(table.accessMode, AccessMode::Helper);
    ASSERT_EQ(table.diskCount, 2u);
    ASSERT_EQ(table.entries.size(), 2u);
    const DiskInfo& second = table.entries[1];
    EXPECT_EQ(second.helperDisk, 0x81u);
    EXPECT_EQ(second.int13Extensions, 0x1381u);
    EXPECT_EQ(second.cylinders, 3u);
    EXPECT_EQ(second.heads, 16u);
    EXPECT_EQ(second.sectorsPerTrack, 63u);
    EXPECT_EQ(second.totalSectors, 3u * 1008);
    EXPECT_EQ(second.model, "Unknown");
    EXPECT_EQ(second.path, "disk 0x81");
    EXPECT_EQ(table.entries[0].totalSectors, 2u * 1008);
}

TEST_F(HelperStandIn, EachRunIsOneCallWithItsAddressAndTheDisksExtensionValue)
{
    const auto owned = reader(1);
    const SectorReader& r = *owned;
    std::vector<std::uint8_t> buffer(8 * kSectorSize);
    for (std::uint64_t first : {1007, 1008, 1009})
        EXPECT_EQ(r.readSectors(first, 8, buffer), 0u);
    ASSERT_EQ(*readCount, 3u);
    const std::uint32_t expected[3][7] = {{0x81, 0, 15, 63, 8, 1007, 0x1381},
                                          {0x81, 1, 0, 1, 8, 1008, 0x1381},
                                          {0x81, 1, 0, 2, 8, 1009, 0x1381}};
    for (int call = 0; call < 3; ++call)
        for (int field = 0; field < 7; ++field)
            EXPECT_EQ(reads[call][field], expected[call][field]) << "call " << call << " field " << field;
}

TEST_F(HelperStandIn, ZeroFilledReadsNeverShowWhatTheLibraryLeftUnwritten)
{
    const auto owned = reader(0);
    const SectorReader& r = *owned;
    std::vector<std::uint8_t> buffer(4 * kSectorSize, 0xAB);
    EXPECT_EQ(r.readSectors(5, 4, buffer), 0u);
    EXPECT_EQ(buffer[0], 5);
    EXPECT_EQ(buffer[kSectorSize], 0xAB);  // no status from the library: the old bytes stay

    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0xAB});
    EXPECT_EQ(r.readSectorsZeroFilled(5, 4, buffer), 0u);
    EXPECT_EQ(buffer[0], 5);
    EXPECT_TRUE(std::all_of(buffer.begin() + kSectorSize, buffer.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(HelperStandIn, SectorsPastTheDisksEndAreUnreadableAndNotAskedFor)
{
    const auto owned = reader(0);  // 2016 sectors
    const SectorReader& r = *owned;
    std::vector<std::uint8_t> buffer(8 * kSectorSize, 0xAB);
    std::vector<std::uint32_t> unreadable;
    EXPECT_EQ(r.readSectorsZeroFilled(2012, 8, buffer, &unreadable), 4u);
    EXPECT_EQ(unreadable, (std::vector<std::uint32_t>{4, 5, 6, 7}));
    ASSERT_EQ(*readCount, 1u);
    EXPECT_EQ(reads[0][4], 4u);  // count
    EXPECT_EQ(r.readSectors(2016, 8, buffer), 8u);
    EXPECT_EQ(*readCount, 1u);
}

TEST(HelperSession, FurtherDisksInheritTheAccessModeAndPathsAreNotHelperDisks)
{
    Session session(AccessMode::Helper);
    EXPECT_EQ(session.addDisk().accessMode(), AccessMode::Helper);
    EXPECT_EQ(session.settings.sectorsPerAttempt(), 8u);

    HelperLibraries notLoaded;
    DiskInfo image;
    image.path = "/tmp/disk.img";
    OpenError error;
    EXPECT_EQ(HelperDevice::open(notLoaded, image, &error), nullptr);
    EXPECT_NE(error.message.find("not loaded"), std::string::npos) << error.message;
}

// Our own libraries over a builder image, through the process's libraries
// as the programs load them: every sector reads as in native access, the
// rounded-up last cylinder reads as zeros, and the volume tables agree.
TEST(HelperImageLibraries, ReadTheImageAsNativeAccessDoes)
{
    test::TempDir dir;
    const test::BuiltVolume built = test::buildVolume(dir / "disk.img", {}, 8);
    ::setenv("TAMSIN_HELPER_DISKS", built.imagePath.c_str(), 1);
    ASSERT_EQ(HelperLibraries::process().load(HelperLibraries::defaultFolder()), "");
    const DiskTable helperDisks = listHelperDisks(HelperLibraries::process());
    ASSERT_EQ(helperDisks.diskCount, 1u);

    Session native;
    DiskInfo image;
    std::string error;
    ASSERT_TRUE(probeDiskPath(built.imagePath, image, error)) << error;
    ASSERT_TRUE(native.reader.openDisk(image));
    Session helper(AccessMode::Helper);
    ASSERT_TRUE(helper.reader.openDisk(*helperDisks.disk(0)));

    const std::uint64_t imageSectors = image.sizeBytes / kSectorSize;
    EXPECT_EQ(helperDisks.entries[0].cylinders, (imageSectors + 1007) / 1008);
    std::vector<std::uint8_t> a(8 * kSectorSize), b(8 * kSectorSize);
    for (std::uint64_t first = 0; first < imageSectors; first += 8) {
        const std::uint32_t run = static_cast<std::uint32_t>(std::min<std::uint64_t>(8, imageSectors - first));
        native.reader.readSectorsZeroFilled(first, run, a);
        helper.reader.readSectorsZeroFilled(first, run, b);
        ASSERT_EQ(a, b) << "sectors from " << first;
    }
    std::fill(b.begin(), b.end(), std::uint8_t{0xAB});
    if (helperDisks.entries[0].totalSectors > imageSectors) {
        EXPECT_EQ(helper.reader.readSectors(imageSectors, 1, b), 0u);
        EXPECT_EQ(b[0], 0);
    }

    readVolumeTables(native.reader, native.volumes);
    readVolumeTables(helper.reader, helper.volumes);
    ASSERT_EQ(helper.volumes.volumeCount(), native.volumes.volumeCount());
    ASSERT_GT(native.volumes.volumeCount(), 0u);
    EXPECT_EQ(helper.volumes[0].name, native.volumes[0].name);
    EXPECT_EQ(helper.volumes[0].startSector, native.volumes[0].startSector);
    EXPECT_EQ(helper.volumes[0].blockCount, native.volumes[0].blockCount);
}

} // namespace
} // namespace tamsin
