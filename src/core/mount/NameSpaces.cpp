#include "mount/NameSpaces.h"

#include "common/LittleEndian.h"
#include "mount/DirEntryFields.h"
#include "mount/MountedVolume.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace tamsin {
namespace {

using namespace direntry;

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

void DosNameTable::finish()
{
    std::stable_sort(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    entries_.erase(std::unique(entries_.begin(), entries_.end(),
                               [](const auto& a, const auto& b) { return a.first == b.first; }),
                   entries_.end());
}

const std::string* DosNameTable::find(std::uint64_t key) const
{
    const auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                                     [](const auto& entry, std::uint64_t k) { return entry.first < k; });
    return it != entries_.end() && it->first == key ? &it->second : nullptr;
}

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
    record.dirNo = dirNo;
    record.nameSpace = entry[kNameSpace];
    record.primary = readU32(entry, kOwnId);
    record.next = readU32(entry, kNameList);
    if (record.nameSpace == kLongNameSpace || record.nameSpace == kNfsNameSpace || record.nameSpace == kMacNameSpace) {
        const std::size_t length = std::min<std::size_t>(entry[kNameLength], nameFieldLength(record.nameSpace));
        const char* begin = reinterpret_cast<const char*>(entry.data() + kName);
        record.nameOffset = static_cast<std::uint32_t>(names_.size());
        record.nameLength = static_cast<std::uint8_t>(strnlen(begin, length));
        names_.append(begin, record.nameLength);
    }
    if (!records_.empty() && records_.back().dirNo >= dirNo)
        unsorted_ = true;
    records_.push_back(record);
}

const NameSpaceRecords::Record* NameSpaceRecords::find(std::uint32_t dirNo) const
{
    // Of several records at one number (a sector decoded twice) the last counts.
    auto it = std::upper_bound(records_.begin(), records_.end(), dirNo,
                               [](std::uint32_t n, const Record& r) { return n < r.dirNo; });
    if (it == records_.begin() || (--it)->dirNo != dirNo)
        return nullptr;
    return &*it;
}

void NameSpaceRecords::addChain(bool folder, std::uint32_t node, std::uint32_t dirNo, std::uint32_t primary,
                                std::uint32_t firstLink)
{
    chains_.push_back({folder, node, dirNo, primary, firstLink});
}

void NameSpaceRecords::resolve(MountedVolume& volume)
{
    if (unsorted_)
        std::stable_sort(records_.begin(), records_.end(), [](const Record& a, const Record& b) { return a.dirNo < b.dirNo; });
    unsorted_ = false;
    std::unordered_set<std::uint32_t> visited;
    for (const Chain& chain : chains_) {
        const Record* longName = nullptr;
        const Record* nfsName = nullptr;
        const Record* macName = nullptr;
        visited.clear();
        visited.insert(chain.dirNo);
        std::uint32_t link = chain.firstLink;
        for (std::uint32_t links = 0; link != 0 && links < kMaxNameSpaceLinks; ++links) {
            if (!visited.insert(link).second)
                break;
            const Record* found = find(link);
            // NetWare tolerates an @120 that is not the DOS record's number;
            // the records of one file then carry the DOS record's own @120.
            if (!found || (found->primary != chain.dirNo && found->primary != chain.primary))
                break;
            const Record& r = *found;
            if (r.nameLength != 0) {
                const Record** slot = r.nameSpace == kLongNameSpace ? &longName
                    : r.nameSpace == kNfsNameSpace                           ? &nfsName
                    : r.nameSpace == kMacNameSpace                           ? &macName
                                                                             : nullptr;
                if (slot && !*slot)
                    *slot = &r;
            }
            link = r.next;
        }
        const Record* shown = longName ? longName : nfsName ? nfsName : macName;
        if (!shown)
            continue;
        TreeNode& node = chain.folder ? volume.folders[chain.node] : volume.files[chain.node];
        // The DOS name is kept unless the next-slot long name already moved it aside.
        volume.dosNames.add(MountedVolume::dosNameKey(chain.folder, chain.node), node.name);
        node.name = volume.names.store(std::string_view(names_).substr(shown->nameOffset, shown->nameLength));
    }
    volume.dosNames.finish();
}

} // namespace tamsin
