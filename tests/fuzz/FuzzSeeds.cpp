// Writes the seed corpora of the fuzz targets from the image builder (and,
// for the container readers, by hand and with qemu-img and ewfacquire):
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
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
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


// Container seeds: the format byte the containers target reads first, then the file.
void writeContainer(const fs::path& dir, const std::string& name, std::uint8_t kind, const std::vector<std::uint8_t>& file)
{
    std::vector<std::uint8_t> seed{kind};
    seed.insert(seed.end(), file.begin(), file.end());
    writeSeed(dir, name, seed);
}

void put(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t v, int bytes, bool bigEndian)
{
    if (out.size() < at + bytes)
        out.resize(at + bytes, 0);
    for (int i = 0; i < bytes; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * (bigEndian ? bytes - 1 - i : i)));
}

void putText(std::vector<std::uint8_t>& out, std::size_t at, const std::string& text)
{
    if (out.size() < at + text.size())
        out.resize(at + text.size(), 0);
    std::copy(text.begin(), text.end(), out.begin() + static_cast<long>(at));
}

// A QCOW2 disk of 16 clusters of 512 bytes: clusters 0 and 1 stored, 2 zero
// (version 3), the rest not stored; version 2 when backing names base.raw.
std::vector<std::uint8_t> qcowSeed(bool overlay)
{
    std::vector<std::uint8_t> f(512 * 6, 0);
    putText(f, 0, "QFI\xfb");
    put(f, 4, overlay ? 2 : 3, 4, true);
    put(f, 20, 9, 4, true);           // 512-byte clusters
    put(f, 24, 16 * 512, 8, true);    // size
    put(f, 36, 1, 4, true);           // level-1 entries
    put(f, 40, 512, 8, true);         // level-1 table at cluster 1
    put(f, 100, 104, 4, true);        // header length (version 3)
    if (overlay) {
        put(f, 8, 400, 8, true);
        put(f, 16, 8, 4, true);
        putText(f, 400, "base.raw");
    }
    put(f, 512, 1024, 8, true);       // level-2 table at cluster 2
    put(f, 1024, 1536, 8, true);
    put(f, 1032, 2048, 8, true);
    if (!overlay)
        put(f, 1040, 1, 8, true);     // zero cluster
    for (std::size_t i = 1536; i < 2560; ++i)
        f[i] = static_cast<std::uint8_t>(i);
    return f;
}

// A version 1 QCOW disk: 512-byte clusters, 64-entry tables, one stored cluster.
std::vector<std::uint8_t> qcowV1Seed()
{
    std::vector<std::uint8_t> f(512 * 3, 0);
    putText(f, 0, "QFI\xfb");
    put(f, 4, 1, 4, true);
    put(f, 24, 8 * 512, 8, true);
    f[32] = 9;
    f[33] = 6;
    put(f, 40, 48, 8, true);          // level-1 table after the header
    put(f, 48, 512, 8, true);         // its level-2 table
    put(f, 512, 1024, 8, true);       // cluster 0 at 1024
    for (std::size_t i = 1024; i < 1536; ++i)
        f[i] = static_cast<std::uint8_t>(i * 7);
    return f;
}

// A hosted sparse VMDK of 8 grains of 2 sectors, its descriptor embedded;
// grains 0 and 3 stored; parent: its descriptor names base.raw.
std::vector<std::uint8_t> vmdkSeed(bool parent)
{
    std::vector<std::uint8_t> f(512 * 10, 0);
    putText(f, 0, "KDMV");
    put(f, 4, 1, 4, false);
    put(f, 8, 3, 4, false);
    put(f, 12, 16, 8, false);         // capacity
    put(f, 20, 2, 8, false);          // grain size
    put(f, 28, 1, 8, false);          // descriptor at sector 1
    put(f, 36, 1, 8, false);
    put(f, 44, 8, 4, false);          // entries per grain table
    put(f, 48, 2, 8, false);
    put(f, 56, 2, 8, false);          // grain directory at sector 2
    putText(f, 512, std::string("# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=")
                        + (parent ? "12345678\nparentFileNameHint=\"base.raw\"\n" : "ffffffff\n")
                        + "createType=\"monolithicSparse\"\nRW 16 SPARSE \"disk.vmdk\"\n");
    put(f, 1024, 3, 4, false);        // grain table at sector 3
    put(f, 1536, 6, 4, false);        // grain 0 at sector 6
    put(f, 1536 + 12, 8, 4, false);   // grain 3 at sector 8
    for (std::size_t i = 3072; i < f.size(); ++i)
        f[i] = static_cast<std::uint8_t>(i / 512);
    return f;
}

// A dynamic (or differencing, over base.raw) VHD of 4 blocks of 4 KiB.
std::vector<std::uint8_t> vhdSeed(bool differencing)
{
    std::vector<std::uint8_t> f(2560 + 2 * (512 + 4096) + 512, 0);
    auto footer = [&](std::size_t at) {
        putText(f, at, "conectix");
        put(f, at + 16, 512, 8, true);
        put(f, at + 48, 4 * 4096, 8, true);
        put(f, at + 60, differencing ? 4 : 3, 4, true);
    };
    footer(0);
    footer(f.size() - 512);
    putText(f, 512, "cxsparse");
    put(f, 512 + 16, 1536, 8, true);
    put(f, 512 + 28, 4, 4, true);
    put(f, 512 + 32, 4096, 4, true);
    if (differencing) {
        put(f, 512 + 576, 0x57327275, 4, true);  // W2ru
        put(f, 512 + 576 + 8, 16, 4, true);
        put(f, 512 + 576 + 16, 2048, 8, true);
        const std::string name = "base.raw";
        for (std::size_t i = 0; i < name.size(); ++i)
            f[2048 + 2 * i] = static_cast<std::uint8_t>(name[i]);
    }
    const std::uint32_t stored[4] = {5, 0xFFFFFFFFu, 14, 0xFFFFFFFFu};
    for (int b = 0; b < 4; ++b)
        put(f, 1536 + 4 * b, stored[b], 4, true);
    f[5 * 512] = 0xF0;
    f[14 * 512] = 0xFF;
    return f;
}

std::uint32_t crc32c(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t length)
{
    std::uint32_t crc = ~0u;
    for (std::size_t i = from; i < from + length; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? 0x82F63B78u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

// A VHDX of 4 blocks of 1 MiB, none stored (block 1 zero, the others not
// present): headers, region table, metadata at 256 KiB and the table at
// 320 KiB; differencing, its parent named base.raw.
std::vector<std::uint8_t> vhdxSeed(bool differencing)
{
    std::vector<std::uint8_t> f(384 << 10, 0);
    putText(f, 0, "vhdxfile");
    for (const std::size_t at : {64u << 10, 128u << 10}) {
        putText(f, at, "head");
        put(f, at + 8, at >> 16, 8, false);    // sequence number
        put(f, at + 66, 1, 2, false);          // version
        put(f, at + 68, 1 << 20, 4, false);    // log length
        put(f, at + 72, 1 << 20, 8, false);    // log offset
        put(f, at + 4, crc32c(f, at, 4096), 4, false);
    }
    const std::uint8_t bat[16] = {0x66, 0x77, 0xC2, 0x2D, 0x23, 0xF6, 0x00, 0x42, 0x9D, 0x64, 0x11, 0x5E, 0x9B, 0xFD, 0x4A, 0x08};
    const std::uint8_t meta[16] = {0x06, 0xA2, 0x7C, 0x8B, 0x90, 0x47, 0x9A, 0x4B, 0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E};
    const std::size_t regions = 192 << 10;
    putText(f, regions, "regi");
    put(f, regions + 8, 2, 4, false);
    std::copy_n(bat, 16, f.begin() + regions + 16);
    put(f, regions + 32, 320 << 10, 8, false);
    put(f, regions + 40, 64 << 10, 4, false);
    std::copy_n(meta, 16, f.begin() + regions + 48);
    put(f, regions + 64, 256 << 10, 8, false);
    put(f, regions + 72, 64 << 10, 4, false);
    put(f, regions + 4, crc32c(f, regions, 64 << 10), 4, false);
    const std::size_t m = 256 << 10;
    putText(f, m, "metadata");
    const std::uint8_t ids[4][16] = {
        {0x37, 0x67, 0xA1, 0xCA, 0x36, 0xFA, 0x43, 0x4D, 0xB3, 0xB6, 0x33, 0xF0, 0xAA, 0x44, 0xE7, 0x6B},
        {0x24, 0x42, 0xA5, 0x2F, 0x1B, 0xCD, 0x76, 0x48, 0xB2, 0x11, 0x5D, 0xBE, 0xD8, 0x3B, 0xF4, 0xB8},
        {0x1D, 0xBF, 0x41, 0x81, 0x6F, 0xA9, 0x09, 0x47, 0xBA, 0x47, 0xF2, 0x33, 0xA8, 0xFA, 0xAB, 0x5F},
        {0x2D, 0x5F, 0xD3, 0xA8, 0x0B, 0xB3, 0x4D, 0x45, 0xAB, 0xF7, 0xD3, 0xD8, 0x48, 0x34, 0xAB, 0x0C}};
    const std::string key = "relative_path", value = "base.raw";
    const std::uint32_t offsets[4] = {4096, 4104, 4112, 4120};
    const std::uint32_t lengths[4] = {8, 8, 4, static_cast<std::uint32_t>(32 + 2 * (key.size() + value.size()))};
    const int items = differencing ? 4 : 3;
    put(f, m + 10, items, 2, false);
    for (int i = 0; i < items; ++i) {
        std::copy_n(ids[i], 16, f.begin() + static_cast<long>(m + 32 + 32 * i));
        put(f, m + 32 + 32 * i + 16, offsets[i], 4, false);
        put(f, m + 32 + 32 * i + 20, lengths[i], 4, false);
    }
    put(f, m + 4096, 1 << 20, 4, false);             // block size
    put(f, m + 4100, differencing ? 2 : 0, 4, false);
    put(f, m + 4104, 4 << 20, 8, false);             // disk size
    put(f, m + 4112, 512, 4, false);                 // sector size
    const std::size_t locator = m + 4120;
    put(f, locator + 18, 1, 2, false);
    put(f, locator + 20, 32, 4, false);
    put(f, locator + 24, 32 + 2 * key.size(), 4, false);
    put(f, locator + 28, 2 * key.size(), 2, false);
    put(f, locator + 30, 2 * value.size(), 2, false);
    for (std::size_t i = 0; i < key.size() + value.size(); ++i)
        f[locator + 32 + 2 * i] = static_cast<std::uint8_t>((key + value)[i]);
    put(f, (320 << 10) + 8, 2, 8, false);            // block 1: zeros
    return f;
}

// Writes a container with a tool in a scratch folder; empty when the tool is missing or fails.
std::vector<std::uint8_t> madeWith(const std::string& command, const fs::path& folder, const std::string& result)
{
    if (std::system(("cd '" + folder.string() + "' && " + command + " >/dev/null 2>&1 </dev/null").c_str()) != 0
        && !fs::exists(folder / result))
        return {};
    std::ifstream in(folder / result, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeContainerSeeds(const fs::path& out)
{
    const fs::path dir = out / "containers";
    writeContainer(dir, "qcow2", 0, qcowSeed(false));
    writeContainer(dir, "qcow2-overlay", 0, qcowSeed(true));
    writeContainer(dir, "qcow-v1", 0, qcowV1Seed());
    writeContainer(dir, "vmdk-sparse", 1, vmdkSeed(false));
    writeContainer(dir, "vmdk-child", 1, vmdkSeed(true));
    const std::string flat = "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\n"
                             "createType=\"monolithicFlat\"\nRW 64 FLAT \"flat.bin\" 8\nRW 16 ZERO\n";
    writeContainer(dir, "vmdk-flat", 2, std::vector<std::uint8_t>(flat.begin(), flat.end()));
    writeContainer(dir, "vhd-dynamic", 3, vhdSeed(false));
    writeContainer(dir, "vhd-differencing", 3, vhdSeed(true));
    writeContainer(dir, "vhdx", 4, vhdxSeed(false));
    writeContainer(dir, "vhdx-differencing", 4, vhdxSeed(true));

    // Tool-made ones where qemu-img and ewfacquire are installed: compressed
    // clusters and grains, and an EWF file.
    const fs::path scratch = out / "containers-scratch";
    fs::create_directories(scratch);
    std::vector<std::uint8_t> raw(16 << 10);
    for (std::size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<std::uint8_t>((i / 512) % 3 ? 'a' + i % 7 : i * 13);
    writeSeed(scratch, "raw.img", raw);
    const std::vector<std::tuple<const char*, std::uint8_t, std::string, std::string>> made = {
        {"qcow2-compressed", 0, "qemu-img convert -c -f raw -O qcow2 -o cluster_size=512 raw.img x.qcow2", "x.qcow2"},
        {"qcow-v1-compressed", 0, "qemu-img convert -c -f raw -O qcow raw.img x.qcow", "x.qcow"},
        // Its embedded descriptor names the file the fuzz target writes.
        {"vmdk-stream", 1, "qemu-img convert -f raw -O vmdk -o subformat=streamOptimized raw.img disk.vmdk", "disk.vmdk"},
        {"ewf", 5, "ewfacquire -u -q -c none -t x raw.img", "x.E01"},
    };
    for (const auto& [name, kind, command, result] : made) {
        const auto bytes = madeWith(command, scratch, result);
        if (!bytes.empty() && bytes.size() <= (256u << 10))
            writeContainer(dir, name, kind, bytes);
    }
    fs::remove_all(scratch);
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
            return fail("saving the snapshot: " + std::string(std::strerror(saved.error)));
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

    // The container readers: small containers of each format.
    writeContainerSeeds(out);
    return 0;
}
