#include "imagebuilder/SectorSink.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <unistd.h>

namespace tamsin::imagebuilder::detail {

namespace {

constexpr std::size_t kGatherBytes = std::size_t{1} << 20;

bool isZero(std::span<const std::uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0; });
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t offset)
{
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
    return true;
}

} // namespace

void MapSink::writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes)
{
    for (std::size_t done = 0; done < bytes.size(); done += kSectorBytes, ++sector) {
        const auto chunk = bytes.subspan(done, kSectorBytes);
        auto found = sectors_.find(sector);
        // Zero sectors need no entry unless they clear an earlier one.
        if (found == sectors_.end()) {
            if (isZero(chunk))
                continue;
            found = sectors_.emplace(sector, SectorBytes{}).first;
        }
        std::copy(chunk.begin(), chunk.end(), found->second.begin());
    }
}

void MapSink::writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t within = byteOffset % kSectorBytes;
        const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, kSectorBytes - within);
        SectorBytes& sector = sectors_[byteOffset / kSectorBytes];
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(done), chunk, sector.begin() + within);
        done += chunk;
        byteOffset += chunk;
    }
}

void FileSink::writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes)
{
    for (std::size_t done = 0; done < bytes.size(); done += kSectorBytes, ++sector) {
        const auto chunk = bytes.subspan(done, kSectorBytes);
        if (isZero(chunk) && !mayHoldData(sector, 1)) {
            flush();
            continue;
        }
        append(sector, chunk);
    }
}

void FileSink::writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes)
{
    flush();
    if (bytes.empty())
        return;
    if (!writeAll(fd_, bytes.data(), bytes.size(), byteOffset) && !failed_) {
        failed_ = true;
        error_ = errno;
    }
    remember(byteOffset / kSectorBytes, (byteOffset + bytes.size() + kSectorBytes - 1) / kSectorBytes);
}

bool FileSink::finish()
{
    flush();
    if (failed_)
        errno = error_;
    return !failed_;
}

void FileSink::append(std::uint64_t sector, std::span<const std::uint8_t> sectorBytes)
{
    const bool follows = sector == pendingStart_ + pending_.size() / kSectorBytes;
    if (!pending_.empty() && (!follows || pending_.size() >= kGatherBytes))
        flush();
    if (pending_.empty())
        pendingStart_ = sector;
    pending_.insert(pending_.end(), sectorBytes.begin(), sectorBytes.end());
}

void FileSink::flush()
{
    if (pending_.empty())
        return;
    if (!writeAll(fd_, pending_.data(), pending_.size(), pendingStart_ * kSectorBytes) && !failed_) {
        failed_ = true;
        error_ = errno;
    }
    remember(pendingStart_, pendingStart_ + pending_.size() / kSectorBytes);
    pending_.clear();
}

bool FileSink::mayHoldData(std::uint64_t sector, std::uint64_t count) const
{
    if (!pending_.empty() && sector < pendingStart_ + pending_.size() / kSectorBytes && sector + count > pendingStart_)
        return true;
    auto after = written_.upper_bound(sector);
    if (after != written_.end() && after->first < sector + count)
        return true;
    return after != written_.begin() && std::prev(after)->second > sector;
}

void FileSink::remember(std::uint64_t firstSector, std::uint64_t endSector)
{
    // Merge with every range that touches [firstSector, endSector).
    auto it = written_.upper_bound(firstSector);
    if (it != written_.begin() && std::prev(it)->second >= firstSector) {
        --it;
        firstSector = it->first;
    }
    while (it != written_.end() && it->first <= endSector) {
        endSector = std::max(endSector, it->second);
        it = written_.erase(it);
    }
    written_.emplace(firstSector, endSector);
}

} // namespace tamsin::imagebuilder::detail
