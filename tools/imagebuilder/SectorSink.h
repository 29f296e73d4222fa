#pragma once
// Where rendered bytes go: a sector map (renderImage), a sparse image file
// (writeImage) or nowhere (planImage). Writes land in call order, later ones
// over earlier ones.

#include "imagebuilder/ImageBuilder.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace tamsin::imagebuilder::detail {

class SectorSink {
public:
    virtual ~SectorSink() = default;
    // Whole sectors from `sector` on; bytes.size() is a multiple of 512.
    virtual void writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes) = 0;
    // Bytes at any byte position; the bytes around them keep their contents.
    virtual void writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes) = 0;
    // False when only the structure matters: file data need not be rendered.
    virtual bool wantsData() const { return true; }
};

class NullSink final : public SectorSink {
public:
    void writeSectors(std::uint64_t, std::span<const std::uint8_t>) override {}
    void writeBytes(std::uint64_t, std::span<const std::uint8_t>) override {}
    bool wantsData() const override { return false; }
};

class MapSink final : public SectorSink {
public:
    explicit MapSink(std::map<std::uint64_t, SectorBytes>& sectors) : sectors_(sectors) {}
    void writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes) override;
    void writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes) override;

private:
    std::map<std::uint64_t, SectorBytes>& sectors_;
};

// Writes into a file that starts out all zero. Whole zero sectors are
// skipped, so the file stays sparse, unless something was written there
// before; consecutive sectors are gathered into large writes.
class FileSink final : public SectorSink {
public:
    explicit FileSink(int fd) : fd_(fd) {}
    void writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes) override;
    void writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes) override;
    // Writes what is gathered; false when any write failed (errno tells why).
    bool finish();

private:
    void append(std::uint64_t sector, std::span<const std::uint8_t> sectorBytes);
    void flush();
    bool mayHoldData(std::uint64_t sector, std::uint64_t count) const;
    void remember(std::uint64_t firstSector, std::uint64_t endSector);

    int fd_;
    bool failed_ = false;
    int error_ = 0;
    std::vector<std::uint8_t> pending_;
    std::uint64_t pendingStart_ = 0;
    // Sector ranges [first, end) written so far, merged: a zero sector there
    // must still be written to clear what is there.
    std::map<std::uint64_t, std::uint64_t> written_;
};

} // namespace tamsin::imagebuilder::detail
