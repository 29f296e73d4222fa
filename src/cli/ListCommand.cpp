#include "Commands.h"
#include "TextTable.h"
#include "VolumePaths.h"

#include "mount/FolderContents.h"
#include "mount/FolderPaths.h"
#include "search/FileFilters.h"

#include <nlohmann/json.hpp>


namespace tamsin::cli {
namespace {

nlohmann::json entryJson(const TreeNode& node, const std::string& dosName, const std::string& path,
                         const CodePageConverter& names)
{
    const auto [date, time] = formatNetWareDateTime(node.dateTime);
    return {{"path", path},
            {"name", names.toUtf8(node.name)},
            {"kind", node.isFolder() ? "folder" : "file"},
            {"deleted", node.isDeleted()},
            {"compressed", node.isCompressed()},
            {"size", node.isFolder() ? 0 : node.size},
            {"date", date},
            {"time", time},
            {"parentId", node.parentId},
            {"ownId", node.ownId},
            {"firstBlock", node.firstBlock},
            {"dosName", names.toUtf8(dosName)}};
}

} // namespace

int runList(const ListOptions& options, std::ostream& out, std::ostream& err)
{
    // Filters are checked before the (possibly long) mount.
    FileFilters filters;
    for (auto it = options.filters.rbegin(); it != options.filters.rend(); ++it) {
        // Each filter goes in at the top, so adding them last to first keeps the given order.
        if (const char* notice = filterNotice(filters.add(*it))) {
            err << "tamsin: --filter " << *it << ": " << withoutPadding(notice) << '\n';
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
    // folder's rows: its folders, then its files.
    std::vector<const TreeNode*> nodes;
    if (options.recursive) {
        nodes.reserve(volume.folders.size() + volume.files.size());
        for (const auto& folder : volume.folders)
            nodes.push_back(&folder);
        for (const auto& file : volume.files)
            if (listed(file))
                nodes.push_back(&file);
    } else {
        const auto item = findFolderItem(volume, splitPath(options.path), [&](const std::string& raw, const std::string& name) {
            return names.toUtf8(raw) == name;
        });
        if (!item) {
            err << "tamsin: no folder " << options.path << " on volume " << options.mount.volume << '\n';
            return kExitError;
        }
        const TreeNode* folder = volume.folderForItem(*item);
        for (const auto& row : folderContents(volume, folder ? folder->ownId : 0, plainTypeName,
                                              [&](const std::string& name) { return filters.passes(name); }))
            nodes.push_back(row.isFolder ? &volume.folders[row.node] : &volume.files[row.node]);
    }

    if (options.json) {
        auto array = nlohmann::json::array();
        for (const TreeNode* node : nodes)
            array.push_back(entryJson(*node, std::string(volume.dosName(*node)), paths.entryPath(*node), names));
        out << array.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return kExitOk;
    }
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
