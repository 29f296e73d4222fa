#pragma once
// A rescue map (the mapfile a ddrescue run keeps): which parts of an image
// were read from the failing disk and which were not. Sectors of an image
// that the map does not mark finished hold no data from the disk; the sector
// reader treats them as unreadable without touching the image.

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tamsin {

class RescueMap {
public:
    // Parses a mapfile for an image of imageBytes bytes. Fails, with error
    // naming the line, when a line does not parse, blocks overlap or run
    // backwards, or a finished block reaches past the image. Unfinished
    // blocks past the image (a rescue still under way) are unreadable.
    static std::optional<RescueMap> parse(std::istream& in, std::uint64_t imageBytes, std::string& error);
    // The same for a file; error also covers a file that cannot be opened.
    static std::optional<RescueMap> load(const std::string& path, std::uint64_t imageBytes, std::string& error);

    // A sector any byte of which is not marked finished, or which no block covers.
    bool unreadable(std::uint64_t sector) const;
    // How many sectors from first (at most count) share first's status;
    // bad tells which status that is.
    std::uint64_t uniformRun(std::uint64_t first, std::uint64_t count, bool& bad) const;
    std::uint64_t unreadableSectors() const;
    // Unreadable sector ranges [first, end), sorted and disjoint.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& unreadableRanges() const { return bad_; }
    // The bytes the map describes: the image's, or more where its blocks go on past it.
    std::uint64_t domainBytes() const { return domainBytes_; }

private:
    std::vector<std::pair<std::uint64_t, std::uint64_t>> bad_;
    std::uint64_t domainBytes_ = 0;
};

// Whether the file reads as a rescue map: text whose first line that is not
// a comment is a status line ("0x00000000  +  1"). Tells maps from images
// among files the user hands over together.
bool looksLikeRescueMap(const std::string& path);

// The map beside an image: IMAGE.map, else IMAGE.mapfile; empty when neither exists.
std::string mapBesideImage(const std::string& imagePath);

class SectorReader;

// Gives the open disk of reader the map at mapPath or, when mapPath is empty
// and lookBeside is set, the map beside the disk when it is an image file.
// usedPath names the map taken or tried ("" when none). False, with error,
// when that map cannot be used; the disk then has no map. A reader in helper
// access mode takes no map: a given mapPath is refused.
bool useRescueMap(SectorReader& reader, const std::string& mapPath, bool lookBeside, std::string& usedPath,
                  std::string& error);

} // namespace tamsin
