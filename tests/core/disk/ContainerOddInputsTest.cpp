// Containers a writer rarely makes, or that were made to mislead: QCOW
// layouts and refusals, overlays over their parents, VMDK extent names and
// offsets, damaged table entries, and how damage found by a library is
// remembered. Inputs are written by qemu-img and qemu-io or by hand.

#include "disk/ContainerDevice.h"
#include "disk/DiskDevice.h"
#include "disk/SectorReader.h"

#include "RunCommand.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace tamsin {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

void patch(const fs::path& path, std::uint64_t at, const Bytes& bytes)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

Bytes be(std::uint64_t v, int bytes)
{
    Bytes out(bytes);
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(v >> (8 * (bytes - 1 - i)));
    return out;
}

// 2 MiB: runs of text that compress well between runs of noise that do not.
Bytes sampleDisk(std::uint32_t seed = 7)
{
    std::mt19937 random(seed);
    Bytes disk(2 << 20);
    for (std::size_t at = 0; at < disk.size(); ++at)
        disk[at] = (at / 5000) % 2 ? static_cast<std::uint8_t>(random()) : static_cast<std::uint8_t>('a' + at % 23);
    return disk;
}

// Runs tool with args in folder.
void run(const std::string& tool, const std::vector<std::string>& args, const fs::path& folder)
{
    std::vector<std::string> shell = {"-c", "cd \"$0\" && exec \"$@\"", folder.string(), tool};
    shell.insert(shell.end(), args.begin(), args.end());
    const test::CommandResult r = test::runCommand("sh", shell, folder);
    ASSERT_EQ(r.status, 0) << tool << ": " << r.err << r.out;
}

// The whole device as it reads; fails the test on a failed read.
Bytes readDevice(Device& device)
{
    Bytes all(device.sizeBytes());
    const DeviceRead r = device.readAt(0, all);
    EXPECT_TRUE(r.ok && r.bytes == all.size()) << device.path();
    return all;
}

std::unique_ptr<Device> open(const fs::path& path, std::string* message = nullptr)
{
    OpenError error;
    auto device = openDiskDevice(path.string(), &error);
    if (message)
        *message = error.message;
    return device;
}

struct QcowLayout {
    const char* label;
    std::vector<std::string> options;
};

class QcowLayouts : public ::testing::TestWithParam<QcowLayout> {};

TEST_P(QcowLayouts, ReadLikeTheRawDisk)
{
    test::TempDir dir;
    const Bytes raw = sampleDisk();
    writeFile(dir / "raw.img", raw);
    std::vector<std::string> args = {"convert", "-f", "raw"};
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    args.insert(args.end(), {"raw.img", "disk.img"});
    std::vector<std::string> shell = {"-c", "cd \"$0\" && exec qemu-img \"$@\"", dir.path().string()};
    shell.insert(shell.end(), args.begin(), args.end());
    const test::CommandResult made = test::runCommand("sh", shell, dir.path());
    // qemu-img ends a compressed version 1 image with an error after writing
    // it whole: there what it wrote is checked, not its status.
    if (GetParam().label != std::string("version1Compressed")) {
        ASSERT_EQ(made.status, 0) << made.err;
    }
    auto device = open(dir / "disk.img");
    ASSERT_TRUE(device);
    ASSERT_EQ(device->sizeBytes(), raw.size());
    EXPECT_TRUE(readDevice(*device) == raw);
}

INSTANTIATE_TEST_SUITE_P(
    Qcow, QcowLayouts,
    ::testing::Values(QcowLayout{"version1", {"-O", "qcow"}}, QcowLayout{"version1Compressed", {"-O", "qcow", "-c"}},
                      QcowLayout{"version2", {"-O", "qcow2", "-o", "compat=0.10"}},
                      QcowLayout{"clusters512", {"-O", "qcow2", "-o", "cluster_size=512"}},
                      QcowLayout{"clusters2MCompressed", {"-O", "qcow2", "-o", "cluster_size=2M", "-c"}}),
    [](const auto& info) { return info.param.label; });

struct Refused {
    const char* label;
    std::vector<std::string> create;          // qemu-img create options before the file name
    std::vector<std::pair<int, Bytes>> edits;  // header bytes written over the made file
    std::string message;                      // after "PATH: "
};

class QcowRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(QcowRefused, WithOneLineNamingTheFile)
{
    test::TempDir dir;
    std::vector<std::string> args = {"create", "-q"};
    args.insert(args.end(), GetParam().create.begin(), GetParam().create.end());
    args.insert(args.end(), {"x.img", "4M"});
    run("qemu-img", args, dir.path());
    for (const auto& [at, bytes] : GetParam().edits)
        patch(dir / "x.img", static_cast<std::uint64_t>(at), bytes);
    std::string message;
    EXPECT_FALSE(open(dir / "x.img", &message));
    EXPECT_EQ(message, (dir / "x.img").string() + ": " + GetParam().message);
}

const std::string kCannot = "cannot open the QEMU disk image: ";
const std::vector<std::string> kSecret = {"--object", "secret,id=s0,data=pw", "-f"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Qcow, QcowRefused,
    ::testing::Values(
        // Made with a LUKS header, qemu-img times its key derivation, which fails on a busy machine: the method is set by hand.
        Refused{"luks", {"-f", "qcow2"}, {{32, be(2, 4)}}, "encrypted QEMU disk image: not supported"},
        Refused{"aes", with(kSecret, {"qcow2", "-o", "encrypt.format=aes,encrypt.key-secret=s0"}), {},
                "encrypted QEMU disk image: not supported"},
        Refused{"aesVersion1", with(kSecret, {"qcow", "-o", "encrypt.format=aes,encrypt.key-secret=s0"}), {},
                "encrypted QEMU disk image: not supported"},
        Refused{"zstd", {"-f", "qcow2", "-o", "compression_type=zstd"}, {}, kCannot + "clusters compressed with zstd are not supported"},
        Refused{"subclusters", {"-f", "qcow2", "-o", "extended_l2=on"}, {}, kCannot + "subclusters (extended level-2 entries) are not supported"},
        Refused{"dataFile", {"-f", "qcow2", "-o", "data_file=x.raw"}, {}, kCannot + "its clusters are kept in an external data file, which is not read"},
        Refused{"clusterBits22", {"-f", "qcow2"}, {{20, be(22, 4)}}, kCannot + "cluster size 2^22 bytes: QEMU disks have clusters of 512 bytes to 2 MiB"},
        Refused{"hugeTables", {"-f", "qcow2"}, {{24, be(std::uint64_t{1} << 60, 8)}, {36, be(0xFFFFFFFF, 4)}},
                kCannot + "its size of 1152921504606846976 bytes needs a level-1 table over 32 MiB"}),
    [](const auto& info) { return info.param.label; });

// An overlay written over its parent with qemu-io reads as the parent with
// the written bytes; without its parent it is refused, naming it.
struct Chain {
    const char* label;
    std::vector<std::vector<std::string>> steps;  // qemu-img or qemu-io commands, in order
    const char* top;
    const char* parent;  // the file whose loss refuses the top
};

class Chains : public ::testing::TestWithParam<Chain> {};

TEST_P(Chains, ReadThroughTheParentOrAreRefusedNamingIt)
{
    test::TempDir dir;
    fs::create_directories(dir / "sub");
    Bytes expected = sampleDisk();
    writeFile(dir / "base.raw", expected);
    writeFile(dir / "sub" / "base.raw", expected);
    for (const auto& step : GetParam().steps)
        run(step[0], std::vector<std::string>(step.begin() + 1, step.end()), dir.path());
    std::fill_n(expected.begin() + 70'000, 200'000, 0x5A);

    auto device = open(dir / GetParam().top);
    ASSERT_TRUE(device);
    EXPECT_TRUE(readDevice(*device) == expected);
    device.reset();

    fs::remove(dir / GetParam().parent);
    std::string message;
    EXPECT_FALSE(open(dir / GetParam().top, &message));
    EXPECT_NE(message.find("cannot open " + (dir / GetParam().parent).string() + ": No such file"), std::string::npos)
        << message;
}

const std::vector<std::string> kWrite = {"qemu-io", "-c", "write -P 0x5a 70000 200000"};

INSTANTIATE_TEST_SUITE_P(
    Overlays, Chains,
    ::testing::Values(
        Chain{"qcow2OverRaw", {{"qemu-img", "create", "-q", "-f", "qcow2", "-b", "base.raw", "-F", "raw", "top"}, with(kWrite, {"top"})}, "top", "base.raw"},
        Chain{"qcow2OverRawInAFolder", {{"qemu-img", "create", "-q", "-f", "qcow2", "-b", "sub/base.raw", "-F", "raw", "top"}, with(kWrite, {"top"})}, "top", "sub/base.raw"},
        Chain{"vmdkOverVmdk",
              {{"qemu-img", "convert", "-O", "vmdk", "-f", "raw", "base.raw", "base.vmdk"},
               {"qemu-img", "create", "-q", "-f", "vmdk", "-b", "base.vmdk", "-F", "vmdk", "top"}, with(kWrite, {"top"})},
              "top", "base.vmdk"},
        Chain{"qcow2OverVmdk",
              {{"qemu-img", "convert", "-O", "vmdk", "-f", "raw", "base.raw", "base.vmdk"},
               {"qemu-img", "create", "-q", "-f", "qcow2", "-b", "base.vmdk", "-F", "vmdk", "top"}, with(kWrite, {"top"})},
              "top", "base.vmdk"},
        Chain{"qcow2OverQcow2OverRaw",
              {{"qemu-img", "create", "-q", "-f", "qcow2", "-b", "base.raw", "-F", "raw", "middle.qcow2"},
               with(kWrite, {"middle.qcow2"}),
               {"qemu-img", "create", "-q", "-f", "qcow2", "-b", "middle.qcow2", "-F", "qcow2", "top"},
               {"qemu-io", "-c", "write -P 0x5a 100000 1000", "top"}},
              "top", "base.raw"}),
    [](const auto& info) { return info.param.label; });

TEST(QcowChain, AFileNamingItselfIsRefused)
{
    test::TempDir dir;
    run("qemu-img", {"create", "-q", "-f", "qcow2", "self.qcow2", "1M"}, dir.path());
    run("qemu-img", {"rebase", "-u", "-b", "self.qcow2", "-F", "qcow2", "self.qcow2"}, dir.path());
    std::string message;
    EXPECT_FALSE(open(dir / "self.qcow2", &message));
    EXPECT_NE(message.find("more than 16 disks down the chain"), std::string::npos) << message;
}

// Level-2 entries no writer makes (a reserved bit, an offset inside a
// cluster) make their clusters unreadable, told once; the others read.
// Version 1 has no reserved bits: both of its entries point inside a cluster.
class QcowDamage : public ::testing::TestWithParam<std::string> {};

TEST_P(QcowDamage, CorruptTableEntriesAreUnreadableClustersToldOnce)
{
    test::TempDir dir;
    const Bytes raw = sampleDisk();
    writeFile(dir / "raw.img", raw);
    const bool v1 = GetParam() == "qcow";
    run("qemu-img", {"convert", "-f", "raw", "-O", GetParam(), "raw.img", "disk.img"}, dir.path());
    const Bytes file = readFile(dir / "disk.img");
    auto entryAt = [&](std::uint64_t at) {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v = (v << 8) | file[at + i];
        return v;
    };
    const std::uint64_t l2 = entryAt(entryAt(40)) & 0x00FFFFFFFFFFFE00ull;
    for (const int cluster : {2, 3}) {
        const std::uint64_t entry = entryAt(l2 + cluster * 8);
        patch(dir / "disk.img", l2 + cluster * 8, be(cluster == 2 && !v1 ? entry | 2 : entry + 512, 8));
    }

    static int notices = 0;
    static std::string told;
    notices = 0;
    setContainerNoticeHandler([](const std::string& message) {
        ++notices;
        told = message;
    });
    SectorReader reader;
    reader.attach(open(dir / "disk.img"));
    ASSERT_TRUE(reader.isOpen());
    Bytes read(raw.size());
    std::vector<std::uint32_t> unreadable;
    reader.readSectorsZeroFilled(0, static_cast<std::uint32_t>(raw.size() / 512), read, &unreadable);
    setContainerNoticeHandler(nullptr);
    const std::uint32_t cluster = v1 ? 8 : 128;  // sectors: 4 KiB and 64 KiB clusters
    ASSERT_EQ(unreadable.size(), 2 * cluster);
    EXPECT_EQ(unreadable.front(), 2 * cluster) << "clusters 2 and 3";
    EXPECT_EQ(unreadable.back(), 4 * cluster - 1);
    EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + 2 * cluster * 512, read.begin()));
    EXPECT_TRUE(std::equal(raw.begin() + 4 * cluster * 512, raw.end(), read.begin() + 4 * cluster * 512));
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(told.rfind((dir / "disk.img").string() + ": ", 0), 0u) << told;
}

INSTANTIATE_TEST_SUITE_P(Qcow, QcowDamage, ::testing::Values("qcow2", "qcow"));

// Extent files are files beside the descriptor: any other name is refused
// before anything is opened.
class VmdkExtentNames : public ::testing::TestWithParam<std::string> {};

TEST_P(VmdkExtentNames, OtherThanAFileBesideTheDescriptorAreRefused)
{
    test::TempDir dir;
    writeFile(dir / "in-flat.vmdk", Bytes(1 << 20, 1));
    std::ofstream(dir / "d.vmdk") << "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\n"
                                     "createType=\"monolithicFlat\"\n\nRW 2048 FLAT \"" << GetParam() << "\" 0\n";
    std::string message;
    EXPECT_FALSE(open(dir / "d.vmdk", &message));
    EXPECT_EQ(message, (dir / "d.vmdk").string() + ": cannot open the VMware disk image: the extent file \"" + GetParam()
                           + "\" is not a file name beside the descriptor");
}

INSTANTIATE_TEST_SUITE_P(Vmdk, VmdkExtentNames,
                         ::testing::Values("in-flat.vmd/", "/proc/self/mem", "../../../../etc/passwd", "..", "sub\\in-flat.vmdk"));

// Flat extents read from their offset; a stream-optimized disk (read by
// the library), a renamed monolithic sparse one and a hand-made sparse
// extent of 2 MiB grains read whole.
TEST(VmdkExtents, FlatOffsetsLibraryExtentsAndLargeGrainsRead)
{
    test::TempDir dir;
    const Bytes raw = sampleDisk();
    writeFile(dir / "raw.img", raw);
    run("qemu-img", {"convert", "-f", "raw", "-O", "vmdk", "-o", "subformat=streamOptimized", "raw.img", "stream.vmdk"},
        dir.path());
    auto device = open(dir / "stream.vmdk");
    ASSERT_TRUE(device);
    EXPECT_TRUE(readDevice(*device) == raw);
    // A monolithic sparse file renamed: its embedded descriptor names the old name.
    run("qemu-img", {"convert", "-f", "raw", "-O", "vmdk", "raw.img", "old.vmdk"}, dir.path());
    fs::rename(dir / "old.vmdk", dir / "renamed.vmdk");
    device = open(dir / "renamed.vmdk");
    ASSERT_TRUE(device);
    EXPECT_TRUE(readDevice(*device) == raw);

    Bytes flat(4096, 0);
    flat.insert(flat.end(), raw.begin(), raw.begin() + (1 << 20));
    writeFile(dir / "flat.bin", flat);
    std::ofstream(dir / "d.vmdk") << "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\n"
                                     "createType=\"twoGbMaxExtentFlat\"\n\nRW 2040 FLAT \"flat.bin\" 16\n"
                                     "RW 2048 FLAT \"raw.img\" 2048\n";
    device = open(dir / "d.vmdk");
    ASSERT_TRUE(device);
    Bytes expected(raw.begin() + 4096, raw.begin() + (1 << 20));
    expected.insert(expected.end(), raw.begin() + (1 << 20), raw.end());
    EXPECT_TRUE(readDevice(*device) == expected);

    // Grain 0 stored at sector 8, grain 1 not stored: 4096-sector grains.
    Bytes sparse(8 * 512 + (2 << 20), 0);
    const auto le = [&](std::size_t at, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            sparse[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    std::memcpy(sparse.data(), "KDMV", 4);
    le(4, 1, 4);
    le(12, 8192, 8);   // capacity
    le(20, 4096, 8);   // grain size
    le(44, 512, 4);    // entries per grain table
    le(56, 1, 8);      // grain directory at sector 1
    le(512, 2, 4);     // its one grain table at sector 2
    le(1024, 8, 4);    // grain 0 at sector 8
    std::copy_n(raw.begin(), 2 << 20, sparse.begin() + 8 * 512);
    writeFile(dir / "big-grains.vmdk", sparse);
    device = open(dir / "big-grains.vmdk");
    ASSERT_TRUE(device);
    expected.assign(raw.begin(), raw.end());
    expected.resize(4 << 20, 0);
    EXPECT_TRUE(readDevice(*device) == expected);
}

// A library device whose reads fail over one 4 KiB range: counts its calls.
class FlakyLibrary final : public ContainerDevice {
public:
    FlakyLibrary() : ContainerDevice("flaky", 4 << 20) {}
    int calls = 0;
    static constexpr std::uint64_t kBad = (3 << 19) + 512;

protected:
    std::int64_t readLocked(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        ++calls;
        if (offset < kBad + 4096 && kBad < offset + buffer.size())
            return -1;
        std::fill(buffer.begin(), buffer.end(), static_cast<std::uint8_t>(offset / 512));
        return static_cast<std::int64_t>(buffer.size());
    }
};

TEST(ContainerDamage, IsFoundOnceToTheSectorAndNeverAskedAgain)
{
    auto owned = std::make_unique<FlakyLibrary>();
    FlakyLibrary& library = *owned;
    SectorReader reader;
    reader.attach(std::move(owned));
    Bytes read(4 << 20);
    std::vector<std::uint32_t> unreadable;
    for (std::uint32_t s = 0; s < 8192; s += 60) {
        std::vector<std::uint32_t> run;
        reader.readSectors(s, std::min(60u, 8192 - s), std::span(read).subspan(std::size_t{s} * 512), &run);
        for (std::uint32_t i : run)
            unreadable.push_back(s + i);
    }
    std::vector<std::uint32_t> expected;
    for (std::uint32_t s = FlakyLibrary::kBad / 512; s < FlakyLibrary::kBad / 512 + 8; ++s)
        expected.push_back(s);
    EXPECT_EQ(unreadable, expected);
    EXPECT_LT(library.calls, 40) << "a chunk at once, and the failed one halved";
    const int before = library.calls;
    Bytes sector(512);
    EXPECT_FALSE(reader.device()->readAt(FlakyLibrary::kBad, sector).ok);
    EXPECT_TRUE(reader.device()->readAt(FlakyLibrary::kBad + 4096, sector).ok);
    EXPECT_EQ(library.calls, before);
}


// A differencing VHDX (qemu-img makes none: a made one gets a parent in its
// metadata by hand, and its absent blocks are marked not present) reads its
// absent blocks from the parent beside it.
TEST(VhdxChain, ReadsAbsentBlocksFromTheParent)
{
    test::TempDir dir;
    run("qemu-img", {"create", "-q", "-f", "vhdx", "-o", "block_size=1M", "parent.vhdx", "4M"}, dir.path());
    run("qemu-io", {"-c", "write -P 0xa5 0 4M", "parent.vhdx"}, dir.path());
    run("qemu-img", {"create", "-q", "-f", "vhdx", "-o", "block_size=1M", "child.vhdx", "4M"}, dir.path());
    run("qemu-io", {"-c", "write -P 0x5a 1M 1M", "child.vhdx"}, dir.path());
    Bytes file = readFile(dir / "child.vhdx");
    auto le = [&](std::size_t at, int bytes) {
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | file[at + i];
        return v;
    };
    auto put = [&](std::size_t at, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    // The region table: the table's and the metadata's offsets (by the first GUID byte).
    std::size_t bat = 0, meta = 0;
    for (std::size_t e = (192 << 10) + 16; e < (192 << 10) + 16 + 32 * le((192 << 10) + 8, 4); e += 32)
        (file[e] == 0x66 ? bat : meta) = le(e + 16, 8);
    ASSERT_TRUE(bat && meta);
    put(meta + le(meta + 32 + 16, 4) + 4, 2, 4);  // the first item, file parameters: has a parent
    const std::size_t count = le(meta + 10, 2);
    const std::size_t at = 60 << 10;              // free room in the metadata region
    const std::string key = "relative_path", value = ".\\parent.vhdx";
    const Bytes guid = {0x2D, 0x5F, 0xD3, 0xA8, 0x0B, 0xB3, 0x4D, 0x45, 0xAB, 0xF7, 0xD3, 0xD8, 0x48, 0x34, 0xAB, 0x0C};
    std::copy(guid.begin(), guid.end(), file.begin() + static_cast<long>(meta + 32 + 32 * count));
    put(meta + 32 + 32 * count + 16, at, 4);
    put(meta + 32 + 32 * count + 20, 32 + 2 * (key.size() + value.size()), 4);
    put(meta + 10, count + 1, 2);
    put(meta + at + 18, 1, 2);
    put(meta + at + 20, 32, 4);
    put(meta + at + 24, 32 + 2 * key.size(), 4);
    put(meta + at + 28, 2 * key.size(), 2);
    put(meta + at + 30, 2 * value.size(), 2);
    for (std::size_t i = 0; i < key.size() + value.size(); ++i)
        file[meta + at + 32 + 2 * i] = static_cast<std::uint8_t>((key + value)[i]);
    for (const int block : {0, 2, 3})
        put(bat + 8 * block, 0, 8);
    writeFile(dir / "child.vhdx", file);

    auto device = open(dir / "child.vhdx");
    ASSERT_TRUE(device);
    Bytes expected(4 << 20, 0xA5);
    std::fill_n(expected.begin() + (1 << 20), 1 << 20, 0x5A);
    EXPECT_TRUE(readDevice(*device) == expected);
    device.reset();
    fs::remove(dir / "parent.vhdx");
    std::string message;
    EXPECT_FALSE(open(dir / "child.vhdx", &message));
    EXPECT_NE(message.find("parent.vhdx: No such file"), std::string::npos) << message;
}

// A chunk of an evidence file whose checksum fails: its sectors, and only
// they, are unreadable.
TEST(EwfDamage, AChunkWithABadChecksumIsUnreadableAndTheRestReads)
{
    test::TempDir dir;
    const Bytes raw = sampleDisk();
    writeFile(dir / "raw.img", raw);
    run("ewfacquire", {"-u", "-q", "-c", "none", "-t", "disk", "raw.img"}, dir.path());
    patch(dir / "disk.E01", 600'000, Bytes(16, 0xFF));
    SectorReader reader;
    reader.attach(open(dir / "disk.E01"));
    ASSERT_TRUE(reader.isOpen());
    Bytes read(raw.size());
    std::vector<std::uint32_t> unreadable;
    reader.readSectorsZeroFilled(0, static_cast<std::uint32_t>(raw.size() / 512), read, &unreadable);
    ASSERT_EQ(unreadable.size(), 64u) << "one chunk of 32 KiB";
    EXPECT_EQ(unreadable.front() % 64, 0u);
    EXPECT_EQ(unreadable.back(), unreadable.front() + 63);
    const std::size_t from = std::size_t{unreadable.front()} * 512;
    EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + static_cast<long>(from), read.begin()));
    EXPECT_TRUE(std::equal(raw.begin() + static_cast<long>(from) + 32768, raw.end(), read.begin() + static_cast<long>(from) + 32768));
}

} // namespace
} // namespace tamsin
