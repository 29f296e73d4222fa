#include "mount/BlockContent.h"

#include "common/LittleEndian.h"
#include "mount/DirEntryFields.h"
#include "mount/DirectoryWalk.h"

#include <algorithm>
#include <vector>

namespace tamsin {
namespace {

using namespace direntry;

constexpr std::size_t kTrusteeFolder = 12;  // trustee and restriction records: the folder they lie in
constexpr std::uint8_t kMaxNameSpace = 10;
constexpr std::uint8_t kMaxSuballocationRecord = 4;
constexpr std::size_t kOwnerUnit = 4096;

// The longest name a record of the name space holds.
std::uint8_t maxNameLength(std::uint8_t nameSpace)
{
    switch (nameSpace) {
    case kDosNameSpace:
        return kMaxDosNameLength;
    case kMacNameSpace:
        return 32;
    case kNfsNameSpace:
        return 40;
    default:
        return kMaxLongNameLength;
    }
}

// Names hold no control bytes; a NUL may only pad the end.
bool plausibleName(std::span<const std::uint8_t> name)
{
    const auto end = std::find(name.begin(), name.end(), std::uint8_t{0});
    if (end == name.begin())
        return false;
    return std::none_of(name.begin(), end, [](std::uint8_t c) { return c < 0x20 || c == 0x7F; })
        && std::all_of(end, name.end(), [](std::uint8_t c) { return c == 0; });
}

} // namespace

RecordKind classifyRecord(std::span<const std::uint8_t> record)
{
    if (record.size() < kDirEntrySize)
        return RecordKind::Invalid;
    const std::uint32_t parent = readU32(record, kParentId);
    switch (parent) {
    case kFreeParent:
        return RecordKind::Free;
    case kTrusteeParent:
        return RecordKind::Trustee;
    case kRestrictionParent:
        return RecordKind::Restriction;
    case kRootParent:
        return record[kNameSpace] <= kMaxNameSpace ? RecordKind::Root : RecordKind::Invalid;
    case kSuballocationParent:
        return record[kRecordNumber] <= kMaxSuballocationRecord ? RecordKind::Suballocation : RecordKind::Invalid;
    default:
        break;
    }
    const std::uint8_t nameSpace = record[kNameSpace];
    const std::uint8_t length = record[kNameLength];
    if (nameSpace > kMaxNameSpace || length > maxNameLength(nameSpace))
        return RecordKind::Invalid;
    if (length == 0)
        return parent == 0 && nameSpace == kDosNameSpace ? RecordKind::Empty : RecordKind::Invalid;
    return plausibleName(record.subspan(kName, length)) ? RecordKind::Entry : RecordKind::Invalid;
}

std::uint32_t recordOwner(std::span<const std::uint8_t> record)
{
    const std::uint32_t parent = readU32(record, kParentId);
    if (parent == kTrusteeParent || parent == kRestrictionParent)
        return readU32(record, kTrusteeFolder);
    if (parent == kRootParent || parent == kSuballocationParent)
        return 0;
    return parent;
}

DirectoryBlockMatch matchDirectoryBlock(std::span<const std::uint8_t> block)
{
    DirectoryBlockMatch match;
    if (block.empty() || block.size() % kDirEntrySize != 0)
        return match;
    bool meaningful = false;
    bool firstOwnerSeen = false;
    match.singleOwner = true;
    for (std::size_t unit = 0; unit < block.size(); unit += kOwnerUnit) {
        const auto records = block.subspan(unit, std::min(kOwnerUnit, block.size() - unit));
        bool ownerSeen = false;
        std::uint32_t owner = 0;
        for (std::size_t at = 0; at < records.size(); at += kDirEntrySize) {
            const auto record = records.subspan(at, kDirEntrySize);
            const RecordKind kind = classifyRecord(record);
            if (kind == RecordKind::Invalid)
                return {};
            if (kind == RecordKind::Empty || kind == RecordKind::Free)
                continue;
            meaningful = true;
            match.entries += kind == RecordKind::Entry;
            match.holdsRoot = match.holdsRoot || kind == RecordKind::Root;
            const std::uint32_t recordOwnerId = recordOwner(record);
            if (ownerSeen && recordOwnerId != owner)
                match.singleOwner = false;
            ownerSeen = true;
            owner = recordOwnerId;
            if (!firstOwnerSeen) {
                firstOwnerSeen = true;
                match.owner = owner;
            }
        }
    }
    match.directory = meaningful;
    return match.directory ? match : DirectoryBlockMatch{};
}

bool matchFatBlock(std::span<const std::uint8_t> block, std::uint32_t blockCount, std::uint64_t firstEntry)
{
    constexpr std::uint32_t kEnd = 0xFFFFFFFF;
    constexpr std::uint32_t kTopBit = 0x80000000;
    if (block.empty() || block.size() % 8 != 0)
        return false;
    std::vector<std::uint32_t> named;
    bool anyEntry = false;
    for (std::size_t at = 0; at < block.size() && firstEntry + at / 8 < blockCount; at += 8) {
        const std::uint32_t sequence = readU32(block, at);
        const std::uint32_t next = readU32(block, at + 4);
        if (sequence >= 0x01000000u || (next == 0 && sequence != 0))
            return false;
        anyEntry = anyEntry || sequence != 0 || next != 0;
        if (next == 0 || next == kEnd || (next & kTopBit) != 0)
            continue;
        if (next >= blockCount)
            return false;
        named.push_back(next);
    }
    std::sort(named.begin(), named.end());
    return anyEntry && std::adjacent_find(named.begin(), named.end()) == named.end();
}

} // namespace tamsin
