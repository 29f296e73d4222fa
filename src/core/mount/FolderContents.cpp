#include "mount/FolderContents.h"

#include "mount/MountedVolume.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tamsin {
namespace {

// The value in decimal, at least two digits.
char* putTwoDigits(char* to, std::uint32_t value)
{
    if (value >= 100)
        return std::to_chars(to, to + 10, value).ptr;
    *to++ = static_cast<char>('0' + value / 10);
    *to++ = static_cast<char>('0' + value % 10);
    return to;
}

bool startsWith(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

} // namespace

NetWareDateTime decodeNetWareDateTime(std::uint32_t value)
{
    const std::uint32_t offset = value >> 25;
    return {offset < 80 ? 1980 + offset : 1920 + offset, (value >> 21) & 0x0F, (value >> 16) & 0x1F,
            (value >> 11) & 0x1F, (value >> 5) & 0x3F, (value & 0x1F) * 2};
}

std::pair<std::string, std::string> formatNetWareDateTime(std::uint32_t value)
{
    const NetWareDateTimeText text = netWareDateTimeText(value);
    return {std::string(text.dateText()), std::string(text.timeText())};
}

NetWareDateTimeText netWareDateTimeText(std::uint32_t value)
{
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const NetWareDateTime t = decodeNetWareDateTime(value);
    const char* monthText = t.month >= 1 && t.month <= 12 ? kMonths[t.month - 1] : "Err";
    NetWareDateTimeText text;
    char* to = putTwoDigits(text.date, t.day);
    *to++ = '-';
    to = std::copy_n(monthText, 3, to);
    *to++ = '-';
    to = std::to_chars(to, to + 10, t.year).ptr;
    text.dateSize = static_cast<std::size_t>(to - text.date);
    to = putTwoDigits(text.time, t.hours);
    *to++ = ':';
    to = putTwoDigits(to, t.minutes);
    *to++ = ':';
    to = putTwoDigits(to, t.seconds);
    text.timeSize = static_cast<std::size_t>(to - text.time);
    return text;
}

std::string plainTypeName(const std::string& rawName)
{
    const auto dot = rawName.rfind('.');
    if (dot == std::string::npos || dot + 1 == rawName.size())
        return "File";
    std::string extension = rawName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return extension + " File";
}

std::string typeText(const TreeNode& node, const TypeNamer& typeName)
{
    if (node.isFolder())
        return node.isDeleted() ? "Deleted Folder" : "Folder";
    std::string type;
    if (node.isDeleted())
        type += "Deleted ";
    if (node.isCompressed())
        type += "Compressed ";
    return type + (typeName ? typeName(node.name) : plainTypeName(node.name));
}

RowColour rowColour(const std::string& type)
{
    if (startsWith(type, "Deleted "))
        return RowColour::Grey;
    if (startsWith(type, "Compressed "))
        return RowColour::Red;
    return RowColour::Black;
}

std::vector<ContentsRow> folderContents(const MountedVolume& volume, std::uint32_t id, const TypeNamer& typeName,
                                        const std::function<bool(const std::string&)>& include)
{
    std::vector<ContentsRow> rows;
    for (std::uint32_t position : volume.index.childFolders(id)) {
        const TreeNode& folder = volume.folders[position];
        ContentsRow row;
        row.isFolder = true;
        row.node = position;
        row.name = folder.name;
        row.type = typeText(folder, typeName);
        row.size = "0";
        std::tie(row.date, row.time) = formatNetWareDateTime(folder.dateTime);
        row.key = folder.treeItem;
        row.colour = rowColour(row.type);
        rows.push_back(std::move(row));
    }
    for (std::uint32_t position : volume.index.childFiles(id)) {
        const TreeNode& file = volume.files[position];
        if (include && !include(file.name))
            continue;
        ContentsRow row;
        row.node = position;
        row.name = file.name;
        row.type = typeText(file, typeName);
        row.size = std::to_string(file.size);
        std::tie(row.date, row.time) = formatNetWareDateTime(file.dateTime);
        row.key = file.ordinal;
        row.colour = rowColour(row.type);
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace tamsin
