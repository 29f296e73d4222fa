#include "VolumeFixture.h"

#include "volumes/VolumeTableReader.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tamsin::test {

BuiltVolume buildVolume(const std::filesystem::path& imagePath, imagebuilder::VolumeContents contents,
                        std::uint32_t sectorsPerBlock)
{
    const auto layout =
        imagebuilder::writeImage(imagebuilder::singleVolumeDisk("SYS", sectorsPerBlock, std::move(contents)), imagePath);
    EXPECT_TRUE(layout.ok()) << (layout.ok() ? "" : layout.error());
    if (!layout.ok())
        return {};
    return {imagePath.string(), layout->partitions[0].segments[0].manifest};
}

void openAndSelect(Session& session, const std::string& imagePath)
{
    DiskInfo disk;
    disk.path = imagePath;
    ASSERT_TRUE(session.reader.openDisk(disk));
    ASSERT_EQ(readVolumeTables(session.reader, session.volumes), VolumeTableStatus::VolumesFound);
    session.mounted.selectVolume(session.volumes[0], 0);
}

bool RecordingMountObserver::sawStatus(const std::string& text) const
{
    return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
}

} // namespace tamsin::test
