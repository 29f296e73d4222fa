#include "disk/DiskFormat.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tamsin {
namespace {

bool hasAt(std::span<const std::uint8_t> bytes, std::size_t offset, std::string_view magic)
{
    return offset + magic.size() <= bytes.size()
        && std::memcmp(bytes.data() + offset, magic.data(), magic.size()) == 0;
}

} // namespace

const char* diskFormatName(DiskFormat format)
{
    switch (format) {
    case DiskFormat::Raw: return "raw";
    case DiskFormat::Vmdk: return "vmdk";
    case DiskFormat::Vhd: return "vhd";
    case DiskFormat::Vhdx: return "vhdx";
    case DiskFormat::Qcow2: return "qcow2";
    case DiskFormat::Ewf: return "ewf";
    }
    return "raw";
}

const char* diskFormatDescription(DiskFormat format)
{
    switch (format) {
    case DiskFormat::Raw: return "";
    case DiskFormat::Vmdk: return "VMware disk image";
    case DiskFormat::Vhd: return "Virtual PC disk image";
    case DiskFormat::Vhdx: return "Hyper-V disk image";
    case DiskFormat::Qcow2: return "QEMU disk image";
    case DiskFormat::Ewf: return "EWF evidence file";
    }
    return "";
}

DiskFormat detectDiskFormat(std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail)
{
    using namespace std::string_view_literals;
    if (hasAt(head, 0, "KDMV"sv))
        return DiskFormat::Vmdk;
    if (hasAt(head, 0, "vhdxfile"sv))
        return DiskFormat::Vhdx;
    if (hasAt(head, 0, "QFI\xfb"sv))
        return DiskFormat::Qcow2;
    if (hasAt(head, 0, "EVF\x09\x0d\x0a\xff\x00"sv))
        return DiskFormat::Ewf;
    // A dynamic VHD starts with a copy of its footer; a fixed one has it
    // only in the last 512 bytes (511 for some early writers).
    if (hasAt(head, 0, "conectix"sv)
        || (tail.size() >= 512 && hasAt(tail, tail.size() - 512, "conectix"sv))
        || (tail.size() >= 511 && hasAt(tail, tail.size() - 511, "conectix"sv)))
        return DiskFormat::Vhd;
    // The text descriptor of a split or flat VMDK: text (no NULs) up to the marker.
    const std::string_view text(reinterpret_cast<const char*>(head.data()), std::min<std::size_t>(head.size(), 1024));
    const std::size_t marker = text.find("# Disk DescriptorFile"sv);
    if (marker != std::string_view::npos && text.substr(0, marker).find('\0') == std::string_view::npos)
        return DiskFormat::Vmdk;
    return DiskFormat::Raw;
}

} // namespace tamsin
