#pragma once
// The first bytes of a file as a recovery would write them, for a quick look
// without copying the file out.

#include "recovery/Extraction.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamsin {

class MountedVolume;
class SectorReader;
struct TreeNode;

inline constexpr std::size_t kPreviewBytes = 64 * 1024;

struct FileStart {
    std::vector<std::uint8_t> bytes;  // at most the limit; unreadable sectors as zeros
    bool compressed = false;          // a compressed file's stored stream is not its data: nothing is read
    ExtractResult result;             // how the read ended (short chain, unreadable sectors, ...)
};

// Reads at most limit bytes from the start of file. Does not touch the run
// flags of a recovery; reads on the calling thread.
FileStart readFileStart(const MountedVolume& volume, const SectorReader& reader, const TreeNode& file,
                        std::size_t limit = kPreviewBytes);

} // namespace tamsin
