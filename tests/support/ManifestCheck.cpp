#include "ManifestCheck.h"

#include "VolumeFixture.h"

#include "mount/Mount.h"
#include "recovery/Extraction.h"
#include "volumes/VolumeTableReader.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tamsin::test {

void openDisks(Session& session, const std::vector<std::filesystem::path>& images)
{
    for (std::size_t i = 0; i < images.size(); ++i) {
        DiskInfo disk;
        disk.path = images[i].string();
        SectorReader& reader = i == 0 ? session.reader : session.addDisk();
        ASSERT_TRUE(reader.openDisk(disk)) << disk.path;
    }
    readVolumeTables(session.openDisks(), session.volumes);
}

void expectRowsMatch(const VolumeTable& table, const std::vector<imagebuilder::TableRow>& rows)
{
    ASSERT_EQ(table.volumeCount(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const VolumeInfo& v = table[i];
        const imagebuilder::TableRow& r = rows[i];
        EXPECT_EQ(v.name, r.name) << i;
        EXPECT_EQ(v.startSector, r.startSector) << r.name;
        EXPECT_EQ(v.sizeSectors, r.sizeSectors) << r.name;
        EXPECT_EQ(v.sectorsPerBlock, r.sectorsPerBlock) << r.name;
        EXPECT_EQ(v.diskIndex, r.disk) << r.name;
        if (r.netwareFields) {
            EXPECT_EQ(v.segment, r.segmentIndex) << r.name;
            EXPECT_EQ(v.segmentCount, r.segmentCount) << r.name;
            EXPECT_EQ(v.volumeBlocks, r.volumeBlocks) << r.name;
            EXPECT_EQ(v.firstVolumeBlock, r.firstVolumeBlock) << r.name;
        } else {
            EXPECT_EQ(v.segmentCount, 1u) << r.name;
        }
    }
}

namespace {

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

void expectMountMatches(Session& session, std::uint32_t row, const imagebuilder::VolumeManifest& manifest,
                        const std::filesystem::path& folder)
{
    ASSERT_LT(row, session.volumes.volumeCount());
    session.mounted.selectVolume(session.volumes[row], static_cast<std::uint16_t>(row));
    RecordingMountObserver observer;
    ASSERT_EQ(mountVolume(session.mounted, session.reader, observer), MountResult::Completed);
    EXPECT_TRUE(observer.chooserCalls.empty()) << "the copies of intact tables match";
    const MountedVolume& v = session.mounted;

    std::size_t folders = 0, files = 0;
    std::filesystem::create_directories(folder);
    RecoveryRunState run;
    ExtractionObserver quiet;
    for (const imagebuilder::ManifestEntry& e : manifest.entries) {
        const std::vector<TreeNode>& list = e.folder ? v.folders : v.files;
        const std::size_t at = e.folder ? folders++ : files++;
        ASSERT_LT(at, list.size()) << e.name;
        const TreeNode& n = list[at];
        EXPECT_EQ(n.name, e.name);
        EXPECT_EQ(v.dosName(n), e.dosName) << e.name;
        EXPECT_EQ(n.parentId, e.parentId) << e.name;
        EXPECT_EQ(n.ownId, e.ownId) << e.name;
        EXPECT_EQ(n.size, e.size) << e.name;
        EXPECT_EQ(n.dateTime, e.dateTime) << e.name;
        EXPECT_EQ(n.modifiedDateTime, e.modifiedDateTime) << e.name;
        EXPECT_EQ(n.deletedMarker, e.deletedMarker) << e.name;
        EXPECT_EQ(n.entrySector, static_cast<std::uint32_t>(e.entrySector)) << e.name;
        EXPECT_EQ(n.mirrorSector, static_cast<std::uint32_t>(e.mirrorSector)) << e.name;
        if (e.folder || !e.content.known)
            continue;
        ExtractRequest request;
        request.destFolder = folder.string();
        request.name = "file" + std::to_string(at);
        request.size = n.size;
        request.firstBlock = n.firstBlock;
        request.flags = n.attributesHigh;
        const ExtractResult result = extractFile(v, session.reader, run, quiet, request);
        ASSERT_TRUE(result.written()) << e.name;
        EXPECT_EQ(readFile(result.path), imagebuilder::expectedData(e)) << e.name;
        EXPECT_EQ(result.incomplete(), e.incomplete()) << e.name;
    }
    EXPECT_EQ(folders, v.folderCount());
    EXPECT_EQ(files, v.fileCount());
}

} // namespace tamsin::test
