#include "Commands.h"
#include "DiskArgument.h"
#include "SearchSupport.h"
#include "TextTable.h"

#include "common/CodePage.h"
#include "disk/FileDevice.h"
#include "session/Session.h"
#include "volumes/VolumeTableReader.h"

#include <nlohmann/json.hpp>

namespace tamsin::cli {

int runVolumes(const VolumesOptions& options, std::ostream& out, std::ostream& err)
{
    CodePageConverter names(options.codePage);
    if (!names.valid()) {
        err << "tamsin: unknown code page '" << options.codePage << "'\n";
        return kExitUsage;
    }
    std::string error;
    const auto disk = resolveDisk(options.disk, error);
    if (!disk) {
        err << "tamsin: " << error << '\n';
        return kExitError;
    }
    Session session;
    OpenError openError;
    if (!session.reader.openDisk(*disk, &openError)) {
        err << "tamsin: " << openError.message << '\n';
        return kExitError;
    }
    VolumeTable& table = session.volumes;
    VolumeTableStatus status = VolumeTableStatus::VolumesFound;
    if (options.search.enabled) {
        SearchOutcome outcome;
        if (!searchDisk(session, *disk, options.search, err, outcome))
            return kExitUsage;
    } else {
        status = readVolumeTables(session.reader, table);
    }

    std::string notFound;
    if (options.search.enabled && table.volumeCount() == 0)
        notFound = "No NetWare volume found in the searched range of " + disk->path + ".";
    else if (status == VolumeTableStatus::NoPartitionTable)
        notFound = "No partition table on " + disk->path
            + ": sector 0 has no boot signature or cannot be read. A volume search scans the disk for volume tables.";
    else if (status == VolumeTableStatus::NoVolumeFound)
        notFound = "No NetWare volume found in the volume tables of " + disk->path
            + ". A volume search scans the disk for volume tables.";

    if (options.json) {
        auto array = nlohmann::json::array();
        for (std::size_t i = 0; i < table.volumeCount(); ++i) {
            const VolumeInfo& v = table[i];
            array.push_back({{"index", i},
                             {"name", names.toUtf8(v.name)},
                             {"startSector", v.startSector},
                             {"sizeSectors", v.sizeSectors},
                             {"blockCount", v.blockCount},
                             {"sectorsPerBlock", v.sectorsPerBlock},
                             {"firstFatBlock", v.firstFatBlock},
                             {"secondFatBlock", v.secondFatBlock},
                             {"firstDetBlock", v.firstDetBlock},
                             {"secondDetBlock", v.secondDetBlock}});
        }
        out << array.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        if (!notFound.empty())
            err << notFound << '\n';
        return kExitOk;
    }

    if (!notFound.empty()) {
        out << notFound << '\n';
        return kExitOk;
    }
    TextTable text;
    text.addColumn("Index", TextTable::Align::Right);
    text.addColumn("Name");
    text.addColumn("Start Sector", TextTable::Align::Right);
    text.addColumn("End Sector", TextTable::Align::Right);
    text.addColumn("Size", TextTable::Align::Right);
    text.addColumn("Sectors/Block", TextTable::Align::Right);
    text.addColumn("Blocks", TextTable::Align::Right);
    text.addColumn("FAT Blocks");
    text.addColumn("DET Blocks");
    for (std::size_t i = 0; i < table.volumeCount(); ++i) {
        const VolumeInfo& v = table[i];
        const auto rows = volumePropertyRows(v);
        text.addRow({std::to_string(i), names.toUtf8(v.name), rows[1].second, rows[2].second, rows[3].second,
                     std::to_string(v.sectorsPerBlock), std::to_string(v.blockCount),
                     std::to_string(v.firstFatBlock) + ", " + std::to_string(v.secondFatBlock),
                     std::to_string(v.firstDetBlock) + ", " + std::to_string(v.secondDetBlock)});
    }
    text.print(out);
    return kExitOk;
}

} // namespace tamsin::cli
