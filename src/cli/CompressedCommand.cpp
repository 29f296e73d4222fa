#include "Commands.h"
#include "JsonRows.h"
#include "TextTable.h"
#include "VolumePaths.h"

#include "recovery/CompressedFiles.h"

namespace tamsin::cli {

int runCompressed(const CompressedOptions& options, std::ostream& out, std::ostream& err)
{
    int status = 0;
    auto mounted = mountFromOptions(options.mount, err, status);
    if (!mounted)
        return status;
    const MountedVolume& volume = mounted->session.mounted;
    PathNamer paths(volume, *mounted->names);
    const auto found = compressedFiles(volume, mounted->session.reader);

    if (options.json) {
        JsonRows json(out);
        for (const auto& info : found) {
            const std::string path = paths.entryPath(volume.files[info.position]);
            json.field("path", path)
                .field("size", info.size)
                .field("headerReadable", info.headerReadable)
                .field("headerMatches", info.headerMatches());
            if (info.headerReadable)
                json.field("checkSize", info.checkSize).field("storedLength", info.storedLength);
            json.endRow();
        }
        json.finish();
        return kExitOk;
    }
    if (found.empty()) {
        out << "No compressed files on this volume.\n";
        return kExitOk;
    }
    TextTable text;
    text.addColumn("Path");
    text.addColumn("Size", TextTable::Align::Right);
    text.addColumn("Stored", TextTable::Align::Right);
    text.addColumn("Header");
    for (const auto& info : found)
        text.addRow({paths.entryPath(volume.files[info.position]), std::to_string(info.size),
                     info.headerReadable ? std::to_string(info.storedLength) : "-",
                     !info.headerReadable ? "unreadable" : info.headerMatches() ? "matches the size" : "checksum error"});
    text.print(out);
    out << "Compressed files are recovered as their stored (compressed) stream; decompression is not available.\n";
    return kExitOk;
}

} // namespace tamsin::cli
