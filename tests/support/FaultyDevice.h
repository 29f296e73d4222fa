#pragma once
// Test devices: an in-memory disk, and a wrapper that fails chosen sectors
// and counts the attempts made on each.

#include "disk/Device.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace tamsin::test {

class MemoryDevice final : public Device {
public:
    explicit MemoryDevice(std::vector<std::uint8_t> bytes, std::string path = "memory") :
        bytes_(std::move(bytes)), path_(std::move(path)) {}
    // A disk of sectorCount sectors whose every byte of sector s is s & 0xFF.
    static std::unique_ptr<MemoryDevice> patterned(std::uint64_t sectorCount);

    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override;
    std::uint64_t sizeBytes() const override { return bytes_.size(); }
    const std::string& path() const override { return path_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::string path_;
};

// Fails every read that touches a bad sector (as a disk would fail the whole
// request), and lets a sector succeed after a number of failed attempts.
// Reads may come from several threads at once, as a recovery run makes them.
class FaultyDevice final : public Device {
public:
    explicit FaultyDevice(std::unique_ptr<Device> inner) : inner_(std::move(inner)) {}

    // The sector fails its first failures reads; forever by default.
    void markBad(std::uint64_t sector, unsigned failures = ~0u)
    {
        std::lock_guard lock(mutex_);
        bad_[sector] = failures;
    }

    // Every sector from first on, count of them, fails forever.
    void markBadRange(std::uint64_t first, std::uint64_t count)
    {
        for (std::uint64_t s = first; s < first + count; ++s)
            markBad(s);
    }
    // Called before each read with its first sector and its length in
    // sectors; the hooks are called one at a time.
    void onRead(std::function<void(std::uint64_t, std::uint64_t)> hook) { onRead_ = std::move(hook); }
    // Called for each prefetch hint, likewise; the hint then goes to the inner device.
    void onPrefetch(std::function<void(std::uint64_t, std::uint64_t)> hook) { onPrefetch_ = std::move(hook); }

    // Reads that covered the sector, bulk reads included.
    unsigned attempts(std::uint64_t sector) const;
    unsigned totalReads() const;

    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override;
    void prefetch(std::uint64_t byteOffset, std::uint64_t bytes) override;
    std::uint64_t sizeBytes() const override { return inner_->sizeBytes(); }
    const std::string& path() const override { return inner_->path(); }

private:
    std::unique_ptr<Device> inner_;
    mutable std::mutex mutex_;  // guards the maps and the count
    std::mutex hookMutex_;      // one hook call at a time
    std::map<std::uint64_t, unsigned> bad_;
    std::map<std::uint64_t, unsigned> attempts_;
    unsigned totalReads_ = 0;
    std::function<void(std::uint64_t, std::uint64_t)> onRead_;
    std::function<void(std::uint64_t, std::uint64_t)> onPrefetch_;
};

} // namespace tamsin::test
