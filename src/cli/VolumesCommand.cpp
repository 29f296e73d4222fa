#include "Commands.h"
#include "DiskWords.h"
#include "DiskArgument.h"
#include "SearchSupport.h"
#include "TextTable.h"

#include "common/CodePage.h"
#include "disk/FileDevice.h"
#include "session/Session.h"
#include "volumes/VolumeLayout.h"
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
    const auto disk = resolveDisk(options.disk, options.accessMode, error);
    if (!disk) {
        err << "tamsin: " << error << '\n';
        return kExitError;
    }
    Session session(options.accessMode);
    OpenError openError;
    if (!session.reader.openDisk(*disk, &openError)) {
        err << "tamsin: " << openError.message << '\n';
        return kExitError;
    }
    if (!attachRescueMap(session.reader, options.map, options.noMap, err)
        || !openMoreDisks(session, options.with, options.noMap, err))
        return kExitError;
    VolumeTable& table = session.volumes;
    VolumeTableStatus status = VolumeTableStatus::VolumesFound;
    if (options.search.enabled) {
        SearchOutcome outcome;
        if (!searchDisk(session, *disk, options.search, err, outcome))
            return kExitUsage;
    } else {
        status = readVolumeTables(session.openDisks(), table);
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
            nlohmann::json row = {{"index", i},
                                  {"name", names.toUtf8(v.name)},
                                  {"startSector", v.startSector},
                                  {"sizeSectors", v.sizeSectors},
                                  {"blockCount", v.blockCount},
                                  {"sectorsPerBlock", v.sectorsPerBlock},
                                  {"firstFatBlock", v.firstFatBlock},
                                  {"secondFatBlock", v.secondFatBlock},
                                  {"firstDetBlock", v.firstDetBlock},
                                  {"secondDetBlock", v.secondDetBlock},
                                  {"disk", v.diskPath.empty() ? disk->path : v.diskPath},
                                  {"segment", v.segment},
                                  {"segmentCount", v.segmentCount},
                                  {"volumeBlocks", v.layout ? v.volumeBlocks : v.blockCount},
                                  {"firstVolumeBlock", v.firstVolumeBlock},
                                  {"complete", v.complete()}};
            if (!v.mirrors.empty())
                row["mirrors"] = v.mirrors;
            array.push_back(std::move(row));
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
    const bool severalDisks = !session.moreDisks.empty();
    if (severalDisks)
        text.addColumn("Disk");
    for (std::size_t i = 0; i < table.volumeCount(); ++i) {
        const VolumeInfo& v = table[i];
        const auto properties = volumeProperties(v);
        std::string name = names.toUtf8(v.name);
        if (v.segmentCount > 1)
            name += " (" + std::to_string(v.segment + 1) + "/" + std::to_string(v.segmentCount) + ")";
        std::vector<std::string> cells{std::to_string(i), terminalSafe(name), properties[1].value, properties[2].value,
                                       properties[3].value, std::to_string(v.sectorsPerBlock), std::to_string(v.blockCount),
                                       std::to_string(v.firstFatBlock) + ", " + std::to_string(v.secondFatBlock),
                                       std::to_string(v.firstDetBlock) + ", " + std::to_string(v.secondDetBlock)};
        if (severalDisks)
            cells.push_back(terminalSafe(v.diskPath.empty() ? disk->path : v.diskPath));
        text.addRow(cells);
    }
    text.print(out);
    // What a table row cannot show: missing segments and mirror members.
    for (std::size_t i = 0; i < table.volumeCount(); ++i) {
        const VolumeInfo& v = table[i];
        if (!v.complete() && v.layout)
            out << "Volume " << i << " (" << terminalSafe(names.toUtf8(v.name)) << ") is incomplete: "
                << words::missingSegmentsText(*v.layout) << '\n';
        if (!v.mirrors.empty()) {
            out << "Volume " << i << " lies on a mirrored partition:";
            for (const std::string& m : v.mirrors)
                out << ' ' << m;
            out << '\n';
        }
    }
    return kExitOk;
}

} // namespace tamsin::cli
