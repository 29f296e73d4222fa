#include "mount/NameSpaces.h"

#include "common/LittleEndian.h"
#include "mount/MountedVolume.h"

#include <cstring>
#include <unordered_set>

namespace tamsin {
namespace {

constexpr std::size_t kNameSpace = 10;
constexpr std::size_t kNameLength = 11;
constexpr std::size_t kName = 12;
constexpr std::size_t kPrimaryEntry = 120;
constexpr std::size_t kNameList = 124;

// The largest name a record of each name space holds in itself.
std::size_t nameFieldLength(std::uint8_t nameSpace)
{
    switch (nameSpace) {
    case kMacNameSpace:
        return 32;
    case kNfsNameSpace:
        return 40;
    default:
        return 80;
    }
}

} // namespace

const char* nameSpaceName(std::uint8_t code)
{
    static const char* const names[] = {"DOS", "MAC", "NFS", "FTAM", "LONG", "NT"};
    return code < 6 ? names[code] : "";
}

RootRecord decodeRootRecord(std::span<const std::uint8_t> entry)
{
    RootRecord root;
    root.found = true;
    root.volumeFlags = entry[23];
    root.createdDateTime = readU32(entry, 24);
    // Newer volumes (trustee-count or directory-services flag) keep one name
    // space per nibble from @16; older ones one per byte from @12.
    const bool nibbles = (root.volumeFlags & 0x30) != 0;
    const std::size_t capacity = nibbles ? 12 : 10;
    const std::size_t count = std::min<std::size_t>(std::max<std::size_t>(entry[kNameLength], 1), capacity);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t code = nibbles ? static_cast<std::uint8_t>((entry[16 + i / 2] >> (4 * (i % 2))) & 0x0F)
                                          : entry[12 + i];
        root.nameSpaces.push_back(code);
    }
    return root;
}

void NameSpaceRecords::addRecord(std::uint32_t dirNo, std::span<const std::uint8_t> entry)
{
    Record record;
    record.nameSpace = entry[kNameSpace];
    record.primary = readU32(entry, kPrimaryEntry);
    record.next = readU32(entry, kNameList);
    const std::size_t length = std::min<std::size_t>(entry[kNameLength], nameFieldLength(record.nameSpace));
    const char* begin = reinterpret_cast<const char*>(entry.data() + kName);
    record.name.assign(begin, strnlen(begin, length));
    records_.insert_or_assign(dirNo, std::move(record));
}

void NameSpaceRecords::addChain(bool folder, std::uint32_t node, std::uint32_t dirNo, std::uint32_t firstLink)
{
    chains_.push_back({folder, node, dirNo, firstLink});
}

void NameSpaceRecords::resolve(MountedVolume& volume) const
{
    std::unordered_set<std::uint32_t> visited;
    for (const Chain& chain : chains_) {
        const std::string* longName = nullptr;
        const std::string* nfsName = nullptr;
        const std::string* macName = nullptr;
        visited.clear();
        visited.insert(chain.dirNo);
        std::uint32_t link = chain.firstLink;
        for (std::uint32_t links = 0; link != 0 && links < kMaxNameSpaceLinks; ++links) {
            if (!visited.insert(link).second)
                break;
            const auto it = records_.find(link);
            if (it == records_.end() || it->second.primary != chain.dirNo)
                break;
            const Record& r = it->second;
            if (!r.name.empty()) {
                const std::string** slot = r.nameSpace == kLongNameSpaceCode ? &longName
                    : r.nameSpace == kNfsNameSpace                           ? &nfsName
                    : r.nameSpace == kMacNameSpace                           ? &macName
                                                                             : nullptr;
                if (slot && !*slot)
                    *slot = &r.name;
            }
            link = r.next;
        }
        const std::string* shown = longName ? longName : nfsName ? nfsName : macName;
        if (!shown)
            continue;
        TreeNode& node = chain.folder ? volume.folders[chain.node] : volume.files[chain.node];
        // The DOS name is kept unless the next-slot long name already moved it aside.
        volume.dosNames.try_emplace(MountedVolume::dosNameKey(chain.folder, chain.node), node.name);
        node.name = *shown;
    }
}

} // namespace tamsin
