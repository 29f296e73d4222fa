#include "imagebuilder/Manifest.h"

#include "imagebuilder/ImageBuilder.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ostream>

namespace tamsin::imagebuilder {

namespace {

using json = nlohmann::ordered_json;

// Hexadecimal text of bytes, for names that are not plain ASCII.
std::string hexText(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

bool printableAscii(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

json chainJson(const ChainManifest& chain)
{
    return {{"blocks", chain.blocks}, {"firstSequence", chain.firstSequence}, {"lastNext", chain.lastNext}};
}

json entryJson(const ManifestEntry& entry)
{
    json out = {{"kind", entry.folder ? "folder" : "file"},
                {"name", entry.name},
                {"parentId", entry.parentId},
                {"ownId", entry.ownId},
                {"size", entry.size},
                {"firstBlock", entry.firstBlock},
                {"dateTime", entry.dateTime},
                {"deletedMarker", entry.deletedMarker},
                {"attributes", entry.attributes},
                {"attributesHigh", entry.attributesHigh},
                {"position", entry.position},
                {"entrySector", entry.entrySector},
                {"mirrorSector", entry.mirrorSector},
                {"slot", entry.slot}};
    if (!printableAscii(entry.name))
        out["nameHex"] = hexText(entry.name);
    out["dosName"] = entry.dosName;
    if (!printableAscii(entry.dosName))
        out["dosNameHex"] = hexText(entry.dosName);
    out["modifiedDateTime"] = entry.modifiedDateTime;
    if (entry.nameList != 0) {
        out["nameList"] = entry.nameList;
        json chain = json::array();
        for (const ChainRecord& record : entry.chain) {
            json item = {{"position", record.position}, {"nameSpace", record.nameSpace}};
            if (nameSpaceNameClamp(record.nameSpace) != 0) {
                item["name"] = record.name;
                if (!printableAscii(record.name))
                    item["nameHex"] = hexText(record.name);
            }
            chain.push_back(std::move(item));
        }
        out["chain"] = std::move(chain);
        out["chainEnd"] = chainEndName(entry.chainEnd);
    }
    if (!entry.nameSpaceRecords.empty()) {
        json records = json::array();
        for (const WrittenNameSpaceRecord& record : entry.nameSpaceRecords)
            records.push_back({{"position", record.position},
                               {"nameSpace", record.nameSpace},
                               {"nameLength", record.nameLength},
                               {"primaryEntry", record.primaryEntry},
                               {"next", record.next}});
        out["nameSpaceRecords"] = std::move(records);
    }
    if (!entry.folder) {
        out["dataBlocks"] = entry.dataBlocks;
        if (entry.fragment != 0)
            out["fragment"] = entry.fragment;
        if (entry.content.known) {
            const std::vector<std::uint8_t> data = expectedData(entry);
            out["data"] = {{"length", entry.content.length}, {"patternSeed", entry.content.patternSeed},
                           {"crc32", crc32(data)}};
        }
    }
    return out;
}

} // namespace

void contentBytes(const FileContent& content, std::uint64_t offset, std::span<std::uint8_t> out)
{
    const std::vector<std::uint8_t>* prefix = content.prefix.get();
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::uint64_t at = offset + i;
        if (at >= content.length)
            out[i] = 0;
        else if (prefix && at < prefix->size())
            out[i] = (*prefix)[at];
        else
            out[i] = patternByte(content.patternSeed, at);
    }
    if (!content.compressedHeader)
        return;
    // The header's u32 fields at 4 and 8, little-endian.
    for (std::uint64_t at = 4; at < 12; ++at) {
        if (at < offset || at >= offset + out.size() || at >= content.length)
            continue;
        const std::uint32_t field = at < 8 ? content.checkSize : content.headerStoredLength;
        out[at - offset] = static_cast<std::uint8_t>(field >> (8 * (at % 4)));
    }
}

const char* chainEndName(ChainEnd end)
{
    switch (end) {
    case ChainEnd::Zero:
        return "zero";
    case ChainEnd::Revisited:
        return "revisited";
    case ChainEnd::LinkLimit:
        return "linkLimit";
    case ChainEnd::Outside:
        return "outside";
    case ChainEnd::DosRecord:
        return "dosRecord";
    case ChainEnd::OtherPrimary:
        return "otherPrimary";
    }
    return "";
}

const std::string* ManifestEntry::chainName(std::uint8_t nameSpace) const
{
    for (const ChainRecord& record : chain)
        if (record.nameSpace == nameSpace && !record.name.empty())
            return &record.name;
    return nullptr;
}

std::vector<std::uint8_t> expectedData(const ManifestEntry& entry)
{
    std::vector<std::uint8_t> data(entry.content.length);
    contentBytes(entry.content, 0, data);
    return data;
}

const ManifestEntry* VolumeManifest::find(std::string_view name) const
{
    for (const ManifestEntry& entry : entries)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

std::uint32_t crc32(std::span<const std::uint8_t> bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void writeManifestJson(const BuiltLayout& layout, std::ostream& out)
{
    out << "{\"volumes\": [";
    bool firstVolume = true;
    for (const PartitionLayout& partition : layout.partitions) {
        for (const SegmentLayout& segment : partition.segments) {
            if (!segment.manifest)
                continue;
            const VolumeManifest& volume = *segment.manifest;
            json head = {{"partitionSlot", partition.slot},
                         {"name", volume.name},
                         {"startSector", volume.startSector},
                         {"sizeSectors", volume.sizeSectors},
                         {"blockCount", volume.blockCount},
                         {"sectorsPerBlock", volume.sectorsPerBlock},
                         {"fat", {chainJson(volume.fat[0]), chainJson(volume.fat[1])}},
                         {"det", {chainJson(volume.det[0]), chainJson(volume.det[1])}},
                         {"detPositions", volume.detPositions}};
            json roots = json::object();
            for (std::size_t k = 0; k < volume.suballocationRoots.size(); ++k)
                if (volume.suballocationRoots[k] != 0)
                    roots[std::to_string(k)] = volume.suballocationRoots[k];
            head["suballocationRoots"] = roots;
            json chains = json::object();
            for (const auto& [sizeClass, chain] : volume.suballocationChains)
                chains[std::to_string(sizeClass)] = chain.blocks;
            head["suballocationChains"] = chains;
            head["nameSpaces"] = volume.nameSpaces;
            head["created"] = volume.created;

            // The head without its closing brace, then the entries one by one.
            std::string text = head.dump(-1, ' ', false, json::error_handler_t::replace);
            text.pop_back();
            out << (firstVolume ? "\n " : ",\n ") << text << ", \"entries\": [";
            firstVolume = false;
            bool firstEntry = true;
            for (const ManifestEntry& entry : volume.entries) {
                out << (firstEntry ? "\n  " : ",\n  ")
                    << entryJson(entry).dump(-1, ' ', false, json::error_handler_t::replace);
                firstEntry = false;
            }
            out << "]}";
        }
    }
    out << "]}\n";
}

} // namespace tamsin::imagebuilder
