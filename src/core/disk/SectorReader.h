#pragma once
// The only way the program reads a disk: runs of whole 512-byte sectors by
// absolute sector number. Native access retries a failed run sector by
// sector; helper access (mode F) hands each run to the helper library once.

#include "disk/Device.h"
#include "disk/DiskInfo.h"
#include "disk/Sector.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

namespace tamsin {

struct OpenError;
class RescueMap;

// Lets a stop or skip request end a read that retries a failing run sector
// by sector. While a scope lives, every read made on its thread (through any
// reader, whichever layout routes it) checks the flags before each sector of
// its retry pass; once one is set, the sectors not yet read are reported
// unreadable without touching the disk. Scopes nest; the inner one holds
// until it ends.
class ReadCancelScope {
public:
    explicit ReadCancelScope(std::initializer_list<const std::atomic<bool>*> flags);
    ~ReadCancelScope();
    ReadCancelScope(const ReadCancelScope&) = delete;
    ReadCancelScope& operator=(const ReadCancelScope&) = delete;

    // True when a flag of the scope living on this thread is set.
    static bool requested();

private:
    static constexpr std::size_t kMaxFlags = 3;
    const std::atomic<bool>* flags_[kMaxFlags] = {};
    const ReadCancelScope* outer_ = nullptr;
};

// Marks the reads made on its thread while it lives as tentative: a run the
// device does not deliver in one request is reported unreadable at once,
// without the sector-by-sector pass, and failed() turns true. For work done
// ahead of time that is thrown away when the disk is damaged there, so that
// the damaged place is read (and retried) once, by the work that keeps its
// result. Reads through a rescue map or a helper library are never retried
// and are not marked.
class TentativeReadScope {
public:
    TentativeReadScope();
    ~TentativeReadScope();
    TentativeReadScope(const TentativeReadScope&) = delete;
    TentativeReadScope& operator=(const TentativeReadScope&) = delete;

    bool failed() const { return failed_; }
    // Called where a read would start retrying: true (the failure noted)
    // when a scope lives on this thread.
    static bool noteFailure();

private:
    TentativeReadScope* outer_ = nullptr;
    bool failed_ = false;
};

class SectorReader {
public:
    static constexpr std::uint16_t kDefaultRetryCount = 3;

    explicit SectorReader(AccessMode mode = AccessMode::Native) : mode_(mode) {}

    AccessMode accessMode() const { return mode_; }

    // Run length the volume search uses by default for this access mode.
    std::uint32_t defaultSectorsPerAttempt() const { return mode_ == AccessMode::Helper ? 8 : 60; }

    // Opens the disk's path read-only (helper access: the helper disk on the
    // process's helper libraries) and makes it the open disk, closing any
    // earlier one. On failure no disk is open and error says why.
    bool openDisk(const DiskInfo& disk, OpenError* error = nullptr);

    // Makes an already opened device the open disk (tests, other sources).
    void attach(std::unique_ptr<Device> device) { device_ = std::move(device); }

    // Closes the disk and forgets its rescue map.
    void closeDisk()
    {
        device_.reset();
        map_.reset();
    }

    // Sectors the map does not mark finished are unreadable: reported (and
    // zeros where the caller asks for zeros) without reading or retrying
    // them. Null: every sector is read from the device.
    void setRescueMap(std::shared_ptr<const RescueMap> map) { map_ = std::move(map); }
    const RescueMap* rescueMap() const { return map_.get(); }
    bool isOpen() const { return device_ != nullptr; }
    Device* device() const { return device_.get(); }

    // Attempts per sector in the sector-by-sector pass; 0 skips that pass. A
    // device whose failures repeat (a container image) gets one attempt.
    void setRetryCount(std::uint16_t count) { retryCount_.store(count, std::memory_order_relaxed); }
    std::uint16_t retryCount() const { return retryCount_.load(std::memory_order_relaxed); }

    // Fills buffer with count sectors from firstSector. A sector that cannot
    // be read keeps what the buffer held before. Helper access knows of no
    // unreadable sectors but those past the disk's end and those of the map. Returns the number of
    // sectors of the run that were not delivered; when unreadable is given,
    // their indexes within the run are appended to it. A buffer shorter than
    // count sectors limits the run to what fits.
    std::uint32_t readSectors(std::uint64_t firstSector, std::uint32_t count, std::span<std::uint8_t> buffer,
                              std::vector<std::uint32_t>* unreadable = nullptr) const;

    // A hint that count sectors from firstSector will be read soon (native
    // access without a rescue map only: nothing the map keeps from the disk
    // is asked for). Reads nothing itself.
    void prefetch(std::uint64_t firstSector, std::uint32_t count) const
    {
        if (device_ && mode_ == AccessMode::Native && !map_)
            device_->prefetch(firstSector * kSectorSize, std::uint64_t{count} * kSectorSize);
    }

    // As readSectors, but a sector that cannot be read comes back as zeros,
    // for callers that must never decode stale bytes. Helper access zeros the
    // run before the library fills it.
    std::uint32_t readSectorsZeroFilled(std::uint64_t firstSector, std::uint32_t count, std::span<std::uint8_t> buffer,
                                        std::vector<std::uint32_t>* unreadable = nullptr) const;

private:
    // zeroUnread: sectors not delivered are zeros instead of what the buffer held.
    std::uint32_t readNative(std::uint64_t firstSector, std::uint32_t count, std::span<std::uint8_t> buffer,
                             std::vector<std::uint32_t>* unreadable, bool zeroUnread) const;
    // One call of the device for the part of the run on the disk, no retry.
    std::uint32_t readHelper(std::uint64_t firstSector, std::uint32_t count, std::span<std::uint8_t> buffer,
                             std::vector<std::uint32_t>* unreadable, bool zeroUnread) const;
    // readNative or readHelper, by access mode.
    std::uint32_t readDevice(std::uint64_t firstSector, std::uint32_t count, std::span<std::uint8_t> buffer,
                             std::vector<std::uint32_t>* unreadable, bool zeroUnread) const
    {
        return mode_ == AccessMode::Helper ? readHelper(firstSector, count, buffer, unreadable, zeroUnread)
                                           : readNative(firstSector, count, buffer, unreadable, zeroUnread);
    }
    // readDevice over the parts of the run the rescue map marks finished.
    std::uint32_t readMapped(std::uint64_t firstSector, std::uint32_t count, std::span<std::uint8_t> buffer,
                             std::vector<std::uint32_t>* unreadable, bool zeroUnread) const;

    AccessMode mode_;
    std::unique_ptr<Device> device_;
    std::shared_ptr<const RescueMap> map_;
    std::atomic<std::uint16_t> retryCount_{kDefaultRetryCount};
};

} // namespace tamsin
