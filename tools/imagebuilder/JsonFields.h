#pragma once
// Reading JSON description fields with errors that name the offending key.
// Shared by the disk and the volume contents parts of the description.

#include "imagebuilder/DiskDescription.h"
#include "imagebuilder/VolumeContents.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tamsin::imagebuilder::detail {

inline constexpr std::uint64_t kMaxU8 = std::numeric_limits<std::uint8_t>::max();
inline constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
inline constexpr std::uint64_t kMaxU64 = std::numeric_limits<std::uint64_t>::max();

// Thrown while reading a description; parseDescription turns it into an Error.
struct DescriptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& where, const std::string& message);

// "where.key" and "where[index]" (just "key" at the top).
std::string member(const std::string& where, const std::string& key);
std::string element(const std::string& where, std::size_t index);

// An object holding only the allowed keys.
void requireObject(const nlohmann::json& value, const std::string& where,
                   std::initializer_list<std::string_view> allowed);
const nlohmann::json& requireArray(const nlohmann::json& value, const std::string& where);

// A JSON number or a string holding a decimal or 0x hexadecimal number.
std::uint64_t number(const nlohmann::json& value, const std::string& where, std::uint64_t max);
std::uint32_t u32(const nlohmann::json& value, const std::string& where);
bool boolean(const nlohmann::json& value, const std::string& where);
bool isAuto(const nlohmann::json& value);

// An array of two block numbers, e.g. "fatBlocks": [1, 2].
std::array<std::uint32_t, 2> blockPair(const nlohmann::json& value, const std::string& where);
// The table blocks of a volume: "fatBlocks" and "detBlocks" into the first
// and second FAT and DET block fields of result.
template <typename Volume>
void readTableBlocks(const nlohmann::json& value, const std::string& where, Volume& result)
{
    if (value.contains("fatBlocks")) {
        const auto fat = blockPair(value.at("fatBlocks"), member(where, "fatBlocks"));
        result.firstFatBlock = fat[0];
        result.secondFatBlock = fat[1];
    }
    if (value.contains("detBlocks")) {
        const auto det = blockPair(value.at("detBlocks"), member(where, "detBlocks"));
        result.firstDetBlock = det[0];
        result.secondDetBlock = det[1];
    }
}

// Hex digits, optionally separated by spaces, tabs, newlines or colons.
std::vector<std::uint8_t> hexBytes(const std::string& text, const std::string& where);
// A string taken as its bytes, or {"hex": "..."}.
std::string nameBytes(const nlohmann::json& value, const std::string& where);
// "YYYY-MM-DD" or "YYYY-MM-DD hh:mm:ss", years 1980..2059, packed.
std::uint32_t dateTime(const nlohmann::json& value, const std::string& where);

VolumeContents volumeContents(const nlohmann::json& value, const std::string& where);

// A partition's "headers" (true or an object) and a spanned volume of "volumes".
PartitionHeaders partitionHeaders(const nlohmann::json& value, const std::string& where);
SpannedVolumeSpec spannedVolume(const nlohmann::json& value, const std::string& where);

} // namespace tamsin::imagebuilder::detail
