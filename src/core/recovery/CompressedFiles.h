#pragma once
// What can be said about the compressed files of a volume without knowing
// their stream format: each file's stored header and whether it passes the
// check that extraction applies.

#include <cstdint>
#include <vector>

namespace tamsin {

class MountedVolume;
class SectorReader;

struct CompressedFileInfo {
    std::uint32_t position = 0;  // in the files list
    std::uint32_t size = 0;      // the entry's size
    std::uint32_t checkSize = 0;
    std::uint32_t storedLength = 0;
    bool headerReadable = false;  // the first data sector could be located and read
    bool headerMatches() const { return headerReadable && checkSize == size; }
};

// Every compressed file of the volume, in list order.
std::vector<CompressedFileInfo> compressedFiles(const MountedVolume& volume, const SectorReader& reader);

} // namespace tamsin
