#pragma once
// Seeded random bytes for the bytes of a volume that the on-disk format
// leaves undefined. A byte depends only on the seed, the place (a DET
// position, a FAT sector, a volume-table entry) and its offset there, so the
// two copies of a table get the same noise and differ only where a
// description makes them differ.

#include <cstdint>
#include <span>

namespace tamsin::imagebuilder {

class Noise {
public:
    // Domains keep places of different structures apart.
    enum class Domain : std::uint64_t { Directory = 1, Fat = 2, VolumeTable = 3 };

    explicit Noise(std::uint64_t seed) : seed_(seed) {}

    std::uint32_t word(Domain domain, std::uint64_t place, std::uint32_t offset) const
    {
        // splitmix64 over the inputs: well mixed, and the same on every run.
        std::uint64_t z = seed_ ^ (static_cast<std::uint64_t>(domain) << 60) ^ (place * 0x9E3779B97F4A7C15u)
            ^ (std::uint64_t{offset} << 32);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 16);
    }

    // Fills out[from, to) with noise.
    void fill(std::span<std::uint8_t> out, Domain domain, std::uint64_t place, std::size_t from, std::size_t to) const
    {
        for (std::size_t i = from; i < to && i < out.size(); ++i)
            out[i] = static_cast<std::uint8_t>(word(domain, place, static_cast<std::uint32_t>(i)));
    }

    // A random directory number that names no record of a volume (the top
    // bit set): a link or owner field full of noise never points at a
    // record by chance.
    std::uint32_t farNumber(Domain domain, std::uint64_t place, std::uint32_t offset) const
    {
        return word(domain, place, offset) | 0x80000000u;
    }

private:
    std::uint64_t seed_;
};

} // namespace tamsin::imagebuilder
