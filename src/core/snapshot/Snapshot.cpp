#include "snapshot/Snapshot.h"

#include "common/FileDescriptor.h"
#include "common/LittleEndian.h"
#include "common/Prefault.h"
#include "mount/MountedVolume.h"
#include "snapshot/SnapshotDiskCheck.h"
#include "snapshot/SnapshotFileIo.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <span>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace tamsin {
namespace {

constexpr std::size_t kNodeFixedBytes = 44;  // a node record without its name
constexpr std::size_t kNodeFieldBytes = 38;  // the fields after a record's name
constexpr std::uint32_t kMinRecordLength = 40;
constexpr std::uint32_t kMaxRecordLength = 40 + 255;

constexpr std::size_t kHeaderStartBytes = 18;   // magic, version, disk, volume index, name length
constexpr std::size_t kHeaderFieldBytes = 44;   // the volume's fields after its name

// Lays little-endian fields one after another into a piece of a buffer.
class FieldWriter {
public:
    explicit FieldWriter(std::span<std::uint8_t> room) : room_(room) {}
    FieldWriter(const FieldWriter&) = delete;
    FieldWriter& operator=(const FieldWriter&) = delete;
    // Every byte of the room is written: a gap would leave stale buffer bytes in the file.
    ~FieldWriter() { assert(at_ == room_.size()); }
    void u8(std::uint8_t v) { room_[at_++] = v; }
    void u16(std::uint16_t v) { writeU16(room_, advance(2), v); }
    void u32(std::uint32_t v) { writeU32(room_, advance(4), v); }
    void u64(std::uint64_t v) { writeU64(room_, advance(8), v); }
    void text(std::string_view s) { std::memcpy(room_.data() + advance(s.size()), s.data(), s.size()); }

private:
    std::size_t advance(std::size_t n)
    {
        at_ += n;
        return at_ - n;
    }
    std::span<std::uint8_t> room_;
    std::size_t at_ = 0;
};

// Takes little-endian fields one after another from a piece the caller has
// checked is long enough.
class FieldReader {
public:
    explicit FieldReader(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes, size) {}
    std::uint8_t u8() { return bytes_[at_++]; }
    std::uint16_t u16() { return readU16(bytes_, advance(2)); }
    std::uint32_t u32() { return readU32(bytes_, advance(4)); }
    std::uint64_t u64() { return readU64(bytes_, advance(8)); }

private:
    std::size_t advance(std::size_t n)
    {
        at_ += n;
        return at_ - n;
    }
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

// Whether the size bytes at text hold a zero byte, a word at a time. The
// text is a name inside a node record, whose fields follow it: reading up to
// 8 bytes from its start, whatever its size, stays inside the record.
bool holdsZeroByte(const char* text, std::size_t size)
{
    constexpr std::uint64_t ones = 0x0101010101010101, highs = 0x8080808080808080;
    auto zeroIn = [](std::uint64_t word) { return ((word - ones) & ~word & highs) != 0; };
    std::uint64_t word;
    if (size < 8) {
        std::memcpy(&word, text, 8);
        // The bytes past the name are set, so that only the name's can be zero.
        const std::uint64_t past = std::endian::native == std::endian::little ? ~std::uint64_t{0} << (8 * size)
                                                                              : ~std::uint64_t{0} >> (8 * size);
        return zeroIn(word | past);
    }
    for (std::size_t at = 0; at + 8 < size; at += 8) {
        std::memcpy(&word, text + at, 8);
        if (zeroIn(word))
            return true;
    }
    std::memcpy(&word, text + size - 8, 8);  // the last 8 bytes, overlapping the loop's last word
    return zeroIn(word);
}

void writeNode(FileWriteBuffer& out, const TreeNode& node)
{
    FieldWriter record(out.next(node.name.size() + kNodeFixedBytes));
    record.u32(static_cast<std::uint32_t>(node.name.size() + kMinRecordLength));
    // A placeholder has no entry on the disk: every field of it is 0 but its
    // name and id, the attributes too (loading makes it a folder again).
    record.u8(node.isPlaceholder() ? 0 : node.attributes);
    record.u8(node.attributesHigh);
    record.text(node.name);
    record.u32(node.parentId);
    record.u32(node.ownId);
    record.u32(node.size);
    record.u32(node.firstBlock);
    record.u32(node.dateTime);
    record.u32(node.deletedMarker);
    record.u32(node.ordinal);
    record.u32(node.entrySector);
    record.u32(node.mirrorSector);
    record.u16(node.entrySlot);
}

SnapshotResult outcome(SnapshotStatus status, const std::string& path)
{
    SnapshotResult result;
    result.status = status;
    result.path = path;
    return result;
}

SnapshotResult damaged(const std::string& path, SnapshotDamage damage, SnapshotNodeList list = {})
{
    SnapshotResult result = outcome(SnapshotStatus::Damaged, path);
    result.damage = damage;
    result.damagedList = list;
    return result;
}

// The bytes as text ending at the first zero byte, compared without case.
bool sameTextIgnoringCase(const std::string& bytes, const char* expected)
{
    const std::string text = bytes.substr(0, bytes.find('\0'));
    return text.size() == std::strlen(expected)
        && std::equal(text.begin(), text.end(), expected, [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

} // namespace

std::string withSnapshotExtension(const std::string& path)
{
    const std::string extension = kSnapshotExtension;
    if (path.size() >= extension.size()
        && sameTextIgnoringCase(path.substr(path.size() - extension.size()), extension.c_str()))
        return path;
    return path + extension;
}

std::string snapshotPath(const std::string& chosen)
{
    const std::size_t slash = chosen.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string path = chosen;
    std::transform(path.begin() + static_cast<long>(nameStart), path.end(), path.begin() + static_cast<long>(nameStart),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return withSnapshotExtension(path);
}

SnapshotResult saveSnapshot(const MountedVolume& volume, std::uint16_t diskNumber, const std::string& path)
{
    // A temporary file beside the target, renamed over it once complete, so a
    // failed save never destroys an existing snapshot.
    std::string temporary = path + ".XXXXXX";
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) {
        SnapshotResult result = outcome(SnapshotStatus::CannotOpen, path);
        result.error = errno;
        return result;
    }
    auto discard = [&](int error) {
        ::unlink(temporary.c_str());
        SnapshotResult result = outcome(SnapshotStatus::WriteFailed, path);
        result.error = error;
        return result;
    };

    FileWriteBuffer out(fd.get(), kSnapshotBufferBytes, /*startWriteback=*/true);
    {
        FieldWriter start(out.next(kHeaderStartBytes));
        start.text(kSnapshotMagic);
        start.text(kSnapshotVersion);
        start.u16(diskNumber);
        start.u16(volume.volumeIndex);
        start.u32(static_cast<std::uint32_t>(volume.volumeName.size()));
    }
    out.append(volume.volumeName);
    {
        FieldWriter header(out.next(kHeaderFieldBytes + 4));
        header.u32(volume.firstFatBlock);
        header.u32(volume.secondFatBlock);
        header.u32(volume.firstDetBlock);
        header.u32(volume.secondDetBlock);
        header.u64(volume.sizeSectors);
        header.u64(volume.startSector);
        header.u32(volume.blockCount);
        header.u32(volume.sectorsPerBlock);
        header.u16(volume.chosenFatCopy);
        header.u16(volume.chosenDetCopy);
        header.u32(volume.folderCount());
    }
    for (const auto& node : volume.folders)
        writeNode(out, node);
    FieldWriter(out.next(4)).u32(volume.fileCount());
    for (const auto& node : volume.files)
        writeNode(out, node);
    {
        FieldWriter roots(out.next(kSuballocationRootCount * 4 + 4));
        for (std::uint32_t root : volume.suballocationRoots)
            roots.u32(root);
        roots.u32(volume.chosenFatList.length());
    }
    for (const auto& node : volume.chosenFatList.nodes) {
        FieldWriter entry(out.next(8));
        entry.u32(node.block);
        entry.u32(node.sequence);
    }

    if (out.flush() != 0)
        return discard(out.error());
    // The bytes reach the disk before the rename: a snapshot spares a failing
    // disk another reading of its tables, so a crash must leave either the
    // old file or the whole new one, never a torn file under the old name.
    if (::fchmod(fd.get(), 0644) != 0 || ::fsync(fd.get()) != 0)
        return discard(errno);
    if (::close(fd.release()) != 0)
        return discard(errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        return discard(errno);
    return outcome(SnapshotStatus::Ok, path);
}

SnapshotResult loadSnapshot(MountedVolume& volume, const std::string& path, std::uint16_t* diskNumber,
                            const SnapshotDiskGuard& guard)
{
    FileReadBuffer in;
    if (!in.open(path, kSnapshotReadAheadBytes))
        return outcome(SnapshotStatus::CannotOpen, path);
    // A read that fails part way is reported like a file that cannot be opened.
    auto refuse = [&](SnapshotDamage damage, SnapshotNodeList list = {}) {
        return in.failed() ? outcome(SnapshotStatus::CannotOpen, path) : damaged(path, damage, list);
    };

    std::string magic;
    if (!in.takeInto(magic, std::min<std::uint64_t>(7, in.remaining())))
        return refuse(SnapshotDamage::ShortStart);
    if (!sameTextIgnoringCase(magic, kSnapshotMagic)) {
        SnapshotResult result = outcome(SnapshotStatus::WrongMagic, path);
        result.foundMagic = magic.substr(0, magic.find('\0'));
        return result;
    }
    std::string version;
    if (!in.takeInto(version, std::min<std::uint64_t>(3, in.remaining())))
        return refuse(SnapshotDamage::ShortStart);
    if (!sameTextIgnoringCase(version, kSnapshotVersion))
        return outcome(SnapshotStatus::WrongVersion, path);

    // Everything is read into a fresh volume; the caller's is replaced only
    // when the whole file has passed.
    MountedVolume loaded;
    const std::uint8_t* bytes = in.take(8);
    if (!bytes)
        return refuse(SnapshotDamage::ShortHeader);
    FieldReader start(bytes, 8);
    const std::uint16_t disk = start.u16();
    loaded.volumeIndex = start.u16();
    const std::uint32_t nameLength = start.u32();
    // The fields and at least the folder count.
    if (!in.has(std::uint64_t{nameLength} + kHeaderFieldBytes + 8) || !in.takeInto(loaded.volumeName, nameLength)
        || !(bytes = in.take(kHeaderFieldBytes)))
        return refuse(SnapshotDamage::ShortHeader);
    FieldReader fields(bytes, kHeaderFieldBytes);
    loaded.firstFatBlock = fields.u32();
    loaded.secondFatBlock = fields.u32();
    loaded.firstDetBlock = fields.u32();
    loaded.secondDetBlock = fields.u32();
    loaded.sizeSectors = fields.u64();
    loaded.startSector = fields.u64();
    loaded.blockCount = fields.u32();
    loaded.sectorsPerBlock = fields.u32();
    loaded.chosenFatCopy = fields.u16();
    loaded.chosenDetCopy = fields.u16();
    if (!usableSectorsPerBlock(loaded.sectorsPerBlock))
        return damaged(path, SnapshotDamage::ImpossibleBlockSize);

    // Each record is decoded where it lies in the read buffer, its name
    // copied once. Parent ids are gathered on the way for the index, and the
    // nodes without an entry sector (placeholders), which the disk check
    // passes over, are noted by their position in folders then files.
    ParentRuns folderParents;
    ParentRuns fileParents;
    std::vector<std::size_t> withoutEntry;
    std::size_t listStart = 0;
    // Folders get the folder bit: older snapshots hold placeholder folders without it.
    auto readNodes = [&](std::vector<TreeNode>& nodes, ParentRuns& parents,
                         std::uint8_t addedAttributes) -> SnapshotDamage {
        const std::uint8_t* count = in.take(4);
        if (!count)
            return SnapshotDamage::MissingCount;
        const std::uint32_t n = readU32(std::span(count, 4), 0);
        if (n > in.remaining() / kNodeFixedBytes)
            return SnapshotDamage::TooManyNodes;
        nodes.reserve(n);
        const BackgroundPrefault nodesAhead(nodes.data(), n * sizeof(TreeNode));
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint8_t* lengthBytes = in.take(4);
            if (!lengthBytes)
                return SnapshotDamage::ShortRecord;
            const std::uint32_t length = readU32(std::span(lengthBytes, 4), 0);
            if (length < kMinRecordLength || length > kMaxRecordLength)
                return SnapshotDamage::ImpossibleRecordLength;
            const std::uint8_t* record = in.take(length);
            if (!record)
                return SnapshotDamage::ShortRecord;
            const std::size_t nameLength = length - kMinRecordLength;
            const char* nameBytes = reinterpret_cast<const char*>(record + 2);
            // A name a decoded entry can never have: as a folder it would be
            // the destination folder itself once recovered.
            if (nameLength == 0 || holdsZeroByte(nameBytes, nameLength))
                return SnapshotDamage::BadRecordName;
            TreeNode& node = nodes.emplace_back();
            if (nameLength <= NodeName::kInlineCapacity)
                node.name.assignPadded(nameBytes, nameLength);
            else
                loaded.names.storeInto({nameBytes, nameLength}, node.name);
            const std::span<const std::uint8_t> fields(record + 2 + nameLength, kNodeFieldBytes);
            node.parentId = readU32(fields, 0);
            node.ownId = readU32(fields, 4);
            node.size = readU32(fields, 8);
            node.firstBlock = readU32(fields, 12);
            node.dateTime = readU32(fields, 16);
            node.deletedMarker = readU32(fields, 20);
            node.ordinal = i;  // a loaded node's ordinal is its position, not the stored one
            node.entrySector = readU32(fields, 28);
            node.mirrorSector = readU32(fields, 32);
            node.entrySlot = readU16(fields, 36);
            node.attributes = record[0] | addedAttributes;
            node.attributesHigh = record[1];
            parents.add(node.parentId);
            if (node.entrySector == 0)
                withoutEntry.push_back(listStart + i);
        }
        listStart += n;
        return SnapshotDamage::None;
    };
    if (const SnapshotDamage damage = readNodes(loaded.folders, folderParents, kFolderAttribute);
        damage != SnapshotDamage::None)
        return refuse(damage, SnapshotNodeList::Folders);
    if (const SnapshotDamage damage = readNodes(loaded.files, fileParents, 0); damage != SnapshotDamage::None)
        return refuse(damage, SnapshotNodeList::Files);

    if (!(bytes = in.take(kSuballocationRootCount * 4 + 4)))
        return refuse(SnapshotDamage::ShortSuballocationRoots);
    FieldReader roots(bytes, kSuballocationRootCount * 4 + 4);
    for (auto& root : loaded.suballocationRoots)
        root = roots.u32();
    const std::uint32_t fatBlocks = roots.u32();
    if (fatBlocks > in.remaining() / 8)
        return damaged(path, SnapshotDamage::ShortFatList);
    loaded.chosenFatList.nodes.reserve(fatBlocks);
    for (std::uint32_t i = 0; i < fatBlocks; ++i) {
        if (!(bytes = in.take(8)))
            return refuse(SnapshotDamage::ShortFatList);
        FieldReader entry(bytes, 8);
        const std::uint32_t block = entry.u32();
        const std::uint32_t sequence = entry.u32();
        appendBlock(loaded.chosenFatList, block, sequence);
    }
    loaded.chosenFatList.endedNormally = !loaded.chosenFatList.empty() && loaded.chosenFatList.nodes.back().block == kChainEnd;
    if (in.remaining() != 0)
        return damaged(path, SnapshotDamage::BytesAfterFatList);
    if (!guard.disks.empty()) {
        const SnapshotDiskMatch match =
            checkSnapshotSamples(snapshotSamples(loaded.folders, loaded.files, withoutEntry), guard.disks);
        if (match == SnapshotDiskMatch::OtherEntries || match == SnapshotDiskMatch::NoneReadable) {
            if (!(guard.loadAnyway && guard.loadAnyway(match))) {
                SnapshotResult result = outcome(SnapshotStatus::OtherDisk, path);
                result.diskMatch = match;
                return result;
            }
        }
    }

    volume.releaseMount();
    volume.volumeIndex = loaded.volumeIndex;
    volume.volumeName = std::move(loaded.volumeName);
    volume.firstFatBlock = loaded.firstFatBlock;
    volume.secondFatBlock = loaded.secondFatBlock;
    volume.firstDetBlock = loaded.firstDetBlock;
    volume.secondDetBlock = loaded.secondDetBlock;
    volume.sizeSectors = loaded.sizeSectors;
    volume.startSector = loaded.startSector;
    volume.blockCount = loaded.blockCount;
    volume.sectorsPerBlock = loaded.sectorsPerBlock;
    volume.chosenFatCopy = loaded.chosenFatCopy;
    volume.chosenDetCopy = loaded.chosenDetCopy;
    volume.layout = nullptr;  // a front end may adopt the layout of the matching table record
    volume.folders = std::move(loaded.folders);
    volume.files = std::move(loaded.files);
    volume.names = std::move(loaded.names);
    volume.suballocationRoots = loaded.suballocationRoots;
    volume.chosenFatList = std::move(loaded.chosenFatList);
    volume.rebuildIndexAndTree(folderParents, fileParents);
    if (diskNumber)
        *diskNumber = disk;
    return outcome(SnapshotStatus::Ok, path);
}

} // namespace tamsin
