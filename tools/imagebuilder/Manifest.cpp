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
        for (const ChainRecord& record : entry.chain()) {
            json item = {{"position", record.position}, {"nameSpace", record.nameSpace}};
            if (nameSpaceNameClamp(record.nameSpace) != 0) {
                item["name"] = record.name;
                if (!printableAscii(record.name))
                    item["nameHex"] = hexText(record.name);
            }
            chain.push_back(std::move(item));
        }
        out["chain"] = std::move(chain);
        out["chainEnd"] = chainEndName(entry.chainEnd());
    }
    if (!entry.nameSpaceRecords().empty()) {
        json records = json::array();
        for (const WrittenNameSpaceRecord& record : entry.nameSpaceRecords())
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
        if (entry.incomplete()) {
            out["incomplete"] = true;
            json ranges = json::array();
            for (const ByteRange& range : entry.unreadable)
                ranges.push_back({range.offset, range.length});
            out["unreadable"] = std::move(ranges);
        }
    }
    return out;
}

json withPath(json object, std::size_t disk, const std::vector<std::string>& paths)
{
    if (disk < paths.size())
        object["path"] = paths[disk];
    return object;
}

json segmentJson(const ManifestSegment& segment, const std::vector<std::string>& paths)
{
    return withPath({{"index", segment.index},
                     {"disk", segment.disk},
                     {"partitionSlot", segment.partitionSlot},
                     {"startSector", segment.startSector},
                     {"sizeSectors", segment.sizeSectors},
                     {"firstVolumeBlock", segment.firstVolumeBlock},
                     {"volumeRoot", segment.volumeRoot}},
                    segment.disk, paths);
}

json refJson(PartitionRef ref)
{
    return {{"disk", ref.disk}, {"partition", ref.slot}};
}

json headersJson(const HeaderLayout& headers)
{
    json redirected = json::array();
    for (const RedirectedBlock& block : headers.redirectedBlocks)
        redirected.push_back({{"logicalBlock", block.logicalBlock},
                              {"spare", block.spare},
                              {"badBits", block.badBits},
                              {"inCopy1", block.inCopy1},
                              {"inCopy2", block.inCopy2}});
    json group = json::array();
    for (const PartitionRef& member : headers.group)
        group.push_back(refJson(member));
    json out = {{"partitionId", headers.partitionId},
                {"mirrorGroupId", headers.mirrorGroupId},
                {"members", headers.members},
                {"mirrorFlags", headers.mirrorFlags},
                {"mirrorStatus", headers.mirrorStatus},
                {"dataSectors", headers.dataSectors},
                {"hotfixBlocks", headers.hotfixBlocks},
                {"hotfixSectors", headers.hotfixSectors},
                {"tableSectors", headers.tableSectors},
                {"validCopy", headers.validCopy ? json(*headers.validCopy) : json(nullptr)},
                {"redirectedBlocks", std::move(redirected)},
                {"freeSpares", headers.freeSpares},
                {"reservedBlocks", headers.reservedBlocks},
                {"group", std::move(group)},
                {"outOfSync", headers.outOfSync},
                {"readFrom", headers.readFrom},
                {"unreadableSectors", headers.unreadableSectors}};
    if (headers.mirrorOf)
        out["mirrorOf"] = refJson(*headers.mirrorOf);
    return out;
}

json partitionJson(const PartitionLayout& partition, const std::vector<std::string>& paths)
{
    json out = {{"disk", partition.disk},
                {"slot", partition.slot},
                {"type", partition.type},
                {"startSector", partition.startSector},
                {"sizeSectors", partition.sizeSectors},
                {"netware", partition.netware}};
    if (partition.netware) {
        out["hotfixLength"] = partition.hotfixLength;
        out["dataSectors"] = partition.headers ? partition.headers->dataSectors
                                               : partition.sizeSectors - std::min(partition.sizeSectors, partition.hotfixLength);
        if (partition.headers)
            out["headers"] = headersJson(*partition.headers);
    }
    return withPath(std::move(out), partition.disk, paths);
}

json rowJson(const TableRow& row, const std::vector<std::string>& paths)
{
    return withPath({{"disk", row.disk},
                     {"partitionSlot", row.partitionSlot},
                     {"entry", row.entry},
                     {"name", row.name},
                     {"startSector", row.startSector},
                     {"sizeSectors", row.sizeSectors},
                     {"volumeRoot", row.volumeRoot},
                     {"netwareFields", row.netwareFields},
                     {"segmentIndex", row.segmentIndex},
                     {"segmentCount", row.segmentCount},
                     {"volumeBlocks", row.volumeBlocks},
                     {"firstVolumeBlock", row.firstVolumeBlock},
                     {"sectorsPerBlock", row.sectorsPerBlock}},
                    row.disk, paths);
}

// Writes one volume as an element of the "volumes" array.
void writeVolumeJson(std::ostream& out, const VolumeManifest& volume, int partitionSlot, bool& firstVolume,
                     const std::vector<std::string>& paths);

// The whole document; `disks` is written only for a set.
void writeDocument(std::ostream& out, const std::vector<const BuiltLayout*>& disks,
                   const std::vector<SpannedVolumeLayout>& spanned, const std::vector<std::string>& paths, bool set)
{
    out << "{";
    if (set) {
        json list = json::array();
        for (const BuiltLayout* disk : disks)
            list.push_back(withPath({{"index", disk->disk}, {"totalSectors", disk->totalSectors}}, disk->disk, paths));
        out << "\"disks\": " << list.dump(-1, ' ', false, json::error_handler_t::replace) << ",\n ";
    }
    out << "\"volumes\": [";
    bool firstVolume = true;
    for (const BuiltLayout* disk : disks)
        for (const PartitionLayout& partition : disk->partitions)
            for (const SegmentLayout& segment : partition.segments)
                if (segment.manifest)
                    writeVolumeJson(out, *segment.manifest, partition.slot, firstVolume, paths);
    for (const SpannedVolumeLayout& volume : spanned)
        if (volume.manifest)
            writeVolumeJson(out, *volume.manifest, volume.segments.front().partitionSlot, firstVolume, paths);
    json partitions = json::array();
    json rows = json::array();
    for (const BuiltLayout* disk : disks) {
        for (const PartitionLayout& partition : disk->partitions)
            partitions.push_back(partitionJson(partition, paths));
        for (const TableRow& row : disk->rows)
            rows.push_back(rowJson(row, paths));
    }
    out << "],\n \"partitions\": " << partitions.dump(-1, ' ', false, json::error_handler_t::replace)
        << ",\n \"rows\": " << rows.dump(-1, ' ', false, json::error_handler_t::replace) << "}\n";
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
    case ChainEnd::NotRecord:
        return "notRecord";
    case ChainEnd::OtherPrimary:
        return "otherPrimary";
    }
    return "";
}

const std::vector<ChainRecord>& ManifestEntry::chain() const
{
    static const std::vector<ChainRecord> kNone;
    return nameSpaceChain ? nameSpaceChain->taken : kNone;
}

const std::vector<WrittenNameSpaceRecord>& ManifestEntry::nameSpaceRecords() const
{
    static const std::vector<WrittenNameSpaceRecord> kNone;
    return nameSpaceChain ? nameSpaceChain->written : kNone;
}

const std::string* ManifestEntry::chainName(std::uint8_t nameSpace) const
{
    for (const ChainRecord& record : chain())
        if (record.nameSpace == nameSpace && !record.name.empty())
            return &record.name;
    return nullptr;
}

std::vector<std::uint8_t> expectedData(const ManifestEntry& entry)
{
    std::vector<std::uint8_t> data(entry.content.length);
    contentBytes(entry.content, 0, data);
    std::vector<ByteRange> zeros = entry.holes;
    zeros.insert(zeros.end(), entry.unreadable.begin(), entry.unreadable.end());
    for (const ByteRange& range : zeros)
        if (range.offset < data.size())
            std::fill_n(data.begin() + static_cast<std::ptrdiff_t>(range.offset),
                        std::min<std::uint64_t>(range.length, data.size() - range.offset), 0);
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

namespace {

void writeVolumeJson(std::ostream& out, const VolumeManifest& volume, int partitionSlot, bool& firstVolume,
                     const std::vector<std::string>& paths)
{
    const std::size_t disk = volume.segments.empty() ? 0 : volume.segments.front().disk;
    json head = {{"partitionSlot", volume.segments.empty() ? partitionSlot : volume.segments.front().partitionSlot},
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
    head["disk"] = disk;
    if (disk < paths.size())
        head["path"] = paths[disk];
    json segments = json::array();
    json missing = json::array();
    for (const ManifestSegment& segment : volume.segments) {
        if (segment.present)
            segments.push_back(segmentJson(segment, paths));
        else
            missing.push_back(segment.index);
    }
    head["segments"] = std::move(segments);
    head["missingSegments"] = std::move(missing);
    head["volumeBlocks"] = volume.blockCount;
    head["complete"] = volume.complete;
    head["incompleteFiles"] = volume.incompleteFiles;

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

} // namespace

void writeManifestJson(const BuiltLayout& layout, std::ostream& out)
{
    writeDocument(out, {&layout}, {}, {}, false);
}

void writeManifestJson(const DiskSetLayout& layout, std::ostream& out, const std::vector<std::string>& paths)
{
    std::vector<const BuiltLayout*> disks;
    for (const BuiltLayout& disk : layout.disks)
        disks.push_back(&disk);
    writeDocument(out, disks, layout.spanned, paths, true);
}

} // namespace tamsin::imagebuilder
