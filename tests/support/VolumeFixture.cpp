#include "VolumeFixture.h"

#include <sstream>

#include "mount/Mount.h"
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

BuiltVolume buildAndMount(Session& session, const std::filesystem::path& imagePath,
                          imagebuilder::VolumeContents contents, std::uint32_t sectorsPerBlock)
{
    BuiltVolume built = buildVolume(imagePath, std::move(contents), sectorsPerBlock);
    if (!built.manifest)
        return built;
    openAndSelect(session, built.imagePath);
    RecordingMountObserver observer;
    const MountResult result = mountVolume(session.mounted, session.reader, observer);
    EXPECT_EQ(result, MountResult::Completed);
    if (result != MountResult::Completed)
        built.manifest.reset();
    return built;
}

const TreeNode& fileNamed(const MountedVolume& volume, const std::string& name)
{
    for (const TreeNode& file : volume.files)
        if (file.name == name)
            return file;
    ADD_FAILURE() << "no file " << name;
    static const TreeNode none;
    return volume.files.empty() ? none : volume.files.front();
}

bool RecordingMountObserver::sawStatus(MountStatus status) const
{
    return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
}

} // namespace tamsin::test
