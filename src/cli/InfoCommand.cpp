#include "Commands.h"
#include "VolumeWords.h"
#include "Messages.h"
#include "TextTable.h"

#include "mount/FolderContents.h"
#include "mount/VolumeReports.h"
#include "volumes/VolumeInfo.h"

#include <nlohmann/json.hpp>

namespace tamsin::cli {

int runInfo(const InfoOptions& options, std::ostream& out, std::ostream& err)
{
    int status = 0;
    auto mounted = mountFromOptions(options.mount, err, status);
    if (!mounted)
        return status;
    const MountedVolume& volume = mounted->session.mounted;
    const VolumeInfo picked = volume.volumeInfo();
    const LayoutReport layout = layoutReport(volume, mounted->session.reader);

    if (options.json) {
        nlohmann::json info = {
            {"disk", mounted->diskPath},
            {"volume", volume.volumeIndex},
            {"name", mounted->names->toUtf8(volume.volumeName)},
            {"startSector", volume.startSector},
            {"endSector", volumeEndSector(picked)},
            {"sizeSectors", volume.sizeSectors},
            {"blockCount", volume.blockCount},
            {"sectorsPerBlock", volume.sectorsPerBlock},
            {"firstFatBlock", volume.firstFatBlock},
            {"secondFatBlock", volume.secondFatBlock},
            {"firstDetBlock", volume.firstDetBlock},
            {"secondDetBlock", volume.secondDetBlock},
            {"chosenFatCopy", volume.chosenFatCopy},
            {"chosenDetCopy", volume.chosenDetCopy},
            {"detBlocks", volume.detBlockCount},
            {"folders", volume.folderCount()},
            {"files", volume.fileCount()},
            {"complete", layout.complete},
            {"nameSpaces", volumeNameSpaces(volume)},
            {"redirectedBlocks", layout.redirectedBlocks},
            {"freeSpareBlocks", layout.freeSpares},
            {"unreadableHotfixEntries", layout.unreadableHotfixEntries},
            {"dataAreaSectors", layout.dataSectors},
            {"unreadableTableSectors",
             {{"fat", volume.tableDamage.fatUnreadable},
              {"det", volume.tableDamage.detUnreadable},
              {"lostDirectorySectors", volume.tableDamage.lostDirectorySectors}}},
        };
        auto segments = nlohmann::json::array();
        for (const SegmentReport& s : layout.segments)
            segments.push_back({{"disk", s.disk.empty() ? mounted->diskPath : s.disk},
                                {"startSector", s.startSector},
                                {"sizeSectors", s.sizeSectors},
                                {"firstVolumeBlock", s.firstVolumeBlock}});
        info["segments"] = std::move(segments);
        if (volume.root.found) {
            const auto [date, time] = formatNetWareDateTime(volume.root.createdDateTime);
            info["created"] = date + " " + time;
        } else {
            info["created"] = nullptr;
        }
        auto partitions = nlohmann::json::array();
        for (const PartitionReport& p : layout.partitions)
            partitions.push_back({{"disk", p.disk.empty() ? mounted->diskPath : p.disk},
                                  {"slot", p.slot},
                                  {"partitionStart", p.partitionStart},
                                  {"hotfixTablesUsed", p.headersUsable},
                                  {"dataAreaSectors", p.dataSectors},
                                  {"redirectedBlocks", p.redirectedBlocks},
                                  {"freeSpareBlocks", p.freeSpares},
                                  {"unreadableHotfixEntries", p.unreadableHotfixEntries},
                                  {"partitionId", p.partitionId},
                                  {"mirrorGroupId", p.mirrorGroupId},
                                  {"mirrored", p.mirrored},
                                  {"inSync", p.inSync}});
        info["partitions"] = std::move(partitions);
        out << info.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return kExitOk;
    }

    auto printRows = [&](const std::vector<std::pair<std::string, std::string>>& rows) {
        TextTable text;
        text.addColumn("");
        text.addColumn("");
        for (const auto& [label, value] : rows)
            text.addRow({label + ":", value});
        text.print(out, false);
    };

    out << "Volume " << volume.volumeIndex << " (" << terminalSafe(mounted->names->toUtf8(volume.volumeName)) << ") on "
        << mounted->diskPath << "\n\n";
    std::vector<std::pair<std::string, std::string>> rows;
    for (const VolumePropertyRow& row : volumeProperties(picked))
        rows.emplace_back(volumePropertyLabel(row.property), row.value);
    printRows(rows);
    out << "\nDrive Information\n";
    rows.clear();
    for (const auto& part : {driveInformation(volume), words::layoutInformation(layout),
                             words::tableDamageInformation(volume.tableDamage)})
        for (const DriveRow& row : part)
            rows.emplace_back(driveLabel(row), row.value);
    printRows(rows);
    std::string spaces;
    for (const std::string& name : volumeNameSpaces(volume))
        spaces += (spaces.empty() ? "" : ", ") + name;
    out << "\nName spaces: " << spaces << '\n';
    if (volume.root.found) {
        const auto [date, time] = formatNetWareDateTime(volume.root.createdDateTime);
        out << "Created: " << date << ' ' << time << '\n';
    }
    out << "\nFAT copy in use: " << volume.chosenFatCopy << ", DET copy in use: " << volume.chosenDetCopy << " ("
        << volume.detBlockCount << " DET blocks)\n";
    return kExitOk;
}

} // namespace tamsin::cli
