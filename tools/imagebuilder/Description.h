#pragma once
// Reads a DiskSpec (or a DiskSetSpec) from its JSON description (format in tools/mkimage/README.md).
// Unknown keys are errors, so that a misspelt key is not silently ignored.
// Numbers may be JSON numbers or strings in decimal or "0x" hexadecimal.

#include "imagebuilder/DiskDescription.h"
#include "imagebuilder/Result.h"

#include <filesystem>
#include <nlohmann/json_fwd.hpp>
#include <string_view>

namespace tamsin::imagebuilder {

Result<DiskSpec> parseDescription(const nlohmann::json& description);

// JSON text; // and /* */ comments are allowed.
Result<DiskSpec> parseDescriptionText(std::string_view text);

Result<DiskSpec> parseDescriptionFile(const std::filesystem::path& path);

// Several disks: {"disks": [DISK, ...], "volumes": [SPANNED VOLUME, ...]};
// a description of one disk (as above) gives a set of that disk.
Result<DiskSetSpec> parseDiskSetDescription(const nlohmann::json& description);
Result<DiskSetSpec> parseDiskSetDescriptionText(std::string_view text);
Result<DiskSetSpec> parseDiskSetDescriptionFile(const std::filesystem::path& path);

} // namespace tamsin::imagebuilder
