#include "VolumeFixture.h"

#include <sstream>

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

std::string rescueMapText(std::uint64_t imageBytes, const std::set<std::uint64_t>& unread)
{
    std::ostringstream out;
    out << std::hex << "# Mapfile\n0x0 + 1\n";
    std::uint64_t at = 0;
    for (std::uint64_t s : unread) {
        if (s * 512 > at)
            out << "0x" << at << " 0x" << s * 512 - at << " +\n";
        out << "0x" << s * 512 << " 0x200 -\n";
        at = (s + 1) * 512;
    }
    if (at < imageBytes)
        out << "0x" << at << " 0x" << imageBytes - at << " +\n";
    return out.str();
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
