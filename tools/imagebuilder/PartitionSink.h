#pragma once
// Sink layers between the volume writer and the disk images: a partition's
// data area with its hot-fix redirection, the members of a mirror group, and
// a volume spread over segments. Each turns its own sector numbers into those
// of the sink below and knows nothing above it.

#include "imagebuilder/PartitionHeaders.h"
#include "imagebuilder/SectorSink.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace tamsin::imagebuilder::detail {

// Addresses are logical sectors of one partition's data area. Logical sector
// s goes to disk sector P + H + s, or, when its 4K block is redirected, to
// P + 8 * spare + s % 8; sectors whose bad bit is set in the spare are
// dropped (the spare holds garbage there).
class RedirectingSink final : public SectorSink {
public:
    RedirectingSink(SectorSink& disk, std::uint64_t partitionStart, std::uint32_t hotfixLength,
                    const std::map<std::uint32_t, Redirection>& redirects)
        : disk_(disk), partitionStart_(partitionStart), hotfixLength_(hotfixLength), redirects_(redirects)
    {
    }
    void writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes) override;
    void writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes) override;
    bool wantsData() const override { return disk_.wantsData(); }

    // The disk sector holding logical sector s; nothing for a bad sector of a spare.
    std::optional<std::uint64_t> diskSector(std::uint64_t logicalSector) const;

private:
    SectorSink& disk_;
    std::uint64_t partitionStart_;
    std::uint32_t hotfixLength_;
    const std::map<std::uint32_t, Redirection>& redirects_;
};

// Every write goes to each member (the members of a mirror group, each with
// its own redirection).
class MirrorSink final : public SectorSink {
public:
    explicit MirrorSink(std::vector<SectorSink*> members) : members_(std::move(members)) {}
    void writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes) override;
    void writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes) override;
    bool wantsData() const override;

private:
    std::vector<SectorSink*> members_;
};

// Sector a goes to sector a - base below: a volume writer addressing home
// disk sectors writes into a partition's logical sectors.
class OffsetSink final : public SectorSink {
public:
    OffsetSink(SectorSink& inner, std::uint64_t base) : inner_(inner), base_(base) {}
    void writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes) override;
    void writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes) override;
    bool wantsData() const override { return inner_.wantsData(); }

private:
    SectorSink& inner_;
    std::uint64_t base_;
};

// One segment of a volume: volume sectors [firstSector, firstSector + sectors)
// go to logical sectors root.. of `sink`.
struct SegmentTarget {
    std::uint64_t firstSector = 0;
    std::uint64_t sectors = 0;
    SectorSink* sink = nullptr;
    std::uint64_t root = 0;
};

// Addresses are volume sectors; segments are given in volume order and
// cover the volume without overlap. Sectors outside every segment are dropped.
class SegmentSink final : public SectorSink {
public:
    explicit SegmentSink(std::vector<SegmentTarget> segments) : segments_(std::move(segments)) {}
    void writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes) override;
    void writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes) override;
    bool wantsData() const override;

private:
    // The segment holding volume sector v, or nullptr.
    const SegmentTarget* find(std::uint64_t sector) const;
    std::vector<SegmentTarget> segments_;
};

} // namespace tamsin::imagebuilder::detail
