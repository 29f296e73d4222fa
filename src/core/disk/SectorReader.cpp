#include "disk/SectorReader.h"

#include "disk/DiskInfo.h"
#include "disk/DiskDevice.h"
#include "disk/HelperDisk.h"
#include "disk/HelperLibraries.h"
#include "disk/RescueMap.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tamsin {
namespace {

thread_local const ReadCancelScope* currentCancel = nullptr;
thread_local TentativeReadScope* currentTentative = nullptr;

} // namespace

ReadCancelScope::ReadCancelScope(std::initializer_list<const std::atomic<bool>*> flags) : outer_(currentCancel)
{
    std::size_t n = 0;
    for (const std::atomic<bool>* flag : flags)
        if (flag && n < kMaxFlags)
            flags_[n++] = flag;
    currentCancel = this;
}

ReadCancelScope::~ReadCancelScope()
{
    currentCancel = outer_;
}

bool ReadCancelScope::requested()
{
    // Scopes nest (a damage scan's stop around a file copy's skip): any
    // flag of any scope on this thread counts.
    for (const ReadCancelScope* scope = currentCancel; scope; scope = scope->outer_)
        for (const std::atomic<bool>* flag : scope->flags_)
            if (flag && flag->load(std::memory_order_relaxed))
                return true;
    return false;
}

TentativeReadScope::TentativeReadScope() : outer_(currentTentative)
{
    currentTentative = this;
}

TentativeReadScope::~TentativeReadScope()
{
    currentTentative = outer_;
}

bool TentativeReadScope::noteFailure()
{
    if (!currentTentative)
        return false;
    currentTentative->failed_ = true;
    return true;
}

bool SectorReader::openDisk(const DiskInfo& disk, OpenError* error)
{
    device_.reset();
    map_.reset();
    if (mode_ == AccessMode::Helper)
        device_ = HelperDevice::open(HelperLibraries::process(), disk, error);
    else
        device_ = openDiskDevice(disk.path, error);
    return device_ != nullptr;
}

std::uint32_t SectorReader::readSectors(std::uint64_t firstSector, std::uint32_t count, std::span<std::uint8_t> buffer,
                                        std::vector<std::uint32_t>* unreadable) const
{
    count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, buffer.size() / kSectorSize));
    return readMapped(firstSector, count, buffer, unreadable, false);
}

std::uint32_t SectorReader::readSectorsZeroFilled(std::uint64_t firstSector, std::uint32_t count,
                                                 std::span<std::uint8_t> buffer,
                                                 std::vector<std::uint32_t>* unreadable) const
{
    count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, buffer.size() / kSectorSize));
    return readMapped(firstSector, count, buffer, unreadable, true);
}

std::uint32_t SectorReader::readMapped(std::uint64_t firstSector, std::uint32_t count, std::span<std::uint8_t> buffer,
                                       std::vector<std::uint32_t>* unreadable, bool zeroUnread) const
{
    if (!map_ || !device_)
        return readDevice(firstSector, count, buffer, unreadable, zeroUnread);
    std::uint32_t failed = 0;
    std::vector<std::uint32_t> pieceUnreadable;
    for (std::uint32_t at = 0; at < count;) {
        bool bad = false;
        const auto run = static_cast<std::uint32_t>(map_->uniformRun(firstSector + at, count - at, bad));
        auto piece = buffer.subspan(std::size_t{at} * kSectorSize, std::size_t{run} * kSectorSize);
        if (bad) {
            if (zeroUnread)
                std::fill(piece.begin(), piece.end(), std::uint8_t{0});
            if (unreadable)
                for (std::uint32_t i = 0; i < run; ++i)
                    unreadable->push_back(at + i);
            failed += run;
        } else {
            pieceUnreadable.clear();
            failed += readDevice(firstSector + at, run, piece, unreadable ? &pieceUnreadable : nullptr, zeroUnread);
            for (std::uint32_t i : pieceUnreadable)
                unreadable->push_back(at + i);
        }
        at += run;
    }
    return failed;
}

std::uint32_t SectorReader::readHelper(std::uint64_t firstSector, std::uint32_t count, std::span<std::uint8_t> buffer,
                                       std::vector<std::uint32_t>* unreadable, bool zeroUnread) const
{
    // The library gives no status: what it leaves unwritten must not be
    // taken for disk contents where the caller asked for zeros.
    if (zeroUnread)
        std::fill(buffer.begin(), buffer.begin() + std::size_t{count} * kSectorSize, std::uint8_t{0});
    const std::uint64_t diskSectors = device_ ? device_->sizeBytes() / kSectorSize : 0;
    const auto onDisk = static_cast<std::uint32_t>(
        firstSector >= diskSectors ? 0 : std::min<std::uint64_t>(count, diskSectors - firstSector));
    std::uint32_t delivered = 0;
    if (onDisk > 0) {
        const DeviceRead read = device_->readAt(firstSector * kSectorSize, buffer.first(std::size_t{onDisk} * kSectorSize));
        delivered = read.ok ? onDisk : 0;
    }
    if (unreadable)
        for (std::uint32_t i = delivered; i < count; ++i)
            unreadable->push_back(i);
    return count - delivered;
}

std::uint32_t SectorReader::readNative(std::uint64_t firstSector, std::uint32_t count, std::span<std::uint8_t> buffer,
                                       std::vector<std::uint32_t>* unreadable, bool zeroUnread) const
{
    // Reports sectors from..to-1 as not delivered; with zeroUnread their
    // bytes from keepBytes on (bytes of a last, partial sector that exist
    // are kept) become zeros.
    auto reportRange = [&](std::uint32_t from, std::uint32_t to, std::size_t keepBytes = 0) {
        if (unreadable)
            for (std::uint32_t i = from; i < to; ++i)
                unreadable->push_back(i);
        if (zeroUnread)
            std::fill(buffer.begin() + std::size_t{from} * kSectorSize + keepBytes,
                      buffer.begin() + std::size_t{to} * kSectorSize, std::uint8_t{0});
        return to - from;
    };

    if (!device_)
        return reportRange(0, count);
    if (count == 0)
        return 0;
    // A run whose byte offset does not fit the device's offsets cannot be read.
    if (firstSector > (std::numeric_limits<std::uint64_t>::max() >> 10) / kSectorSize)
        return reportRange(0, count);

    // Bulk read: one positioned request for the whole run. What it delivers
    // is kept; sectors past the end of the device are simply not delivered.
    // Unless unread sectors are to be zeros anyway, the bytes go through a
    // scratch buffer so that a failed bulk read leaves the caller's as it was.
    const std::size_t runBytes = std::size_t{count} * kSectorSize;
    std::span<std::uint8_t> target = buffer.first(runBytes);
    thread_local std::vector<std::uint8_t> scratchStore;
    if (!zeroUnread) {
        if (scratchStore.size() < runBytes)
            scratchStore.resize(runBytes);
        target = std::span<std::uint8_t>(scratchStore.data(), runBytes);
    }
    DeviceRead bulk = device_->readAt(firstSector * kSectorSize, target);
    if (bulk.ok) {
        const std::uint32_t whole = static_cast<std::uint32_t>(bulk.bytes / kSectorSize);
        if (!zeroUnread)
            std::memcpy(buffer.data(), target.data(), bulk.bytes);
        return reportRange(whole, count, bulk.bytes % kSectorSize);
    }

    if (TentativeReadScope::noteFailure())
        return reportRange(0, count);
    // Slow path: every sector of the run again, each with up to retryCount
    // attempts; one where the device fails the same way every time.
    const std::uint16_t attempts =
        device_->failuresRepeat() ? std::min<std::uint16_t>(retryCount(), 1) : retryCount();
    std::uint32_t failed = 0;
    std::uint8_t sector[kSectorSize];
    for (std::uint32_t i = 0; i < count; ++i) {
        if (ReadCancelScope::requested())
            return failed + reportRange(i, count);
        bool delivered = false;
        std::size_t got = 0;
        for (std::uint16_t attempt = 0; attempt < attempts && !delivered; ++attempt) {
            if (attempt > 0 && ReadCancelScope::requested())
                break;
            DeviceRead one = device_->readAt((firstSector + i) * kSectorSize, sector);
            if (!one.ok)
                continue;
            got = one.bytes;
            std::memcpy(buffer.data() + std::size_t{i} * kSectorSize, sector, one.bytes);
            delivered = one.bytes == kSectorSize;
            if (!delivered)
                break;  // the device ends inside or before this sector; retrying will not change that
        }
        if (!delivered)
            failed += reportRange(i, i + 1, got);
    }
    return failed;
}

} // namespace tamsin
