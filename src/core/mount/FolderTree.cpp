#include "mount/FolderTree.h"

#include "mount/DirectoryIndex.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <span>
#include <string_view>

namespace tamsin {
namespace {

// Case-insensitive order of raw names, by the C library's tolower in the
// locale current when it is made: a table lookup per byte instead of a call.
class NameOrder {
public:
    NameOrder()
    {
        for (int c = 0; c < 256; ++c)
            lower_[c] = static_cast<unsigned char>(std::tolower(c));
    }
    bool operator()(std::string_view a, std::string_view b) const
    {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [this](char x, char y) {
            return lower_[static_cast<unsigned char>(x)] < lower_[static_cast<unsigned char>(y)];
        });
    }

private:
    std::array<unsigned char, 256> lower_;
};

} // namespace

void FolderTree::build(std::vector<TreeNode>& folders, const DirectoryIndex& index,
                       const std::function<void(int)>& progress)
{
    items_.clear();
    items_.reserve(folders.size() + 1);
    items_.push_back(Item{});
    for (auto& folder : folders)
        folder.treeItem = 0;

    const std::uint64_t total = std::max<std::size_t>(folders.size(), 1);
    std::vector<bool> inserted(folders.size(), false);
    std::uint32_t insertedCount = 0;
    int lastPercent = -1;

    struct Frame {
        std::uint32_t item;
        std::span<const std::uint32_t> kids;
        std::size_t next;
    };
    std::vector<Frame> stack;

    auto insert = [&](std::uint32_t parentItem, std::uint32_t position) {
        inserted[position] = true;
        const auto number = static_cast<std::uint32_t>(items_.size());
        items_.push_back(Item{position, parentItem, {}});
        items_[parentItem].children.push_back(number);
        folders[position].treeItem = number;
        ++insertedCount;
        const int percent = static_cast<int>(std::min<std::uint64_t>(insertedCount * 100 / total, 99));
        if (progress && percent != lastPercent)
            progress(lastPercent = percent);
        // The children of id 0 belong to the root, not to a folder that claims id 0.
        const std::uint32_t ownId = folders[position].ownId;
        stack.push_back({number, ownId == 0 ? std::span<const std::uint32_t>{} : index.childFolders(ownId), 0});
    };

    auto descend = [&] {
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next == frame.kids.size()) {
                stack.pop_back();
                continue;
            }
            const std::uint32_t position = frame.kids[frame.next++];
            if (!inserted[position])
                insert(frame.item, position);
        }
    };

    stack.push_back({kRootItem, index.childFolders(0), 0});
    descend();
    for (std::uint32_t position = 0; position < folders.size(); ++position) {
        if (!inserted[position]) {
            insert(kRootItem, position);
            descend();
        }
    }

    const NameOrder less;
    for (auto& item : items_)
        std::stable_sort(item.children.begin(), item.children.end(), [&](std::uint32_t a, std::uint32_t b) {
            return less(folders[items_[a].folder].name, folders[items_[b].folder].name);
        });
}

} // namespace tamsin
