#include "VolumePaths.h"

#include "mount/FolderPaths.h"

#include <sstream>

namespace tamsin::cli {

std::vector<std::string> splitPath(const std::string& path)
{
    std::vector<std::string> names;
    std::stringstream in(path);
    for (std::string name; std::getline(in, name, '/');)
        if (!name.empty())
            names.push_back(name);
    return names;
}

PathNamer::PathNamer(const MountedVolume& volume, const CodePageConverter& names) :
    volume_(volume), names_(names), paths_(volume.tree.size()), known_(volume.tree.size(), false)
{
}

const std::string& PathNamer::itemPath(std::uint32_t item)
{
    if (item == FolderTree::kRootItem || !volume_.tree.contains(item))
        return root_;
    if (!known_[item]) {
        // Iterative, so arbitrarily deep trees cannot exhaust the stack.
        std::vector<std::uint32_t> pending;
        for (std::uint32_t i = item; i != FolderTree::kRootItem && !known_[i]; i = volume_.tree.item(i).parent)
            pending.push_back(i);
        for (auto it = pending.rbegin(); it != pending.rend(); ++it) {
            const std::uint32_t parent = volume_.tree.item(*it).parent;
            std::string path = parent == FolderTree::kRootItem ? empty_ : paths_[parent];
            path.append("/").append(names_.toUtf8(volume_.folderForItem(*it)->name));
            paths_[*it] = std::move(path);
            known_[*it] = true;
        }
    }
    return paths_[item];
}

std::string PathNamer::entryPath(const TreeNode& node)
{
    if (node.isFolder() && node.treeItem != 0)
        return itemPath(node.treeItem);
    std::string path;
    entryPath(node, names_.toUtf8(node.name), path);
    return path;
}

const std::string& PathNamer::entryPath(const TreeNode& node, std::string_view utf8Name, std::string& scratch)
{
    if (node.isFolder() && node.treeItem != 0)
        return itemPath(node.treeItem);
    const std::uint32_t parent = parentItemOf(volume_, node);
    scratch.assign(parent == FolderTree::kRootItem ? empty_ : itemPath(parent));
    scratch.append("/").append(utf8Name);
    return scratch;
}

std::optional<EntryRef> resolveEntry(const MountedVolume& volume, const CodePageConverter& names,
                                     const std::string& path)
{
    auto same = [&](const std::string& raw, const std::string& name) { return names.toUtf8(raw) == name; };
    std::vector<std::string> parts = splitPath(path);
    if (auto folder = findFolderItem(volume, parts, same))
        return EntryRef{true, *folder, 0};
    if (parts.empty())
        return std::nullopt;
    const std::string fileName = parts.back();
    parts.pop_back();
    const auto folder = findFolderItem(volume, parts, same);
    if (!folder)
        return std::nullopt;
    const TreeNode* node = volume.folderForItem(*folder);
    const std::uint32_t id = node ? node->ownId : 0;
    for (std::uint32_t position : volume.index.childFiles(id))
        if (same(volume.files[position].name, fileName))
            return EntryRef{false, *folder, position};
    return std::nullopt;
}

} // namespace tamsin::cli
