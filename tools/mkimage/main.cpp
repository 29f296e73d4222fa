// tamsin-mkimage: writes sparse raw disk images holding NetWare traditional
// volumes from a JSON description (one image per disk), or the built-in demo
// disk, and optionally a manifest of what a reader must find.

#include "imagebuilder/Demo.h"
#include "imagebuilder/Description.h"
#include "imagebuilder/ImageBuilder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace ib = tamsin::imagebuilder;

constexpr const char* kUsage =
    "usage: tamsin-mkimage [--manifest MANIFEST.json] DESCRIPTION.json OUTPUT.img [OUTPUT2.img ...]\n"
    "       tamsin-mkimage [--manifest MANIFEST.json] --demo OUTPUT.img\n";

// Several disks: their sizes, then the counts over all of them.
std::string setSummary(const std::vector<std::string>& outputs, const ib::DiskSetLayout& layout)
{
    std::size_t partitions = 0;
    std::size_t netware = 0;
    std::size_t segments = 0;
    std::size_t entries = 0;
    std::string text = "wrote ";
    for (std::size_t d = 0; d < layout.disks.size(); ++d) {
        const ib::BuiltLayout& disk = layout.disks[d];
        text.append(d == 0 ? "" : ", ").append(outputs[d]).append(" (");
        text.append(std::to_string(disk.totalSectors)).append(" sectors)");
        partitions += disk.partitions.size();
        for (const ib::PartitionLayout& partition : disk.partitions) {
            netware += partition.netware ? 1 : 0;
            segments += partition.segments.size();
            for (const ib::SegmentLayout& segment : partition.segments)
                entries += segment.manifest ? segment.manifest->entries.size() : 0;
        }
    }
    for (const ib::SpannedVolumeLayout& volume : layout.spanned)
        entries += volume.manifest ? volume.manifest->entries.size() : 0;
    text.append(": ").append(std::to_string(partitions)).append(" partition(s), ");
    text.append(std::to_string(netware)).append(" NetWare, ");
    text.append(std::to_string(segments)).append(" volume segment(s), ");
    text.append(std::to_string(layout.spanned.size())).append(" spanned volume(s), ");
    text.append(std::to_string(entries)).append(" directory entries");
    return text;
}

std::string summary(const std::string& output, const ib::BuiltLayout& layout)
{
    std::size_t volumes = 0;
    std::size_t netware = 0;
    std::size_t entries = 0;
    for (const ib::PartitionLayout& partition : layout.partitions) {
        volumes += partition.segments.size();
        netware += partition.netware ? 1 : 0;
        for (const ib::SegmentLayout& segment : partition.segments)
            entries += segment.manifest ? segment.manifest->entries.size() : 0;
    }
    std::string text = "wrote " + output + ": ";
    text.append(std::to_string(layout.totalSectors)).append(" sectors (");
    text.append(std::to_string(layout.totalSectors / 2048)).append(" MiB), ");
    text.append(std::to_string(layout.partitions.size())).append(" partition(s), ");
    text.append(std::to_string(netware)).append(" NetWare, ");
    text.append(std::to_string(volumes)).append(" volume segment(s), ");
    text.append(std::to_string(entries)).append(" directory entries");
    return text;
}

struct Arguments {
    std::string manifest;
    std::string description; // empty with --demo
    std::vector<std::string> outputs;
};

// Nothing when the arguments do not fit the usage.
std::optional<Arguments> parseArguments(int argc, char** argv)
{
    Arguments arguments;
    std::vector<std::string_view> positional;
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--manifest" && i + 1 < argc && arguments.manifest.empty())
            arguments.manifest = argv[++i];
        else if (argument == "--demo" && !demo)
            demo = true;
        else if (!argument.empty() && argument[0] == '-')
            return std::nullopt;
        else
            positional.push_back(argument);
    }
    if (demo ? positional.size() != 1 : positional.size() < 2)
        return std::nullopt;
    if (!demo)
        arguments.description = positional[0];
    arguments.outputs.assign(positional.begin() + (demo ? 0 : 1), positional.end());
    return arguments;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::puts("tamsin-mkimage " TAMSIN_VERSION);
        return 0;
    }
    const std::optional<Arguments> arguments = parseArguments(argc, argv);
    if (!arguments) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    ib::Result<ib::DiskSetSpec> set = arguments->description.empty()
        ? ib::Result<ib::DiskSetSpec>(ib::DiskSetSpec{{ib::demoDiskSpec()}, {}})
        : ib::parseDiskSetDescriptionFile(arguments->description);
    if (!set) {
        std::fprintf(stderr, "tamsin-mkimage: %s\n", set.error().c_str());
        return 1;
    }
    if (set->disks.size() != arguments->outputs.size()) {
        std::fprintf(stderr, "tamsin-mkimage: the description has %zu disk(s) but %zu output(s) are given\n%s",
                     set->disks.size(), arguments->outputs.size(), kUsage);
        return 2;
    }
    const std::vector<std::filesystem::path> paths(arguments->outputs.begin(), arguments->outputs.end());
    ib::Result<ib::DiskSetLayout> layout = ib::writeImages(*set, paths);
    if (!layout) {
        std::fprintf(stderr, "tamsin-mkimage: %s\n", layout.error().c_str());
        return 1;
    }
    if (!arguments->manifest.empty()) {
        std::ofstream manifest(arguments->manifest, std::ios::binary | std::ios::trunc);
        if (manifest)
            ib::writeManifestJson(*layout, manifest, arguments->outputs);
        manifest.close();
        if (!manifest) {
            std::fprintf(stderr, "tamsin-mkimage: cannot write %s\n", arguments->manifest.c_str());
            return 1;
        }
    }
    const bool oneDisk = layout->disks.size() == 1 && layout->spanned.empty();
    std::printf("%s\n", oneDisk ? summary(arguments->outputs.front(), layout->disks.front()).c_str()
                                 : setSummary(arguments->outputs, *layout).c_str());
    return 0;
}
