#include "snapshot/Snapshot.h"

#include "common/LittleEndian.h"
#include "disk/FileDevice.h"
#include "mount/MountedVolume.h"
#include "snapshot/SnapshotDiskCheck.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tamsin {
namespace {

constexpr std::size_t kNodeFixedBytes = 44;  // a node record without its name
constexpr std::uint32_t kMinRecordLength = 40;
constexpr std::uint32_t kMaxRecordLength = 40 + 255;

// Appends little-endian fields to a byte buffer.
class ByteWriter {
public:
    void u8(std::uint8_t v) { bytes.push_back(v); }
    void u16(std::uint16_t v) { put(v, 2); }
    void u32(std::uint32_t v) { put(v, 4); }
    void u64(std::uint64_t v) { put(v, 8); }
    void text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
    std::vector<std::uint8_t> bytes;

private:
    void put(std::uint64_t v, int size)
    {
        for (int i = 0; i < size; ++i)
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
};

// Reads little-endian fields, refusing to pass the end of the bytes.
class ByteReader {
public:
    explicit ByteReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    bool has(std::size_t n) const { return n <= bytes_.size() - at_; }
    std::size_t remaining() const { return bytes_.size() - at_; }
    std::uint8_t u8() { return bytes_[at_++]; }
    std::uint16_t u16() { return take<std::uint16_t>(2, readU16(bytes_, at_)); }
    std::uint32_t u32() { return take<std::uint32_t>(4, readU32(bytes_, at_)); }
    std::uint64_t u64() { return take<std::uint64_t>(8, readU64(bytes_, at_)); }
    std::string text(std::size_t n)
    {
        std::string s(reinterpret_cast<const char*>(bytes_.data() + at_), n);
        at_ += n;
        return s;
    }

private:
    template <typename T>
    T take(std::size_t n, T value)
    {
        at_ += n;
        return value;
    }
    const std::vector<std::uint8_t>& bytes_;
    std::size_t at_ = 0;
};

void writeNode(ByteWriter& out, const TreeNode& node)
{
    out.u32(static_cast<std::uint32_t>(node.name.size() + kMinRecordLength));
    out.u8(node.attributes);
    out.u8(node.attributesHigh);
    out.text(node.name);
    out.u32(node.parentId);
    out.u32(node.ownId);
    out.u32(node.size);
    out.u32(node.firstBlock);
    out.u32(node.dateTime);
    out.u32(node.deletedMarker);
    out.u32(node.ordinal);
    out.u32(node.entrySector);
    out.u32(node.mirrorSector);
    out.u16(node.entrySlot);
}

SnapshotResult failure(SnapshotStatus status, std::string message, const std::string& path)
{
    return {status, std::move(message), path};
}

SnapshotResult damaged(const std::string& path, const std::string& why)
{
    return failure(SnapshotStatus::Damaged, "The snapshot file is damaged (" + why + "): " + path, path);
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

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string snapshotPath(const std::string& chosen)
{
    const std::size_t slash = chosen.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string path = chosen;
    std::transform(path.begin() + static_cast<long>(nameStart), path.end(), path.begin() + static_cast<long>(nameStart),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string extension = kSnapshotExtension;
    if (path.size() < extension.size() || path.compare(path.size() - extension.size(), extension.size(), extension) != 0)
        path += extension;
    return path;
}

SnapshotResult saveSnapshot(const MountedVolume& volume, std::uint16_t diskNumber, const std::string& path)
{
    ByteWriter out;
    out.text(kSnapshotMagic);
    out.text(kSnapshotVersion);
    out.u16(diskNumber);
    out.u16(volume.volumeIndex);
    out.u32(static_cast<std::uint32_t>(volume.volumeName.size()));
    out.text(volume.volumeName);
    out.u32(volume.firstFatBlock);
    out.u32(volume.secondFatBlock);
    out.u32(volume.firstDetBlock);
    out.u32(volume.secondDetBlock);
    out.u64(volume.sizeSectors);
    out.u64(volume.startSector);
    out.u32(volume.blockCount);
    out.u32(volume.sectorsPerBlock);
    out.u16(volume.chosenFatCopy);
    out.u16(volume.chosenDetCopy);
    out.u32(volume.folderCount());
    for (const auto& node : volume.folders)
        writeNode(out, node);
    out.u32(volume.fileCount());
    for (const auto& node : volume.files)
        writeNode(out, node);
    for (std::uint32_t root : volume.suballocationRoots)
        out.u32(root);
    out.u32(volume.chosenFatList.length());
    for (const auto& node : volume.chosenFatList.nodes) {
        out.u32(node.block);
        out.u32(node.sequence);
    }

    // A temporary file beside the target, renamed over it once complete, so a
    // failed save never destroys an existing snapshot.
    std::string temporary = path + ".XXXXXX";
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) {
        SnapshotResult result = failure(SnapshotStatus::CannotOpen, kUnableToOpenMessage, path);
        result.error = errno;
        return result;
    }
    auto discard = [&](int error) {
        ::unlink(temporary.c_str());
        return failure(SnapshotStatus::WriteFailed,
                       "Unable to write the snapshot " + path + ": " + std::strerror(error), path);
    };
    std::size_t at = 0;
    while (at < out.bytes.size()) {
        const ssize_t n = ::write(fd.get(), out.bytes.data() + at, out.bytes.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return discard(n < 0 ? errno : EIO);
        at += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd.get(), 0644) != 0 || ::fsync(fd.get()) != 0)
        return discard(errno);
    if (::close(fd.release()) != 0)
        return discard(errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        return discard(errno);
    return {SnapshotStatus::Ok, {}, path};
}

SnapshotResult loadSnapshot(MountedVolume& volume, const std::string& path, std::uint16_t* diskNumber,
                            const SnapshotDiskGuard& guard)
{
    std::vector<std::uint8_t> bytes;
    if (!readWholeFile(path, bytes))
        return failure(SnapshotStatus::CannotOpen, kUnableToOpenMessage, path);
    ByteReader in(bytes);

    const std::string magic = in.text(std::min<std::size_t>(7, in.remaining()));
    if (!sameTextIgnoringCase(magic, kSnapshotMagic))
        return failure(SnapshotStatus::WrongMagic, kInvalidMagicPrefix + magic.substr(0, magic.find('\0')), path);
    const std::string version = in.text(std::min<std::size_t>(3, in.remaining()));
    if (!sameTextIgnoringCase(version, kSnapshotVersion))
        return failure(SnapshotStatus::WrongVersion, kVersionMismatchMessage, path);

    // Everything is read into a fresh volume; the caller's is replaced only
    // when the whole file has passed.
    MountedVolume loaded;
    if (!in.has(8))
        return damaged(path, "the header is cut short");
    const std::uint16_t disk = in.u16();
    loaded.volumeIndex = in.u16();
    const std::uint32_t nameLength = in.u32();
    if (!in.has(std::size_t{nameLength} + 52))
        return damaged(path, "the header is cut short");
    loaded.volumeName = in.text(nameLength);
    loaded.firstFatBlock = in.u32();
    loaded.secondFatBlock = in.u32();
    loaded.firstDetBlock = in.u32();
    loaded.secondDetBlock = in.u32();
    loaded.sizeSectors = in.u64();
    loaded.startSector = in.u64();
    loaded.blockCount = in.u32();
    loaded.sectorsPerBlock = in.u32();
    loaded.chosenFatCopy = in.u16();
    loaded.chosenDetCopy = in.u16();
    if (!usableSectorsPerBlock(loaded.sectorsPerBlock))
        return damaged(path, "the volume's block size is impossible");

    auto readNodes = [&](std::vector<TreeNode>& nodes, const char* what) -> std::string {
        if (!in.has(4))
            return std::string("the ") + what + " count is missing";
        const std::uint32_t count = in.u32();
        if (count > in.remaining() / kNodeFixedBytes)
            return std::string("more ") + what + " than the file can hold";
        nodes.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!in.has(4))
                return std::string("a ") + what + " record is cut short";
            const std::uint32_t length = in.u32();
            if (length < kMinRecordLength || length > kMaxRecordLength)
                return std::string("a ") + what + " record has an impossible length";
            if (!in.has(length))
                return std::string("a ") + what + " record is cut short";
            TreeNode node;
            node.attributes = in.u8();
            node.attributesHigh = in.u8();
            node.name = in.text(length - kMinRecordLength);
            // A name a decoded entry can never have: as a folder it would be
            // the destination folder itself once recovered.
            if (node.name.empty() || node.name.find('\0') != std::string::npos)
                return std::string("a ") + what + " record has an empty name or one holding a NUL byte";
            node.parentId = in.u32();
            node.ownId = in.u32();
            node.size = in.u32();
            node.firstBlock = in.u32();
            node.dateTime = in.u32();
            node.deletedMarker = in.u32();
            in.u32();  // the stored ordinal; a loaded node's ordinal is its position
            node.ordinal = i;
            node.entrySector = in.u32();
            node.mirrorSector = in.u32();
            node.entrySlot = in.u16();
            nodes.push_back(std::move(node));
        }
        return {};
    };
    if (std::string why = readNodes(loaded.folders, "folder"); !why.empty())
        return damaged(path, why);
    if (std::string why = readNodes(loaded.files, "file"); !why.empty())
        return damaged(path, why);

    if (!in.has(kSuballocationRootCount * 4 + 4))
        return damaged(path, "the suballocation roots are cut short");
    for (auto& root : loaded.suballocationRoots)
        root = in.u32();
    const std::uint32_t fatBlocks = in.u32();
    if (fatBlocks > in.remaining() / 8)
        return damaged(path, "the FAT block list is cut short");
    for (std::uint32_t i = 0; i < fatBlocks; ++i) {
        const std::uint32_t block = in.u32();
        const std::uint32_t sequence = in.u32();
        appendBlock(loaded.chosenFatList, block, sequence);
    }
    loaded.chosenFatList.endedNormally = !loaded.chosenFatList.empty() && loaded.chosenFatList.nodes.back().block == kChainEnd;
    if (in.remaining() != 0)
        return damaged(path, "unexpected bytes after the FAT block list");
    if (!guard.disks.empty() && checkSnapshotDisk(loaded.folders, loaded.files, guard.disks) == SnapshotDiskMatch::Mismatch
        && !(guard.loadAnyway && guard.loadAnyway()))
        return failure(SnapshotStatus::OtherDisk, kSnapshotOtherDiskQuestion, path);

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
    // Older snapshots hold placeholder folders without the folder bit.
    for (TreeNode& folder : loaded.folders)
        folder.attributes |= kFolderAttribute;
    volume.folders = std::move(loaded.folders);
    volume.files = std::move(loaded.files);
    volume.suballocationRoots = loaded.suballocationRoots;
    volume.chosenFatList = std::move(loaded.chosenFatList);
    volume.rebuildIndexAndTree();
    if (diskNumber)
        *diskNumber = disk;
    return {SnapshotStatus::Ok, {}, path};
}

} // namespace tamsin
