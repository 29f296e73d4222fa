// tamsin-mkimage: writes a sparse raw disk image holding NetWare traditional
// volumes from a JSON description, or the built-in demo disk.

#include "imagebuilder/Demo.h"
#include "imagebuilder/Description.h"
#include "imagebuilder/ImageBuilder.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

namespace ib = tamsin::imagebuilder;

constexpr const char* kUsage = "usage: tamsin-mkimage DESCRIPTION.json OUTPUT.img\n"
                               "       tamsin-mkimage --demo OUTPUT.img\n";

std::string summary(const std::string& output, const ib::BuiltLayout& layout)
{
    std::size_t volumes = 0;
    std::size_t netware = 0;
    for (const ib::PartitionLayout& partition : layout.partitions) {
        volumes += partition.segments.size();
        netware += partition.netware ? 1 : 0;
    }
    return "wrote " + output + ": " + std::to_string(layout.totalSectors) + " sectors ("
        + std::to_string(layout.totalSectors / 2048) + " MiB), " + std::to_string(layout.partitions.size())
        + " partition(s), " + std::to_string(netware) + " NetWare, " + std::to_string(volumes) + " volume segment(s)";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 3 || (argv[1][0] == '-' && std::string_view(argv[1]) != "--demo")) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    const std::string output = argv[2];
    ib::Result<ib::DiskSpec> spec = std::string_view(argv[1]) == "--demo" ? ib::Result<ib::DiskSpec>(ib::demoDiskSpec())
                                                                          : ib::parseDescriptionFile(argv[1]);
    if (!spec) {
        std::fprintf(stderr, "tamsin-mkimage: %s\n", spec.error().c_str());
        return 1;
    }
    ib::Result<ib::BuiltLayout> layout = ib::writeImage(*spec, output);
    if (!layout) {
        std::fprintf(stderr, "tamsin-mkimage: %s\n", layout.error().c_str());
        return 1;
    }
    std::printf("%s\n", summary(output, *layout).c_str());
    return 0;
}
