#pragma once
// The rows of a folder's contents list: subfolders first, then files, each in
// discovery order, with the texts every front end shows.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamsin {

class MountedVolume;
struct TreeNode;

// The fields of a packed NetWare date and time, not range-checked.
struct NetWareDateTime {
    std::uint32_t year = 0;  // 1980 + offset below 80, 1920 + offset from 80
    std::uint32_t month = 0;
    std::uint32_t day = 0;
    std::uint32_t hours = 0;
    std::uint32_t minutes = 0;
    std::uint32_t seconds = 0;  // the stored field doubled
};
NetWareDateTime decodeNetWareDateTime(std::uint32_t value);

// Date string ("07-Mar-1998") and time string ("13:05:42") of a packed
// NetWare date and time.
std::pair<std::string, std::string> formatNetWareDateTime(std::uint32_t value);

// The same two texts held in place, for listings of many entries.
struct NetWareDateTimeText {
    char date[32];
    char time[32];
    std::size_t dateSize = 0;
    std::size_t timeSize = 0;
    std::string_view dateText() const { return {date, dateSize}; }
    std::string_view timeText() const { return {time, timeSize}; }
};
NetWareDateTimeText netWareDateTimeText(std::uint32_t value);

enum class RowColour { Black, Grey, Red };

struct ContentsRow {
    bool isFolder = false;
    std::uint32_t node = 0;  // position in folders or files
    std::string name;        // raw bytes
    std::string type;        // "Folder", "Deleted Folder", or "Deleted " / "Compressed " + type name
    std::string size;
    std::string date;
    std::string time;
    std::uint32_t key = 0;  // treeItem of a folder, ordinal of a file
    RowColour colour = RowColour::Black;
};

// The type name of a file by its name (extension), e.g. "Text document".
using TypeNamer = std::function<std::string(const std::string& rawName)>;

// A type name from the extension alone: "TXT File", or "File" without one.
std::string plainTypeName(const std::string& rawName);

// The type text of a folder or file node.
std::string typeText(const TreeNode& node, const TypeNamer& typeName);

// Colour of a row from its type text.
RowColour rowColour(const std::string& type);

// The rows for the folder whose ownId is id (0: the root). include decides
// which files are listed (the file filters); folders are always listed.
std::vector<ContentsRow> folderContents(const MountedVolume& volume, std::uint32_t id, const TypeNamer& typeName,
                                        const std::function<bool(const std::string&)>& include = {});

} // namespace tamsin
