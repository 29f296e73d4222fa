#include "Commands.h"
#include "TextTable.h"
#include "VolumePaths.h"

#include "mount/FolderContents.h"
#include "mount/FolderPaths.h"
#include "search/FileFilters.h"

#include <nlohmann/json.hpp>

#include <sstream>

namespace tamsin::cli {
namespace {

nlohmann::json entryJson(const TreeNode& node, const std::string& path, const CodePageConverter& names)
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
            {"firstBlock", node.firstBlock}};
}

} // namespace

int runList(const ListOptions& options, std::ostream& out, std::ostream& err)
{
    int status = 0;
    auto mounted = mountFromOptions(options.mount, err, status);
    if (!mounted)
        return status;
    const MountedVolume& volume = mounted->session.mounted;
    const CodePageConverter& names = *mounted->names;
    PathNamer paths(volume, names);

    if (options.recursive) {
        std::vector<const TreeNode*> nodes;
        nodes.reserve(volume.folders.size() + volume.files.size());
        for (const auto& folder : volume.folders)
            nodes.push_back(&folder);
        for (const auto& file : volume.files)
            nodes.push_back(&file);
        if (options.json) {
            auto array = nlohmann::json::array();
            for (const TreeNode* node : nodes)
                array.push_back(entryJson(*node, paths.entryPath(*node), names));
            out << array.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
            return kExitOk;
        }
        TextTable text;
        text.addColumn("Path");
        text.addColumn("Type");
        text.addColumn("Size", TextTable::Align::Right);
        text.addColumn("Date");
        text.addColumn("Time");
        for (const TreeNode* node : nodes) {
            const auto [date, time] = formatNetWareDateTime(node->dateTime);
            text.addRow({paths.entryPath(*node), typeText(*node, plainTypeName), node->isFolder() ? "0" : std::to_string(node->size), date, time});
        }
        text.print(out);
        return kExitOk;
    }

    const auto item = findFolderItem(volume, splitPath(options.path),
                                     [&](const std::string& raw, const std::string& name) { return names.toUtf8(raw) == name; });
    if (!item) {
        err << "tamsin: no folder " << options.path << " on volume " << options.mount.volume << '\n';
        return kExitError;
    }
    const TreeNode* folder = volume.folderForItem(*item);
    const std::uint32_t id = folder ? folder->ownId : 0;
    FileFilters& filters = mounted->session.filters;
    for (auto it = options.filters.rbegin(); it != options.filters.rend(); ++it) {
        // Each filter goes in at the top, so adding them last to first keeps the given order.
        if (const char* notice = filterNotice(filters.add(*it))) {
            const std::string text = notice;
            err << "tamsin: --filter " << *it << ": " << text.substr(text.find_first_not_of(' '),
                                                                 text.find_last_not_of(' ') - text.find_first_not_of(' ') + 1)
                << '\n';
            return kExitUsage;
        }
    }
    const auto rows = folderContents(volume, id, plainTypeName,
                                     [&](const std::string& name) { return filters.passes(name); });

    if (options.json) {
        auto array = nlohmann::json::array();
        for (const auto& row : rows) {
            const TreeNode& node = row.isFolder ? volume.folders[row.node] : volume.files[row.node];
            array.push_back(entryJson(node, paths.entryPath(node), names));
        }
        out << array.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return kExitOk;
    }
    TextTable text;
    text.addColumn("Name");
    text.addColumn("Type");
    text.addColumn("Size", TextTable::Align::Right);
    text.addColumn("Date");
    text.addColumn("Time");
    for (const auto& row : rows)
        text.addRow({names.toUtf8(row.name), row.type, row.size, row.date, row.time});
    if (rows.empty())
        out << "(empty folder)\n";
    else
        text.print(out);
    return kExitOk;
}

} // namespace tamsin::cli
