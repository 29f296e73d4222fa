#include "Commands.h"
#include "JsonRows.h"
#include "Messages.h"
#include "TextTable.h"
#include "VolumePaths.h"

#include "mount/FolderContents.h"
#include "mount/FolderPaths.h"
#include "search/FileFilters.h"

namespace tamsin::cli {
namespace {

// pathScratch: room for the path, kept from row to row.
void writeEntry(JsonRows& json, const TreeNode& node, std::string_view dosName, PathNamer& paths,
                const CodePageConverter& names, std::string& pathScratch)
{
    const NetWareDateTimeText stamp = netWareDateTimeText(node.dateTime);
    const std::string name = names.toUtf8(node.name);
    const std::string& path = paths.entryPath(node, name, pathScratch);
    // Most entries have no DOS name apart from their name, which is then converted once.
    const bool ownDosName = dosName.data() != node.name.data();
    const std::string dos = ownDosName ? names.toUtf8(dosName) : std::string();
    json.field("compressed", node.isCompressed())
        .field("date", stamp.dateText())
        .field("deleted", node.isDeleted())
        .field("dosName", ownDosName ? dos : name)
        .field("firstBlock", node.firstBlock)
        .field("kind", node.isFolder() ? "folder" : "file")
        .field("name", name)
        .field("ownId", node.ownId)
        .field("parentId", node.parentId)
        .field("path", path)
        .field("size", node.isFolder() ? 0 : node.size)
        .field("time", stamp.timeText());
    json.endRow();
}

} // namespace

int runList(const ListOptions& options, std::ostream& out, std::ostream& err)
{
    // Filters are checked before the (possibly long) mount.
    FileFilters filters;
    for (auto it = options.filters.rbegin(); it != options.filters.rend(); ++it) {
        // Each filter goes in at the top, so adding them last to first keeps the given order.
        if (const char* notice = filterNotice(filters.add(*it))) {
            err << "tamsin: --filter " << *it << ": " << notice << '\n';
            return kExitUsage;
        }
    }
    int status = 0;
    auto mounted = mountFromOptions(options.mount, err, status);
    if (!mounted)
        return status;
    const MountedVolume& volume = mounted->session.mounted;
    const CodePageConverter& names = *mounted->names;
    PathNamer paths(volume, names);
    auto listed = [&](const TreeNode& node) { return node.isFolder() || filters.passes(node.name); };

    // Recursive: every folder in list order, then every file. Otherwise the
    // folder's rows as its contents list has them: its folders, then its files.
    std::uint32_t folderId = 0;
    if (!options.recursive) {
        const auto item = findFolderItem(volume, splitPath(options.path), [&](const std::string& raw, const std::string& name) {
            return names.toUtf8(raw) == name;
        });
        if (!item) {
            err << "tamsin: no folder " << options.path << " on volume " << options.mount.volume << '\n';
            return kExitError;
        }
        const TreeNode* folder = volume.folderForItem(*item);
        folderId = folder ? folder->ownId : 0;
    }
    auto forEachListed = [&](auto&& visit) {
        if (options.recursive) {
            for (const auto& folder : volume.folders)
                visit(folder);
            for (const auto& file : volume.files)
                if (listed(file))
                    visit(file);
            return;
        }
        for (std::uint32_t position : volume.index.childFolders(folderId))
            visit(volume.folders[position]);
        for (std::uint32_t position : volume.index.childFiles(folderId))
            if (listed(volume.files[position]))
                visit(volume.files[position]);
    };

    if (options.json) {
        // Each row is written as it is made: no list of the entries is held.
        JsonRows json(out);
        std::string pathScratch;
        forEachListed(
            [&](const TreeNode& node) { writeEntry(json, node, volume.dosName(node), paths, names, pathScratch); });
        json.finish();
        return kExitOk;
    }
    std::vector<const TreeNode*> nodes;
    forEachListed([&](const TreeNode& node) { nodes.push_back(&node); });
    if (nodes.empty()) {
        out << "(empty folder)\n";
        return kExitOk;
    }
    TextTable text;
    text.addColumn(options.recursive ? "Path" : "Name");
    text.addColumn("Type");
    text.addColumn("Size", TextTable::Align::Right);
    text.addColumn("Date");
    text.addColumn("Time");
    for (const TreeNode* node : nodes) {
        const auto [date, time] = formatNetWareDateTime(node->dateTime);
        text.addRow({options.recursive ? paths.entryPath(*node) : names.toUtf8(node->name), typeText(*node, plainTypeName),
                     node->isFolder() ? "0" : std::to_string(node->size), date, time});
    }
    text.print(out);
    return kExitOk;
}

} // namespace tamsin::cli
