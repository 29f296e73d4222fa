#pragma once
// Byte offsets of the 128-byte directory entry fields the decoders read, and
// the name-space codes of byte 10.

#include <cstddef>
#include <cstdint>

namespace tamsin::direntry {

inline constexpr std::size_t kParentId = 0;
inline constexpr std::size_t kAttributes = 4;
inline constexpr std::size_t kAttributesHigh = 7;
inline constexpr std::size_t kRecordNumber = 9;       // suballocation records
inline constexpr std::size_t kNameSpace = 10;
inline constexpr std::size_t kNameLength = 11;
inline constexpr std::size_t kName = 12;
inline constexpr std::size_t kSuballocationRoots = 16;  // suballocation records: 28 u32 roots
inline constexpr std::size_t kDateTime = 24;
inline constexpr std::size_t kModifiedDateTime = 40;
inline constexpr std::size_t kSize = 48;
inline constexpr std::size_t kFirstBlock = 52;
inline constexpr std::size_t kDeletedMarker = 108;
inline constexpr std::size_t kOwnId = 120;            // also the DOS record a name-space record belongs to
inline constexpr std::size_t kNameList = 124;         // the next name-space record of the same file

// Parent ids that mark special records instead of naming a folder.
inline constexpr std::uint32_t kFreeParent = 0xFFFFFFFF;
inline constexpr std::uint32_t kTrusteeParent = 0xFFFFFFFE;
inline constexpr std::uint32_t kRootParent = 0xFFFFFFFD;
inline constexpr std::uint32_t kRestrictionParent = 0xFFFFFFFC;

inline constexpr std::uint8_t kDosNameSpace = 0;
inline constexpr std::uint8_t kMacNameSpace = 1;
inline constexpr std::uint8_t kNfsNameSpace = 2;
inline constexpr std::uint8_t kLongNameSpace = 4;

} // namespace tamsin::direntry
