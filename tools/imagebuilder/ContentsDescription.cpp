// Reads the "contents" object of a volume description into VolumeContents.

#include "imagebuilder/JsonFields.h"

#include <cctype>

namespace tamsin::imagebuilder::detail {

namespace {

using nlohmann::json;

std::optional<std::uint32_t> optionalU32(const json& object, const std::string& key, const std::string& where)
{
    if (!object.contains(key))
        return std::nullopt;
    return u32(object.at(key), member(where, key));
}

BlockOrder blockOrder(const json& value, const std::string& where)
{
    if (value == "contiguous")
        return BlockOrder::Contiguous;
    if (value == "interleaved")
        return BlockOrder::Interleaved;
    if (value == "reverse")
        return BlockOrder::Reverse;
    fail(where, "expected \"contiguous\", \"interleaved\" or \"reverse\"");
}

std::vector<std::uint32_t> blockList(const json& value, const std::string& where)
{
    std::vector<std::uint32_t> blocks;
    const json& list = requireArray(value, where);
    for (std::size_t k = 0; k < list.size(); ++k)
        blocks.push_back(u32(list[k], element(where, k)));
    return blocks;
}

ChainKnobs chainKnobs(const json& value, const std::string& where)
{
    requireObject(value, where, {"blocks", "order", "length", "firstSequence", "loopTo", "lastNext", "fileBlocks"});
    ChainKnobs chain;
    if (value.contains("blocks"))
        chain.blocks = blockList(value.at("blocks"), member(where, "blocks"));
    if (value.contains("fileBlocks"))
        chain.fileBlocks = blockList(value.at("fileBlocks"), member(where, "fileBlocks"));
    if (value.contains("order"))
        chain.order = blockOrder(value.at("order"), member(where, "order"));
    chain.length = optionalU32(value, "length", where);
    chain.firstSequence = optionalU32(value, "firstSequence", where);
    chain.loopTo = optionalU32(value, "loopTo", where);
    chain.lastNext = optionalU32(value, "lastNext", where);
    return chain;
}

std::array<ChainKnobs, 2> chainPair(const json& value, const std::string& where)
{
    if (!value.is_array() || value.size() != 2)
        fail(where, "expected an array of two chains, copy 1 and copy 2 ({} for the defaults)");
    return {chainKnobs(value[0], element(where, 0)), chainKnobs(value[1], element(where, 1))};
}

// {"hex": "..."} or {"text": "..."}.
std::vector<std::uint8_t> dataBytes(const json& value, const std::string& where)
{
    requireObject(value, where, {"hex", "text"});
    if (value.contains("hex") == value.contains("text"))
        fail(where, "give exactly one of \"hex\" and \"text\"");
    const std::string key = value.contains("hex") ? "hex" : "text";
    if (!value.at(key).is_string())
        fail(member(where, key), "expected a string");
    const std::string& text = value.at(key).get_ref<const std::string&>();
    if (key == "hex")
        return hexBytes(text, member(where, key));
    return {text.begin(), text.end()};
}

Storage storage(const json& value, const std::string& where)
{
    if (value == "blocks")
        return Storage::Blocks;
    if (value == "tail")
        return Storage::SuballocationTail;
    if (value == "fragment")
        return Storage::FragmentOnly;
    fail(where, "expected \"blocks\", \"tail\" or \"fragment\"");
}

// A name-space code, or its name ("MAC", "NFS", "FTAM", "LONG", "NT"; with
// `dos` also "DOS"); codes as numbers up to `max`.
std::uint8_t nameSpaceCode(const json& value, const std::string& where, bool dos, std::uint64_t max)
{
    if (value.is_string())
        for (std::uint8_t code = dos ? kDosNameSpace : kMacNameSpace; code <= kNtNameSpace; ++code)
            if (value == nameSpaceName(code))
                return code;
    if (value.is_string() && !value.get_ref<const std::string&>().empty()
        && std::isdigit(static_cast<unsigned char>(value.get_ref<const std::string&>()[0])) == 0)
        fail(where, std::string("expected a name-space code or ") + (dos ? "\"DOS\", " : "")
                        + "\"MAC\", \"NFS\", \"FTAM\", \"LONG\" or \"NT\"");
    return static_cast<std::uint8_t>(number(value, where, max));
}

std::optional<std::uint8_t> optionalU8(const json& object, const std::string& key, const std::string& where)
{
    if (!object.contains(key))
        return std::nullopt;
    return static_cast<std::uint8_t>(number(object.at(key), member(where, key), kMaxU8));
}

NameSpaceRecord nameSpaceRecord(const json& value, const std::string& where)
{
    requireObject(value, where,
                  {"nameSpace", "name", "oddName", "nameLength", "totalLength", "position", "adjacent", "parentId",
                   "primaryEntry", "next"});
    NameSpaceRecord record;
    if (!value.contains("nameSpace"))
        fail(member(where, "nameSpace"), "missing");
    record.nameSpace = nameSpaceCode(value.at("nameSpace"), member(where, "nameSpace"), false, kMaxU8);
    if (value.contains("name"))
        record.name = nameBytes(value.at("name"), member(where, "name"));
    if (value.contains("oddName"))
        record.oddName = boolean(value.at("oddName"), member(where, "oddName"));
    record.nameLength = optionalU8(value, "nameLength", where);
    record.totalLength = optionalU8(value, "totalLength", where);
    record.position = optionalU32(value, "position", where);
    if (value.contains("adjacent"))
        record.adjacent = boolean(value.at("adjacent"), member(where, "adjacent"));
    record.parentId = optionalU32(value, "parentId", where);
    record.primaryEntry = optionalU32(value, "primaryEntry", where);
    record.next = optionalU32(value, "next", where);
    return record;
}

std::vector<NameSpaceRecord> nameSpaceRecords(const json& value, const std::string& where)
{
    std::vector<NameSpaceRecord> records;
    const json& list = requireArray(value, where);
    for (std::size_t k = 0; k < list.size(); ++k)
        records.push_back(nameSpaceRecord(list[k], element(where, k)));
    return records;
}

// "YYYY-MM-DD[ hh:mm:ss]" under `textKey` or the packed u32 under `packedKey`.
std::optional<std::uint32_t> stamp(const json& object, const std::string& textKey, const std::string& packedKey,
                                   const std::string& where)
{
    if (object.contains(textKey) && object.contains(packedKey))
        fail(where, "give either \"" + textKey + "\" or \"" + packedKey + "\", not both");
    if (object.contains(textKey))
        return dateTime(object.at(textKey), member(where, textKey));
    return optionalU32(object, packedKey, where);
}

RootRecord rootRecord(const json& value, const std::string& where)
{
    requireObject(value, where,
                  {"nameSpaces", "nameSpaceCount", "table", "volumeFlags", "created", "createdDateTime", "records",
                   "nameList"});
    RootRecord root;
    if (value.contains("nameSpaces")) {
        const std::string listWhere = member(where, "nameSpaces");
        const json& list = requireArray(value.at("nameSpaces"), listWhere);
        root.nameSpaces.clear();
        for (std::size_t k = 0; k < list.size(); ++k)
            root.nameSpaces.push_back(nameSpaceCode(list[k], element(listWhere, k), true, kMaxU8));
    }
    root.nameSpaceCount = optionalU8(value, "nameSpaceCount", where);
    if (value.contains("table")) {
        const json& table = value.at("table");
        if (table == "bytes")
            root.table = NameSpaceTable::Bytes;
        else if (table == "nibbles")
            root.table = NameSpaceTable::Nibbles;
        else
            fail(member(where, "table"), "expected \"bytes\" or \"nibbles\"");
    }
    root.volumeFlags = optionalU8(value, "volumeFlags", where).value_or(0);
    root.created = stamp(value, "created", "createdDateTime", where).value_or(0);
    if (value.contains("records"))
        root.records = nameSpaceRecords(value.at("records"), member(where, "records"));
    root.nameList = optionalU32(value, "nameList", where);
    return root;
}

Node node(const json& value, const std::string& where)
{
    requireObject(value, where,
                  {"folder", "file", "children", "longName", "oddNames", "longNameInNextSector", "nameSpace",
                   "nameSpaceRecords", "nameList", "ownId", "parentId", "date", "dateTime", "modified",
                   "modifiedDateTime", "attributes", "flags", "deleted", "deletedMarker", "size", "data", "patternSeed",
                   "compressed", "storage", "sizeClass", "chain", "firstBlock"});
    Node result;
    if (value.contains("folder") == value.contains("file"))
        fail(where, "give exactly one of \"folder\" and \"file\" with the entry's name");
    result.folder = value.contains("folder");
    const std::string kind = result.folder ? "folder" : "file";
    result.name = nameBytes(value.at(kind), member(where, kind));
    if (value.contains("longName"))
        result.longName = nameBytes(value.at("longName"), member(where, "longName"));
    if (value.contains("oddNames"))
        result.oddNames = boolean(value.at("oddNames"), member(where, "oddNames"));
    if (value.contains("longNameInNextSector"))
        result.longNameInNextSector = boolean(value.at("longNameInNextSector"), member(where, "longNameInNextSector"));
    if (value.contains("nameSpace"))
        result.nameSpace = static_cast<std::uint8_t>(number(value.at("nameSpace"), member(where, "nameSpace"), kMaxU8));
    if (value.contains("nameSpaceRecords"))
        result.nameSpaceRecords = nameSpaceRecords(value.at("nameSpaceRecords"), member(where, "nameSpaceRecords"));
    result.nameList = optionalU32(value, "nameList", where);
    result.ownId = optionalU32(value, "ownId", where);
    result.parentId = optionalU32(value, "parentId", where);
    if (value.contains("date") && value.contains("dateTime"))
        fail(where, "give either \"date\" or \"dateTime\", not both");
    if (value.contains("date"))
        result.dateTime = dateTime(value.at("date"), member(where, "date"));
    result.dateTime = result.dateTime ? result.dateTime : optionalU32(value, "dateTime", where);
    result.modifiedDateTime = stamp(value, "modified", "modifiedDateTime", where);
    result.attributes = optionalU32(value, "attributes", where).value_or(0);
    if (value.contains("flags"))
        result.flags = static_cast<std::uint8_t>(number(value.at("flags"), member(where, "flags"), kMaxU8));
    if (value.contains("deleted") && value.contains("deletedMarker"))
        fail(where, "give either \"deleted\" or \"deletedMarker\", not both");
    if (value.contains("deleted") && boolean(value.at("deleted"), member(where, "deleted")))
        result.deletedMarker = kDefaultDeletedMarker;
    result.deletedMarker = optionalU32(value, "deletedMarker", where).value_or(result.deletedMarker);

    if (value.contains("data"))
        result.data = dataBytes(value.at("data"), member(where, "data"));
    result.size = optionalU32(value, "size", where).value_or(static_cast<std::uint32_t>(result.data.size()));
    result.patternSeed = optionalU32(value, "patternSeed", where);
    if (value.contains("compressed")) {
        const std::string compressedWhere = member(where, "compressed");
        const json& compressed = value.at("compressed");
        if (compressed.is_boolean()) {
            if (boolean(compressed, compressedWhere))
                result.compressed = Compression{};
        } else {
            requireObject(compressed, compressedWhere, {"storedLength", "checkSize", "headerStoredLength"});
            result.compressed = Compression{optionalU32(compressed, "storedLength", compressedWhere),
                                               optionalU32(compressed, "checkSize", compressedWhere),
                                               optionalU32(compressed, "headerStoredLength", compressedWhere)};
        }
    }
    if (value.contains("storage"))
        result.storage = storage(value.at("storage"), member(where, "storage"));
    result.sizeClass = optionalU32(value, "sizeClass", where);
    if (value.contains("chain"))
        result.chain = chainKnobs(value.at("chain"), member(where, "chain"));
    result.firstBlock = optionalU32(value, "firstBlock", where);

    if (value.contains("children")) {
        if (!result.folder)
            fail(member(where, "children"), "only folders have children");
        const std::string listWhere = member(where, "children");
        const json& list = requireArray(value.at("children"), listWhere);
        for (std::size_t k = 0; k < list.size(); ++k)
            result.children.push_back(node(list[k], element(listWhere, k)));
    }
    return result;
}

GeneratedTree generate(const json& value, const std::string& where)
{
    requireObject(value, where,
                  {"entries", "perFolder", "depth", "deletedEvery", "longNameEvery", "chainedLongNameEvery", "fileSize"});
    GeneratedTree result;
    if (!value.contains("entries"))
        fail(member(where, "entries"), "missing");
    result.entries = u32(value.at("entries"), member(where, "entries"));
    result.perFolder = optionalU32(value, "perFolder", where).value_or(result.perFolder);
    result.depth = optionalU32(value, "depth", where).value_or(result.depth);
    result.deletedEvery = optionalU32(value, "deletedEvery", where).value_or(result.deletedEvery);
    result.longNameEvery = optionalU32(value, "longNameEvery", where).value_or(result.longNameEvery);
    result.chainedLongNameEvery =
        optionalU32(value, "chainedLongNameEvery", where).value_or(result.chainedLongNameEvery);
    result.fileSize = optionalU32(value, "fileSize", where).value_or(result.fileSize);
    return result;
}

RawEntry rawEntry(const json& value, const std::string& where)
{
    requireObject(value, where, {"position", "hex", "suballocationRecord", "roots", "copies"});
    RawEntry result;
    result.position = optionalU32(value, "position", where);
    if (value.contains("hex") == value.contains("suballocationRecord"))
        fail(where, "give exactly one of \"hex\" and \"suballocationRecord\"");
    if (value.contains("roots") && !value.contains("suballocationRecord"))
        fail(member(where, "roots"), "only goes with \"suballocationRecord\"");
    if (value.contains("hex")) {
        if (!value.at("hex").is_string())
            fail(member(where, "hex"), "expected a string of hex digits");
        const auto bytes = hexBytes(value.at("hex").get<std::string>(), member(where, "hex"));
        if (bytes.size() > kDirEntrySize)
            fail(member(where, "hex"), std::to_string(bytes.size()) + " bytes, an entry has 128");
        std::copy(bytes.begin(), bytes.end(), result.bytes.begin());
    } else {
        const auto record = static_cast<std::uint8_t>(
            number(value.at("suballocationRecord"), member(where, "suballocationRecord"), kMaxU8));
        std::array<std::uint32_t, kRootsPerRecord> roots{};
        if (value.contains("roots")) {
            const std::vector<std::uint32_t> given = blockList(value.at("roots"), member(where, "roots"));
            if (given.size() > kRootsPerRecord)
                fail(member(where, "roots"), "a record holds 28 roots");
            std::copy(given.begin(), given.end(), roots.begin());
        }
        result.bytes = suballocationRecord(record, roots);
    }
    if (value.contains("copies")) {
        const std::string copiesWhere = member(where, "copies");
        const json& copies = requireArray(value.at("copies"), copiesWhere);
        result.inCopy1 = false;
        result.inCopy2 = false;
        for (std::size_t k = 0; k < copies.size(); ++k) {
            const std::uint64_t copy = number(copies[k], element(copiesWhere, k), 2);
            if (copy == 0)
                fail(element(copiesWhere, k), "DET copies are 1 and 2");
            (copy == 1 ? result.inCopy1 : result.inCopy2) = true;
        }
    }
    return result;
}

std::vector<BytePatch> patches(const json& value, const std::string& where, const std::string& indexKey)
{
    std::vector<BytePatch> result;
    const json& list = requireArray(value, where);
    for (std::size_t k = 0; k < list.size(); ++k) {
        const std::string patchWhere = element(where, k);
        const json& patch = list[k];
        requireObject(patch, patchWhere, {indexKey, "offset", "hex"});
        if (!patch.contains(indexKey))
            fail(member(patchWhere, indexKey), "missing");
        if (!patch.contains("hex") || !patch.at("hex").is_string())
            fail(member(patchWhere, "hex"), "expected a string of hex digits");
        result.push_back({u32(patch.at(indexKey), member(patchWhere, indexKey)),
                          optionalU32(patch, "offset", patchWhere).value_or(0),
                          hexBytes(patch.at("hex").get<std::string>(), member(patchWhere, "hex"))});
    }
    return result;
}

} // namespace

VolumeContents volumeContents(const json& value, const std::string& where)
{
    requireObject(value, where,
                  {"tree", "root", "generate", "rawEntries", "date", "dateTime", "fileOrder", "fatChains",
                   "detChains", "fatCopy2Patches", "detCopy2Patches", "noiseSeed"});
    VolumeContents result;
    if (value.contains("tree")) {
        const std::string listWhere = member(where, "tree");
        const json& list = requireArray(value.at("tree"), listWhere);
        for (std::size_t k = 0; k < list.size(); ++k)
            result.nodes.push_back(node(list[k], element(listWhere, k)));
    }
    if (value.contains("root"))
        result.root = rootRecord(value.at("root"), member(where, "root"));
    if (value.contains("generate"))
        result.generate = generate(value.at("generate"), member(where, "generate"));
    if (value.contains("rawEntries")) {
        const std::string listWhere = member(where, "rawEntries");
        const json& list = requireArray(value.at("rawEntries"), listWhere);
        for (std::size_t k = 0; k < list.size(); ++k)
            result.rawEntries.push_back(rawEntry(list[k], element(listWhere, k)));
    }
    if (value.contains("date") && value.contains("dateTime"))
        fail(where, "give either \"date\" or \"dateTime\", not both");
    if (value.contains("date"))
        result.defaultDateTime = dateTime(value.at("date"), member(where, "date"));
    result.defaultDateTime = optionalU32(value, "dateTime", where).value_or(result.defaultDateTime);
    if (value.contains("fileOrder"))
        result.fileOrder = blockOrder(value.at("fileOrder"), member(where, "fileOrder"));
    if (value.contains("fatChains"))
        result.fatChains = chainPair(value.at("fatChains"), member(where, "fatChains"));
    if (value.contains("detChains"))
        result.detChains = chainPair(value.at("detChains"), member(where, "detChains"));
    if (value.contains("fatCopy2Patches"))
        result.fatCopy2Patches = patches(value.at("fatCopy2Patches"), member(where, "fatCopy2Patches"), "entry");
    if (value.contains("detCopy2Patches"))
        result.detCopy2Patches = patches(value.at("detCopy2Patches"), member(where, "detCopy2Patches"), "position");
    if (value.contains("noiseSeed"))
        result.noiseSeed = number(value.at("noiseSeed"), member(where, "noiseSeed"), ~std::uint64_t{0});
    return result;
}

} // namespace tamsin::imagebuilder::detail
