#include "Commands.h"
#include "DiskWords.h"
#include "TextTable.h"

#include "disk/DiskEnumerator.h"
#include "disk/HelperDisk.h"
#include "disk/HelperLibraries.h"
#include "disk/Sector.h"

#include <nlohmann/json.hpp>

namespace tamsin::cli {

int runDisks(const DisksOptions& options, std::ostream& out, std::ostream& err)
{
    EnumerationResult listed;
    if (options.accessMode == AccessMode::Helper) {
        if (!options.images.empty()) {
            err << "tamsin: in access mode F the helper libraries list the disks; image files are listed in access "
                   "mode N\n";
            return kExitUsage;
        }
        listed.table = listHelperDisks(HelperLibraries::process());
    } else {
        DiskSources sources;
        if (options.noDevices)
            sources.sysBlock.clear();
        listed = enumerateDisks(options.images, sources);
    }
    for (const auto& message : listed.errors)
        err << "tamsin: " << message << '\n';
    // Sectors past what the helper's 32-bit addresses reach read as unreadable.
    if (listed.table.accessMode == AccessMode::Helper)
        for (const DiskInfo& d : listed.table.entries)
            if (helperReachableSectors(d) < d.sizeBytes / kSectorSize)
                err << "tamsin: " << d.path << ": the helper libraries reach only its first "
                    << helperReachableSectors(d) << " of " << d.sizeBytes / kSectorSize
                    << " sectors (2 TiB); the rest reads as unreadable\n";

    const DiskTable& table = listed.table;
    if (options.json) {
        auto array = nlohmann::json::array();
        for (std::size_t i = 0; i < table.diskCount; ++i) {
            const DiskInfo& d = table.entries[i];
            array.push_back({{"index", i},
                             {"path", d.path},
                             {"model", d.model},
                             {"cylinders", d.cylinders},
                             {"heads", d.heads},
                             {"sectorsPerTrack", d.sectorsPerTrack},
                             {"totalSectors", d.totalSectors},
                             {"capacity", words::capacityText(d)},
                             {"format", diskFormatName(d.format)}});
        }
        out << array.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else if (table.entries.empty()) {
        out << "No disks found.\n";
    } else {
        TextTable text;
        text.addColumn("Index", TextTable::Align::Right);
        text.addColumn("Item");
        text.addColumn("Path");
        text.addColumn("Model");
        text.addColumn("Capacity", TextTable::Align::Right);
        text.addColumn("Cylinders", TextTable::Align::Right);
        text.addColumn("Heads", TextTable::Align::Right);
        text.addColumn("Sectors/Track", TextTable::Align::Right);
        text.addColumn("Total Sectors", TextTable::Align::Right);
        for (std::size_t i = 0; i < table.entries.size(); ++i) {
            const DiskInfo& d = table.entries[i];
            if (i < table.diskCount)
                text.addRow({std::to_string(i), words::diskItemText(i), d.path, d.model, words::capacityText(d),
                             std::to_string(d.cylinders), std::to_string(d.heads), std::to_string(d.sectorsPerTrack),
                             std::to_string(d.totalSectors)});
            else
                text.addRow({"-", "", d.path, d.model});
        }
        text.print(out);
    }
    return listed.errors.empty() ? kExitOk : kExitError;
}

} // namespace tamsin::cli
