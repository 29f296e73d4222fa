// Writes the seed corpora of the fuzz targets from the image builder:
//   tamsin_fuzz_seeds OUTDIR   -> OUTDIR/<target>/<seed>

#include "FuzzSupport.h"

#include "disk/SectorReader.h"
#include "imagebuilder/Demo.h"
#include "mount/Mount.h"
#include "mount/MountedVolume.h"
#include "snapshot/Snapshot.h"
#include "volumes/VolumeInfo.h"
#include "volumes/VolumeTableReader.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace ib = tamsin::imagebuilder;
using namespace tamsin;

namespace {

void writeSeed(const fs::path& dir, const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void writeText(const fs::path& dir, const std::string& name, const std::string& text)
{
    writeSeed(dir, name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

int fail(const std::string& what)
{
    std::fprintf(stderr, "tamsin_fuzz_seeds: %s\n", what.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return fail("usage: tamsin_fuzz_seeds OUTDIR");
    const fs::path out = argv[1];

    // Partition and volume tables, volume search: the small disk, whole and cut.
    const auto small = fuzz::smallDiskBytes();
    writeSeed(out / "volume_tables", "small-disk", small);
    writeSeed(out / "volume_search", "small-disk", small);
    {
        const auto demo = ib::renderImage(ib::demoDiskSpec());
        if (!demo.ok())
            return fail(demo.error());
        writeSeed(out / "volume_tables", "demo-first-sectors", fuzz::renderedBytes(*demo, 0, 64));
        // The demo's NetWare partition starts its own little disk: its first sectors.
        const auto* partition = demo->layout.inSlot(1);
        if (partition && partition->netware) {
            auto tail = fuzz::renderedBytes(*demo, partition->tableCopySectors[0], 8);
            writeSeed(out / "volume_search", "demo-volume-table", tail);
        }
    }
    {
        // A volume table sector on its own, followed by the DET marker its entry points at.
        std::vector<std::uint8_t> lone(small.begin() + std::min<std::size_t>(small.size(), 1400 * 512), small.end());
        writeSeed(out / "volume_search", "lone-table", lone);
    }

    // The mount: the base volume's FAT and DET area as it is written.
    const auto& base = fuzz::mountBaseImage();
    const std::uint64_t first = fuzz::mountOverlayOffset() / 512;
    writeSeed(out / "mount", "intact-tables", fuzz::renderedBytes(base, first, 96 * 2));
    writeSeed(out / "mount", "first-sectors", fuzz::renderedBytes(base, first, 8));

    // The snapshot: saved from a mount of the base volume.
    {
        SectorReader reader;
        reader.attach(std::make_unique<fuzz::OverlayDevice>(base.sectors, base.layout.totalSectors));
        VolumeTable table;
        if (readVolumeTables(reader, table) != VolumeTableStatus::VolumesFound)
            return fail("the base volume's table does not read");
        MountedVolume volume;
        volume.selectVolume(table[0], 0);
        fuzz::FirstCopyObserver observer;
        if (mountVolume(volume, reader, observer) != MountResult::Completed)
            return fail("the base volume does not mount");
        fs::create_directories(out / "snapshot");
        const auto saved = saveSnapshot(volume, 0, (out / "snapshot" / "BASE.VSNP").string());
        if (!saved.ok())
            return fail("saving the snapshot: " + saved.message);
        writeText(out / "snapshot", "wrong-magic", "vsp3.99 1.0");
        writeText(out / "snapshot", "magic-only", std::string(kSnapshotMagic) + kSnapshotVersion);
    }

    // The wildcard matcher: name, a zero byte, pattern.
    const std::vector<std::pair<std::string, std::string>> patterns = {
        {"MYDOC.TXT", "DOC"}, {"ACE", "A*C*E"}, {"README.TXT", "*.TXT"}, {"ABC", "A?C"},
        {"LETTER1.DOC", "LETTER?.*"}, {"X", "*"}, {"", "**?*"}, {"\xE9T\xE9.TXT", "?T?.*"}};
    int n = 0;
    for (const auto& [name, pattern] : patterns)
        writeText(out / "wildcard", "pair-" + std::to_string(n++), name + std::string(1, '\0') + pattern);

    // Rescue maps of a 1 MiB image.
    writeText(out / "rescue_map", "all-read", "# Mapfile. Created by GNU ddrescue\n0x00000000 + 1\n0x00000000 0x00100000 +\n");
    writeText(out / "rescue_map", "holes",
              "# Mapfile\n# current_pos  current_status  current_pass\n0x00010000     ?               2\n"
              "#      pos        size  status\n0x00000000  0x00010000  +\n0x00010000  0x00000200  -\n"
              "0x00010200  0x00000E00  /\n0x00011000  0x00010000  *\n0x00021000  0x000DF000  +\n");
    writeText(out / "rescue_map", "short", "0x0 + 1\n0x0 0x400 +\n0x400 0x200 ?\n");
    return 0;
}
