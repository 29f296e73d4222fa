// tamsin-mkimage: writes a sparse raw disk image holding NetWare traditional
// volumes from a JSON description, or the built-in demo disk, and optionally
// a manifest of the volume contents written.

#include "imagebuilder/Demo.h"
#include "imagebuilder/Description.h"
#include "imagebuilder/ImageBuilder.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace ib = tamsin::imagebuilder;

constexpr const char* kUsage = "usage: tamsin-mkimage [--manifest MANIFEST.json] DESCRIPTION.json OUTPUT.img\n"
                               "       tamsin-mkimage [--manifest MANIFEST.json] --demo OUTPUT.img\n";

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
    std::string output;
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
    if (positional.size() != (demo ? 1u : 2u))
        return std::nullopt;
    if (!demo)
        arguments.description = positional[0];
    arguments.output = positional.back();
    return arguments;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const std::optional<Arguments> arguments = parseArguments(argc, argv);
    if (!arguments) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    ib::Result<ib::DiskSpec> diskSpec = arguments->description.empty() ? ib::Result<ib::DiskSpec>(ib::demoDiskSpec())
                                                                   : ib::parseDescriptionFile(arguments->description);
    if (!diskSpec) {
        std::fprintf(stderr, "tamsin-mkimage: %s\n", diskSpec.error().c_str());
        return 1;
    }
    ib::Result<ib::BuiltLayout> layout = ib::writeImage(*diskSpec, arguments->output);
    if (!layout) {
        std::fprintf(stderr, "tamsin-mkimage: %s\n", layout.error().c_str());
        return 1;
    }
    if (!arguments->manifest.empty()) {
        std::ofstream manifest(arguments->manifest, std::ios::binary | std::ios::trunc);
        if (manifest)
            ib::writeManifestJson(*layout, manifest);
        manifest.close();
        if (!manifest) {
            std::fprintf(stderr, "tamsin-mkimage: cannot write %s\n", arguments->manifest.c_str());
            return 1;
        }
    }
    std::printf("%s\n", summary(arguments->output, *layout).c_str());
    return 0;
}
