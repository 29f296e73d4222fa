#include "imagebuilder/Description.h"

#include "imagebuilder/JsonFields.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace tamsin::imagebuilder {

namespace {

using nlohmann::json;
using detail::boolean;
using detail::DescriptionError;
using detail::element;
using detail::fail;
using detail::hexBytes;
using detail::isAuto;
using detail::kMaxU32;
using detail::kMaxU64;
using detail::kMaxU8;
using detail::member;
using detail::number;
using detail::readTableBlocks;
using detail::requireArray;
using detail::requireObject;
using detail::u32;

constexpr std::uint64_t kSectorsPerMiB = 2048;

// A size given in exactly one of `sectorsKey` or `mibKey`.
std::uint64_t size(const json& object, const std::string& where, const std::string& sectorsKey,
                   const std::string& mibKey, std::uint64_t max)
{
    const bool inSectors = object.contains(sectorsKey);
    if (inSectors == object.contains(mibKey))
        fail(where, "give exactly one of \"" + sectorsKey + "\" and \"" + mibKey + "\"");
    if (inSectors)
        return number(object.at(sectorsKey), member(where, sectorsKey), max);
    return number(object.at(mibKey), member(where, mibKey), max / kSectorsPerMiB) * kSectorsPerMiB;
}

SegmentSpec segment(const json& value, const std::string& where)
{
    requireObject(value, where,
                  {"name", "nameLength", "sizeSectors", "sizeMiB", "blockCount", "sectorsPerBlock", "fatBlocks",
                   "detBlocks", "contents", "netwareFields", "volumeRoot"});
    SegmentSpec result;
    if (!value.contains("name") || !value.at("name").is_string())
        fail(member(where, "name"), "expected a string");
    result.name = value.at("name").get<std::string>();
    if (value.contains("nameLength"))
        result.nameLengthOverride =
            static_cast<std::uint8_t>(number(value.at("nameLength"), member(where, "nameLength"), kMaxU8));
    // With contents the size may be "auto" or left out: sized to fit.
    const bool hasContents = value.contains("contents");
    const bool sizedToFit = (value.contains("sizeSectors") && isAuto(value.at("sizeSectors")))
        || (hasContents && !value.contains("sizeSectors") && !value.contains("sizeMiB"));
    if (sizedToFit && !hasContents)
        fail(member(where, "sizeSectors"), "\"auto\" sizes only volumes with contents");
    if (sizedToFit && value.contains("sizeMiB"))
        fail(where, "give exactly one of \"sizeSectors\" and \"sizeMiB\"");
    if (!sizedToFit)
        result.sizeSectors = static_cast<std::uint32_t>(size(value, where, "sizeSectors", "sizeMiB", kMaxU32));
    if (value.contains("blockCount"))
        result.blockCount = u32(value.at("blockCount"), member(where, "blockCount"));
    if (value.contains("sectorsPerBlock"))
        result.sectorsPerBlock = u32(value.at("sectorsPerBlock"), member(where, "sectorsPerBlock"));
    readTableBlocks(value, where, result);
    if (hasContents)
        result.contents = detail::volumeContents(value.at("contents"), member(where, "contents"));
    if (value.contains("netwareFields"))
        result.netwareFields = boolean(value.at("netwareFields"), member(where, "netwareFields"));
    if (value.contains("volumeRoot"))
        result.volumeRoot = u32(value.at("volumeRoot"), member(where, "volumeRoot"));
    return result;
}

std::vector<SegmentSpec> segments(const json& object, const std::string& where)
{
    std::vector<SegmentSpec> result;
    if (!object.contains("volumes"))
        return result;
    const std::string listWhere = member(where, "volumes");
    const json& list = requireArray(object.at("volumes"), listWhere);
    for (std::size_t k = 0; k < list.size(); ++k)
        result.push_back(segment(list[k], element(listWhere, k)));
    return result;
}

TableCopy tableCopy(const json& value, const std::string& where)
{
    if (value == "intact")
        return TableCopy::Intact;
    if (value == "damaged")
        return TableCopy::Damaged;
    if (value == "missing")
        return TableCopy::Missing;
    fail(where, "expected \"intact\", \"damaged\" or \"missing\"");
}

NetWareLayout netwareLayout(const json& value, const std::string& where)
{
    NetWareLayout layout;
    if (value.contains("hotfix")) {
        const std::string hotfixWhere = member(where, "hotfix");
        const json& hotfix = value.at("hotfix");
        if (hotfix.is_boolean()) {
            if (boolean(hotfix, hotfixWhere))
                fail(hotfixWhere, "expected false or an object");
            layout.hotfixProbe = 0;
        } else {
            requireObject(hotfix, hotfixWhere, {"probe", "length"});
            if (hotfix.contains("probe"))
                layout.hotfixProbe = static_cast<int>(number(hotfix.at("probe"), member(hotfixWhere, "probe"), kMaxU8));
            if (hotfix.contains("length"))
                layout.hotfixLength = u32(hotfix.at("length"), member(hotfixWhere, "length"));
        }
    }
    if (value.contains("tableCopies")) {
        const std::string copiesWhere = member(where, "tableCopies");
        const json& copies = value.at("tableCopies");
        if (!copies.is_array() || copies.size() != static_cast<std::size_t>(kTableCopies))
            fail(copiesWhere, "expected an array of four copy states");
        for (int copy = 0; copy < kTableCopies; ++copy)
            layout.tableCopies[copy] = tableCopy(copies[copy], element(copiesWhere, copy));
    }
    if (value.contains("entryCount"))
        layout.entryCountOverride = u32(value.at("entryCount"), member(where, "entryCount"));
    layout.segments = segments(value, where);
    if (value.contains("headers")) {
        // The full headers replace the single hot-fix header of "probe".
        const bool probeGiven = value.contains("hotfix")
            && (value.at("hotfix").is_boolean() || value.at("hotfix").contains("probe"));
        if (probeGiven)
            fail(member(where, "hotfix"), "with \"headers\" every header copy is written: leave out \"probe\" and false");
        layout.headers = detail::partitionHeaders(value.at("headers"), member(where, "headers"));
    }
    return layout;
}

PartitionSpec partition(const json& value, const std::string& where)
{
    requireObject(value, where,
                  {"slot", "type", "start", "size", "sizeMiB", "netware", "hotfix", "tableCopies", "entryCount",
                   "volumes", "headers"});
    PartitionSpec result;
    if (value.contains("slot"))
        result.slot = static_cast<int>(number(value.at("slot"), member(where, "slot"), kPartitionSlots - 1));
    if (value.contains("type"))
        result.type = static_cast<std::uint8_t>(number(value.at("type"), member(where, "type"), kMaxU8));
    if (!value.contains("start"))
        fail(member(where, "start"), "missing");
    result.startSector = u32(value.at("start"), member(where, "start"));
    const bool sizedToFit = value.contains("size") && isAuto(value.at("size"));
    if (sizedToFit && value.contains("sizeMiB"))
        fail(where, "give exactly one of \"size\" and \"sizeMiB\"");
    if (!sizedToFit)
        result.sizeSectors = static_cast<std::uint32_t>(size(value, where, "size", "sizeMiB", kMaxU32));

    const bool hasNetWareKeys = value.contains("hotfix") || value.contains("tableCopies")
        || value.contains("entryCount") || value.contains("volumes") || value.contains("headers");
    bool netware = result.type == kNetWarePartitionType || hasNetWareKeys;
    if (value.contains("netware")) {
        netware = boolean(value.at("netware"), member(where, "netware"));
        if (!netware && hasNetWareKeys)
            fail(where, "\"netware\": false leaves no room for hot-fix, header, table or volume settings");
    }
    if (netware)
        result.netware = netwareLayout(value, where);
    else if (sizedToFit)
        fail(member(where, "size"), "\"auto\" sizes only NetWare partitions");
    return result;
}

VolumeTableSpec volumeTable(const json& value, const std::string& where)
{
    requireObject(value, where, {"sector", "entryCount", "volumes"});
    VolumeTableSpec result;
    if (!value.contains("sector"))
        fail(member(where, "sector"), "missing");
    result.sector = number(value.at("sector"), member(where, "sector"), kMaxU64);
    if (value.contains("entryCount"))
        result.entryCountOverride = u32(value.at("entryCount"), member(where, "entryCount"));
    result.segments = segments(value, where);
    return result;
}

RawWrite rawWrite(const json& value, const std::string& where)
{
    requireObject(value, where, {"sector", "offset", "hex", "text", "fill", "count"});
    RawWrite result;
    if (!value.contains("sector"))
        fail(member(where, "sector"), "missing");
    result.sector = number(value.at("sector"), member(where, "sector"), kMaxU64);
    if (value.contains("offset"))
        result.offset = u32(value.at("offset"), member(where, "offset"));

    const int sources = static_cast<int>(value.contains("hex")) + static_cast<int>(value.contains("text"))
        + static_cast<int>(value.contains("fill"));
    if (sources != 1)
        fail(where, "give exactly one of \"hex\", \"text\" and \"fill\"");
    if (value.contains("count") && !value.contains("fill"))
        fail(member(where, "count"), "only goes with \"fill\"");

    if (value.contains("hex")) {
        const json& hex = value.at("hex");
        if (!hex.is_string())
            fail(member(where, "hex"), "expected a string of hex digits");
        result.bytes = hexBytes(hex.get<std::string>(), member(where, "hex"));
    } else if (value.contains("text")) {
        const json& text = value.at("text");
        if (!text.is_string())
            fail(member(where, "text"), "expected a string");
        const std::string& chars = text.get_ref<const std::string&>();
        result.bytes.assign(chars.begin(), chars.end());
    } else {
        const auto fill = static_cast<std::uint8_t>(number(value.at("fill"), member(where, "fill"), kMaxU8));
        const std::uint32_t count = value.contains("count") ? u32(value.at("count"), member(where, "count"))
                                                            : kSectorBytes;
        result.bytes.assign(count, fill);
    }
    return result;
}

DiskSpec disk(const json& value, const std::string& where)
{
    requireObject(value, where, {"sizeMiB", "totalSectors", "bootSignature", "partitions", "volumeTables", "detMarkers",
                              "raw"});
    DiskSpec result;
    const bool sizedToFit = value.contains("totalSectors") && isAuto(value.at("totalSectors"));
    if (sizedToFit && value.contains("sizeMiB"))
        fail(where, "give exactly one of \"totalSectors\" and \"sizeMiB\"");
    if (!sizedToFit)
        result.totalSectors = size(value, where, "totalSectors", "sizeMiB", kMaxU64);
    if (value.contains("bootSignature"))
        result.bootSignature = boolean(value.at("bootSignature"), member(where, "bootSignature"));
    if (value.contains("partitions")) {
        const json& list = requireArray(value.at("partitions"), member(where, "partitions"));
        for (std::size_t i = 0; i < list.size(); ++i)
            result.partitions.push_back(partition(list[i], element(member(where, "partitions"), i)));
    }
    if (value.contains("volumeTables")) {
        const json& list = requireArray(value.at("volumeTables"), member(where, "volumeTables"));
        for (std::size_t i = 0; i < list.size(); ++i)
            result.volumeTables.push_back(volumeTable(list[i], element(member(where, "volumeTables"), i)));
    }
    if (value.contains("detMarkers")) {
        const json& list = requireArray(value.at("detMarkers"), member(where, "detMarkers"));
        for (std::size_t i = 0; i < list.size(); ++i)
            result.detMarkers.push_back(number(list[i], element(member(where, "detMarkers"), i), kMaxU64));
    }
    if (value.contains("raw")) {
        const json& list = requireArray(value.at("raw"), member(where, "raw"));
        for (std::size_t i = 0; i < list.size(); ++i)
            result.raw.push_back(rawWrite(list[i], element(member(where, "raw"), i)));
    }
    return result;
}

// The set form: {"disks": [...], "volumes": [...]}.
DiskSetSpec diskSet(const json& value)
{
    DiskSetSpec result;
    if (!value.is_object() || !value.contains("disks")) {
        result.disks.push_back(disk(value, ""));
        return result;
    }
    requireObject(value, "", {"disks", "volumes"});
    const json& disks = requireArray(value.at("disks"), "disks");
    if (disks.empty())
        fail("disks", "describe at least one disk");
    for (std::size_t d = 0; d < disks.size(); ++d)
        result.disks.push_back(disk(disks[d], element("disks", d)));
    if (value.contains("volumes")) {
        const json& volumes = requireArray(value.at("volumes"), "volumes");
        for (std::size_t v = 0; v < volumes.size(); ++v)
            result.volumes.push_back(detail::spannedVolume(volumes[v], element("volumes", v)));
    }
    return result;
}

// The text of a description file, or an error naming the file.
Result<std::string> readFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return Error{"cannot open " + path.string()};
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad())
        return Error{"cannot read " + path.string()};
    return text.str();
}

} // namespace

Result<DiskSpec> parseDescription(const nlohmann::json& description)
{
    try {
        return disk(description, "");
    } catch (const DescriptionError& error) {
        return Error{error.what()};
    }
}

Result<DiskSpec> parseDescriptionText(std::string_view text)
{
    json description;
    try {
        description = json::parse(text, nullptr, true, true);
    } catch (const json::parse_error& error) {
        return Error{std::string("not valid JSON: ") + error.what()};
    }
    return parseDescription(description);
}

Result<DiskSpec> parseDescriptionFile(const std::filesystem::path& path)
{
    Result<std::string> text = readFile(path);
    if (!text)
        return Error{text.error()};
    Result<DiskSpec> diskSpec = parseDescriptionText(*text);
    if (!diskSpec)
        return Error{path.string() + ": " + diskSpec.error()};
    return diskSpec;
}

Result<DiskSetSpec> parseDiskSetDescription(const nlohmann::json& description)
{
    try {
        return diskSet(description);
    } catch (const DescriptionError& error) {
        return Error{error.what()};
    }
}

Result<DiskSetSpec> parseDiskSetDescriptionText(std::string_view text)
{
    json description;
    try {
        description = json::parse(text, nullptr, true, true);
    } catch (const json::parse_error& error) {
        return Error{std::string("not valid JSON: ") + error.what()};
    }
    return parseDiskSetDescription(description);
}

Result<DiskSetSpec> parseDiskSetDescriptionFile(const std::filesystem::path& path)
{
    Result<std::string> text = readFile(path);
    if (!text)
        return Error{text.error()};
    Result<DiskSetSpec> set = parseDiskSetDescriptionText(*text);
    if (!set)
        return Error{path.string() + ": " + set.error()};
    return set;
}

} // namespace tamsin::imagebuilder
