#pragma once
// The image files of TAMSIN_HELPER_DISKS (colon-separated paths) presented as
// BIOS hard disks 0x80, 0x81, ... with 16 heads and 63 sectors per track.
// Each helper library parses the variable itself, once, on first use; the
// files stay open read-only for the life of the process.

#include <cstdint>
#include <cstddef>

namespace tamsin::helper {

inline constexpr std::uint32_t kHeads = 16;
inline constexpr std::uint32_t kSectorsPerTrack = 63;
inline constexpr std::uint32_t kFirstDisk = 0x80;

// Number of paths listed (an image that cannot be opened counts, with size 0).
std::size_t imageCount();

// Cylinders of image index, rounded up so that its last partial cylinder is
// reachable; 0 for an image that could not be opened or an unknown index.
std::uint32_t imageCylinders(std::size_t index);

// Reads count sectors at lba of image index into buffer. Whatever the image
// cannot supply (past its end, read errors) comes back as zeros.
void readImage(std::size_t index, std::uint32_t lba, std::uint32_t count, void* buffer);

} // namespace tamsin::helper
