#include "Commands.h"
#include "TextTable.h"

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
        };
        out << info.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return kExitOk;
    }

    auto printRows = [&](const std::vector<std::pair<std::string, std::string>>& rows) {
        TextTable text;
        text.addColumn("");
        text.addColumn("");
        for (const auto& [label, value] : rows) {
            std::string plain = label;
            while (!plain.empty() && (plain.back() == ' ' || plain.back() == ':'))
                plain.pop_back();
            while (plain.find("  ") != std::string::npos)
                plain.erase(plain.find("  "), 1);
            text.addRow({plain + ":", value});
        }
        text.print(out, false);
    };

    out << "Volume " << volume.volumeIndex << " (" << terminalSafe(mounted->names->toUtf8(volume.volumeName)) << ") on "
        << mounted->diskPath << "\n\n";
    printRows(volumePropertyRows(picked));
    out << "\nDrive Information\n";
    printRows(driveInformationRows(volume));
    out << "\nFAT copy in use: " << volume.chosenFatCopy << ", DET copy in use: " << volume.chosenDetCopy << " ("
        << volume.detBlockCount << " DET blocks)\n";
    return kExitOk;
}

} // namespace tamsin::cli
