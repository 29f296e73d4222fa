#include "imagebuilder/Description.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace tamsin::imagebuilder {

namespace {

using nlohmann::json;

constexpr std::uint64_t kSectorsPerMiB = 2048;
constexpr std::uint64_t kMaxU8 = std::numeric_limits<std::uint8_t>::max();
constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();

// Thrown inside this file only; parseDescription turns it into an Error.
struct DescriptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& where, const std::string& message)
{
    throw DescriptionError(where.empty() ? message : where + ": " + message);
}

std::string member(const std::string& where, const std::string& key)
{
    return where.empty() ? key : where + "." + key;
}

std::string element(const std::string& where, std::size_t index)
{
    return where + "[" + std::to_string(index) + "]";
}

void requireObject(const json& value, const std::string& where, std::initializer_list<std::string_view> allowed)
{
    if (!value.is_object())
        fail(where, "expected an object");
    for (const auto& item : value.items())
        if (std::find(allowed.begin(), allowed.end(), item.key()) == allowed.end())
            fail(member(where, item.key()), "unknown key");
}

const json& requireArray(const json& value, const std::string& where)
{
    if (!value.is_array())
        fail(where, "expected an array");
    return value;
}

std::uint64_t number(const json& value, const std::string& where, std::uint64_t max)
{
    std::uint64_t result = 0;
    if (value.is_number_unsigned()) {
        result = value.get<std::uint64_t>();
    } else if (value.is_number_integer()) {
        fail(where, "must not be negative");
    } else if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const char* first = text.data() + (hex ? 2 : 0);
        const char* last = text.data() + text.size();
        const auto [end, error] = std::from_chars(first, last, result, hex ? 16 : 10);
        if (first == last || error == std::errc::invalid_argument || end != last)
            fail(where, "\"" + text + "\" is not a decimal or 0x hexadecimal number");
        if (error == std::errc::result_out_of_range)
            fail(where, "\"" + text + "\" is too large");
    } else {
        fail(where, "expected a number");
    }
    if (result > max)
        fail(where, std::to_string(result) + " is larger than " + std::to_string(max));
    return result;
}

std::uint32_t u32(const json& value, const std::string& where)
{
    return static_cast<std::uint32_t>(number(value, where, kMaxU32));
}

bool boolean(const json& value, const std::string& where)
{
    if (!value.is_boolean())
        fail(where, "expected true or false");
    return value.get<bool>();
}

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

std::array<std::uint32_t, 2> blockPair(const json& value, const std::string& where)
{
    if (!value.is_array() || value.size() != 2)
        fail(where, "expected an array of two block numbers");
    return {u32(value[0], element(where, 0)), u32(value[1], element(where, 1))};
}

std::vector<std::uint8_t> hexBytes(const std::string& text, const std::string& where)
{
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != ':')
            digits += c;
    if (digits.size() % 2 != 0)
        fail(where, "odd number of hex digits");
    std::vector<std::uint8_t> bytes(digits.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char* first = digits.data() + 2 * i;
        const auto [end, error] = std::from_chars(first, first + 2, bytes[i], 16);
        if (error != std::errc{} || end != first + 2)
            fail(where, "\"" + digits.substr(2 * i, 2) + "\" is not a hex byte");
    }
    return bytes;
}

SegmentSpec segment(const json& value, const std::string& where)
{
    requireObject(value, where,
                  {"name", "nameLength", "sizeSectors", "sizeMiB", "blockCount", "sectorsPerBlock", "fatBlocks",
                   "detBlocks"});
    SegmentSpec result;
    if (!value.contains("name") || !value.at("name").is_string())
        fail(member(where, "name"), "expected a string");
    result.name = value.at("name").get<std::string>();
    if (value.contains("nameLength"))
        result.nameLengthOverride =
            static_cast<std::uint8_t>(number(value.at("nameLength"), member(where, "nameLength"), kMaxU8));
    result.sizeSectors = static_cast<std::uint32_t>(size(value, where, "sizeSectors", "sizeMiB", kMaxU32));
    if (value.contains("blockCount"))
        result.blockCount = u32(value.at("blockCount"), member(where, "blockCount"));
    if (value.contains("sectorsPerBlock"))
        result.sectorsPerBlock = u32(value.at("sectorsPerBlock"), member(where, "sectorsPerBlock"));
    if (value.contains("fatBlocks")) {
        const auto fat = blockPair(value.at("fatBlocks"), member(where, "fatBlocks"));
        result.firstFatBlock = fat[0];
        result.secondFatBlock = fat[1];
    }
    if (value.contains("detBlocks")) {
        const auto det = blockPair(value.at("detBlocks"), member(where, "detBlocks"));
        result.firstDetBlock = det[0];
        result.secondDetBlock = det[1];
    }
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
    return layout;
}

PartitionSpec partition(const json& value, const std::string& where)
{
    requireObject(value, where,
                  {"slot", "type", "start", "size", "sizeMiB", "netware", "hotfix", "tableCopies", "entryCount",
                   "volumes"});
    PartitionSpec result;
    if (value.contains("slot"))
        result.slot = static_cast<int>(number(value.at("slot"), member(where, "slot"), kPartitionSlots - 1));
    if (value.contains("type"))
        result.type = static_cast<std::uint8_t>(number(value.at("type"), member(where, "type"), kMaxU8));
    if (!value.contains("start"))
        fail(member(where, "start"), "missing");
    result.startSector = u32(value.at("start"), member(where, "start"));
    result.sizeSectors = static_cast<std::uint32_t>(size(value, where, "size", "sizeMiB", kMaxU32));

    const bool hasNetWareKeys = value.contains("hotfix") || value.contains("tableCopies")
        || value.contains("entryCount") || value.contains("volumes");
    bool netware = result.type == kNetWarePartitionType || hasNetWareKeys;
    if (value.contains("netware")) {
        netware = boolean(value.at("netware"), member(where, "netware"));
        if (!netware && hasNetWareKeys)
            fail(where, "\"netware\": false leaves no room for hot-fix, table or volume settings");
    }
    if (netware)
        result.netware = netwareLayout(value, where);
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

DiskSpec disk(const json& value)
{
    requireObject(value, "", {"sizeMiB", "totalSectors", "bootSignature", "partitions", "volumeTables", "detMarkers",
                              "raw"});
    DiskSpec result;
    result.totalSectors = size(value, "", "totalSectors", "sizeMiB", kMaxU64);
    if (value.contains("bootSignature"))
        result.bootSignature = boolean(value.at("bootSignature"), "bootSignature");
    if (value.contains("partitions")) {
        const json& list = requireArray(value.at("partitions"), "partitions");
        for (std::size_t i = 0; i < list.size(); ++i)
            result.partitions.push_back(partition(list[i], element("partitions", i)));
    }
    if (value.contains("volumeTables")) {
        const json& list = requireArray(value.at("volumeTables"), "volumeTables");
        for (std::size_t i = 0; i < list.size(); ++i)
            result.volumeTables.push_back(volumeTable(list[i], element("volumeTables", i)));
    }
    if (value.contains("detMarkers")) {
        const json& list = requireArray(value.at("detMarkers"), "detMarkers");
        for (std::size_t i = 0; i < list.size(); ++i)
            result.detMarkers.push_back(number(list[i], element("detMarkers", i), kMaxU64));
    }
    if (value.contains("raw")) {
        const json& list = requireArray(value.at("raw"), "raw");
        for (std::size_t i = 0; i < list.size(); ++i)
            result.raw.push_back(rawWrite(list[i], element("raw", i)));
    }
    return result;
}

} // namespace

Result<DiskSpec> parseDescription(const nlohmann::json& description)
{
    try {
        return disk(description);
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
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return Error{"cannot open " + path.string()};
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad())
        return Error{"cannot read " + path.string()};
    Result<DiskSpec> spec = parseDescriptionText(text.str());
    if (!spec)
        return Error{path.string() + ": " + spec.error()};
    return spec;
}

} // namespace tamsin::imagebuilder
