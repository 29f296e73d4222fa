// The JSON description of full partition headers and of volumes spanning
// several segments (format in tools/mkimage/README.md).

#include "imagebuilder/JsonFields.h"

namespace tamsin::imagebuilder::detail {

namespace {

using nlohmann::json;

HeaderCopy headerCopy(const json& value, const std::string& where)
{
    if (value == "intact")
        return HeaderCopy::Intact;
    if (value == "damaged")
        return HeaderCopy::Damaged;
    if (value == "missing")
        return HeaderCopy::Missing;
    fail(where, "expected \"intact\", \"damaged\" or \"missing\"");
}

std::array<HeaderCopy, kHeaderCopies> headerCopies(const json& value, const std::string& where)
{
    if (!value.is_array() || value.size() != static_cast<std::size_t>(kHeaderCopies))
        fail(where, "expected an array of four copy states");
    std::array<HeaderCopy, kHeaderCopies> copies{};
    for (int c = 0; c < kHeaderCopies; ++c)
        copies[c] = headerCopy(value[c], element(where, static_cast<std::size_t>(c)));
    return copies;
}

std::vector<std::uint32_t> u32List(const json& value, const std::string& where)
{
    const json& list = requireArray(value, where);
    std::vector<std::uint32_t> result;
    for (std::size_t k = 0; k < list.size(); ++k)
        result.push_back(u32(list[k], element(where, k)));
    return result;
}

PartitionRef partitionRef(const json& value, const std::string& where)
{
    requireObject(value, where, {"disk", "partition"});
    PartitionRef ref;
    if (value.contains("disk"))
        ref.disk = static_cast<std::size_t>(number(value.at("disk"), member(where, "disk"), kMaxU32));
    if (!value.contains("partition"))
        fail(member(where, "partition"), "missing (the partition's slot)");
    ref.slot = static_cast<int>(number(value.at("partition"), member(where, "partition"), kPartitionSlots - 1));
    return ref;
}

HotfixRedirect redirect(const json& value, const std::string& where)
{
    requireObject(value, where, {"logicalBlock", "spare", "badBits", "tableCopies"});
    HotfixRedirect result;
    if (!value.contains("logicalBlock"))
        fail(member(where, "logicalBlock"), "missing");
    result.logicalBlock = u32(value.at("logicalBlock"), member(where, "logicalBlock"));
    if (value.contains("spare"))
        result.spare = u32(value.at("spare"), member(where, "spare"));
    if (value.contains("badBits"))
        result.badBits = static_cast<std::uint8_t>(number(value.at("badBits"), member(where, "badBits"), kMaxU8));
    if (value.contains("tableCopies")) {
        const std::string copiesWhere = member(where, "tableCopies");
        const std::vector<std::uint32_t> copies = u32List(value.at("tableCopies"), copiesWhere);
        if (copies.empty())
            fail(copiesWhere, "name table copy 1, 2 or both");
        result.inCopy1 = result.inCopy2 = false;
        for (std::size_t k = 0; k < copies.size(); ++k) {
            if (copies[k] != 1 && copies[k] != 2)
                fail(element(copiesWhere, k), "expected 1 or 2");
            (copies[k] == 1 ? result.inCopy1 : result.inCopy2) = true;
        }
    }
    return result;
}

HotfixTablePatch tablePatch(const json& value, const std::string& where)
{
    requireObject(value, where, {"copy", "table", "index", "value"});
    HotfixTablePatch result;
    for (const char* key : {"copy", "index", "value"})
        if (!value.contains(key))
            fail(member(where, key), "missing");
    result.copy = static_cast<int>(number(value.at("copy"), member(where, "copy"), 2));
    if (result.copy == 0)
        fail(member(where, "copy"), "expected 1 or 2");
    if (value.contains("table")) {
        const json& table = value.at("table");
        if (table == "badBits")
            result.badBits = true;
        else if (table != "redirection")
            fail(member(where, "table"), "expected \"redirection\" or \"badBits\"");
    }
    result.index = u32(value.at("index"), member(where, "index"));
    result.value = u32(value.at("value"), member(where, "value"));
    return result;
}

// Numbers, or {"sector": s, "count": n} for a run of sectors.
std::vector<std::uint32_t> sectorList(const json& value, const std::string& where)
{
    const json& list = requireArray(value, where);
    std::vector<std::uint32_t> result;
    for (std::size_t k = 0; k < list.size(); ++k) {
        const std::string at = element(where, k);
        if (!list[k].is_object()) {
            result.push_back(u32(list[k], at));
            continue;
        }
        requireObject(list[k], at, {"sector", "count"});
        if (!list[k].contains("sector"))
            fail(member(at, "sector"), "missing");
        const std::uint64_t first = u32(list[k].at("sector"), member(at, "sector"));
        const std::uint64_t count = list[k].contains("count") ? number(list[k].at("count"), member(at, "count"), 65536) : 1;
        if (first + count > kMaxU32 + 1)
            fail(at, "the run passes sector 2^32");
        for (std::uint64_t s = first; s < first + count; ++s)
            result.push_back(static_cast<std::uint32_t>(s));
    }
    return result;
}

SpannedSegmentSpec spannedSegment(const json& value, const std::string& where)
{
    requireObject(value, where, {"disk", "partition", "volumeRoot", "sizeSectors", "sizeMiB", "tableIndex", "entry"});
    SpannedSegmentSpec result;
    if (value.contains("disk"))
        result.disk = static_cast<std::size_t>(number(value.at("disk"), member(where, "disk"), kMaxU32));
    if (!value.contains("partition"))
        fail(member(where, "partition"), "missing (the partition's slot)");
    result.slot = static_cast<int>(number(value.at("partition"), member(where, "partition"), kPartitionSlots - 1));
    if (value.contains("volumeRoot"))
        result.volumeRoot = u32(value.at("volumeRoot"), member(where, "volumeRoot"));
    const bool inSectors = value.contains("sizeSectors");
    if (inSectors == value.contains("sizeMiB"))
        fail(where, "give exactly one of \"sizeSectors\" and \"sizeMiB\"");
    result.sizeSectors = inSectors ? u32(value.at("sizeSectors"), member(where, "sizeSectors"))
                                   : static_cast<std::uint32_t>(number(value.at("sizeMiB"), member(where, "sizeMiB"),
                                                                       kMaxU32 / 2048) * 2048);
    if (value.contains("tableIndex"))
        result.tableIndex = static_cast<std::size_t>(
            number(value.at("tableIndex"), member(where, "tableIndex"), kMaxVolumeEntries - 1));
    if (value.contains("entry"))
        result.entry = boolean(value.at("entry"), member(where, "entry"));
    return result;
}


} // namespace

PartitionHeaders partitionHeaders(const json& value, const std::string& where)
{
    PartitionHeaders result;
    if (value.is_boolean()) {
        if (!boolean(value, where))
            fail(where, "expected true or an object (leave the key out for no headers)");
        return result;
    }
    requireObject(value, where,
                  {"partitionId", "mirrorGroupId", "members", "mirrorOf", "outOfSync", "mirrorFlags", "mirrorStatus",
                   "dataSectors", "hotfixCopies", "mirrorCopies", "redirects", "retiredSpares", "tablePatches",
                   "damagedSectors"});
    if (value.contains("partitionId"))
        result.partitionId = u32(value.at("partitionId"), member(where, "partitionId"));
    if (value.contains("mirrorGroupId"))
        result.mirrorGroupId = u32(value.at("mirrorGroupId"), member(where, "mirrorGroupId"));
    if (value.contains("members"))
        result.members = u32List(value.at("members"), member(where, "members"));
    if (value.contains("mirrorOf"))
        result.mirrorOf = partitionRef(value.at("mirrorOf"), member(where, "mirrorOf"));
    if (value.contains("outOfSync"))
        result.outOfSync = boolean(value.at("outOfSync"), member(where, "outOfSync"));
    if (value.contains("mirrorFlags"))
        result.mirrorFlags = u32(value.at("mirrorFlags"), member(where, "mirrorFlags"));
    if (value.contains("mirrorStatus"))
        result.mirrorStatus = u32(value.at("mirrorStatus"), member(where, "mirrorStatus"));
    if (value.contains("dataSectors"))
        result.dataSectors = u32(value.at("dataSectors"), member(where, "dataSectors"));
    if (value.contains("hotfixCopies"))
        result.hotfixCopies = headerCopies(value.at("hotfixCopies"), member(where, "hotfixCopies"));
    if (value.contains("mirrorCopies"))
        result.mirrorCopies = headerCopies(value.at("mirrorCopies"), member(where, "mirrorCopies"));
    if (value.contains("redirects")) {
        const std::string listWhere = member(where, "redirects");
        const json& list = requireArray(value.at("redirects"), listWhere);
        for (std::size_t k = 0; k < list.size(); ++k)
            result.redirects.push_back(redirect(list[k], element(listWhere, k)));
    }
    if (value.contains("retiredSpares"))
        result.retiredSpares = u32List(value.at("retiredSpares"), member(where, "retiredSpares"));
    if (value.contains("tablePatches")) {
        const std::string listWhere = member(where, "tablePatches");
        const json& list = requireArray(value.at("tablePatches"), listWhere);
        for (std::size_t k = 0; k < list.size(); ++k)
            result.tablePatches.push_back(tablePatch(list[k], element(listWhere, k)));
    }
    if (value.contains("damagedSectors"))
        result.damagedSectors = sectorList(value.at("damagedSectors"), member(where, "damagedSectors"));
    return result;
}

SpannedVolumeSpec spannedVolume(const json& value, const std::string& where)
{
    requireObject(value, where, {"name", "sectorsPerBlock", "fatBlocks", "detBlocks", "contents", "segments"});
    SpannedVolumeSpec result;
    if (!value.contains("name") || !value.at("name").is_string())
        fail(member(where, "name"), "expected a string");
    result.name = value.at("name").get<std::string>();
    if (value.contains("sectorsPerBlock"))
        result.sectorsPerBlock = u32(value.at("sectorsPerBlock"), member(where, "sectorsPerBlock"));
    readTableBlocks(value, where, result);
    if (value.contains("contents"))
        result.contents = volumeContents(value.at("contents"), member(where, "contents"));
    if (!value.contains("segments"))
        fail(member(where, "segments"), "missing");
    const std::string listWhere = member(where, "segments");
    const json& list = requireArray(value.at("segments"), listWhere);
    for (std::size_t k = 0; k < list.size(); ++k)
        result.segments.push_back(spannedSegment(list[k], element(listWhere, k)));
    return result;
}

} // namespace tamsin::imagebuilder::detail
