#include "imagebuilder/VolumeContents.h"

#include "common/LittleEndian.h"

#include <iterator>
#include <span>

namespace tamsin::imagebuilder {

namespace {

// A 32-bit mixing function (the MurmurHash3 finaliser) over seed and word index.
std::uint32_t patternWord(std::uint32_t seed, std::uint64_t word)
{
    std::uint32_t h = seed * 0x9E3779B1u ^ (static_cast<std::uint32_t>(word) * 0x85EBCA77u)
        ^ (static_cast<std::uint32_t>(word >> 32) * 0xC2B2AE3Du);
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

} // namespace

const char* nameSpaceName(std::uint8_t nameSpace)
{
    static constexpr const char* kNames[] = {"DOS", "MAC", "NFS", "FTAM", "LONG", "NT"};
    return nameSpace < std::size(kNames) ? kNames[nameSpace] : "";
}

std::size_t nameSpaceNameField(std::uint8_t nameSpace)
{
    switch (nameSpace) {
    case kMacNameSpace:
        return 31;
    case kNfsNameSpace:
        return 40;
    case kFtamNameSpace:
    case kLongNameSpace:
    case kNtNameSpace:
        return 80;
    default:
        return 0;
    }
}

std::size_t nameSpaceNameClamp(std::uint8_t nameSpace)
{
    switch (nameSpace) {
    case kMacNameSpace:
        return 32;
    case kNfsNameSpace:
        return 40;
    case kLongNameSpace:
    case kNtNameSpace:
        return 80;
    default:
        return 0;
    }
}

std::uint8_t patternByte(std::uint32_t seed, std::uint64_t offset)
{
    return static_cast<std::uint8_t>(patternWord(seed, offset / 4) >> (8 * (offset % 4)));
}

Node folderNode(std::string name, std::vector<Node> children)
{
    Node node;
    node.folder = true;
    node.name = std::move(name);
    node.children = std::move(children);
    return node;
}

Node fileNode(std::string name, std::uint32_t size)
{
    Node node;
    node.name = std::move(name);
    node.size = size;
    return node;
}

Node fileNode(std::string name, std::vector<std::uint8_t> data)
{
    Node node;
    node.name = std::move(name);
    node.size = static_cast<std::uint32_t>(data.size());
    node.data = std::move(data);
    return node;
}

Node textFileNode(std::string name, const std::string& text)
{
    return fileNode(std::move(name), std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::array<std::uint8_t, kDirEntrySize> suballocationRecord(std::uint8_t recordNumber,
                                                            const std::array<std::uint32_t, kRootsPerRecord>& roots)
{
    std::array<std::uint8_t, kDirEntrySize> entry{};
    const std::span<std::uint8_t> bytes(entry);
    writeU32(bytes, kDetParentId, kSuballocationParent);
    entry[kDetRecordNumber] = recordNumber;
    for (std::uint32_t i = 0; i < kRootsPerRecord; ++i)
        writeU32(bytes, kDetRoots + 4 * i, roots[i]);
    return entry;
}

} // namespace tamsin::imagebuilder
