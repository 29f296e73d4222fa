#pragma once
// The container formats a disk image may come in, told apart by content.

#include <cstdint>
#include <span>
#include <string>

namespace tamsin {

enum class DiskFormat { Raw, Vmdk, Vhd, Vhdx, Qcow2, Ewf };

// "raw", "vmdk", "vhd", "vhdx", "qcow2", "ewf".
const char* diskFormatName(DiskFormat format);

// What the format is called for the user: "VMware disk image", ...; empty for raw.
const char* diskFormatDescription(DiskFormat format);

// The format from a file's first bytes (up to 1 KiB) and its last 512 bytes
// (tail may overlap head on small files). Unknown content is raw.
DiskFormat detectDiskFormat(std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail);

} // namespace tamsin
