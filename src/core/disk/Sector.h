#pragma once

#include <cstdint>

namespace tamsin {

// Sectors are 512 bytes everywhere, whatever a device reports.
inline constexpr std::uint32_t kSectorSize = 512;

} // namespace tamsin
