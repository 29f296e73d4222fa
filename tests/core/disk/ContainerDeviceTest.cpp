// A builder-made disk read through each container format gives the raw
// image's bytes, volumes, tree and files; formats are told by content; a
// damaged container is refused or read with its bad sectors reported.

#include "disk/DiskDevice.h"
#include "disk/DiskEnumerator.h"
#include "disk/SectorReader.h"

#include "ContainerImages.h"
#include "ManifestCheck.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace tamsin {
namespace {

namespace ib = imagebuilder;

std::vector<std::uint8_t> readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One raw disk for the whole suite: a folder tree, files over many blocks and
// a deleted file, about 3 MiB.
class ContainerDeviceTest : public ::testing::TestWithParam<test::ContainerKind> {
protected:
    static void SetUpTestSuite()
    {
        dir = new test::TempDir;
        ib::VolumeContents contents;
        ib::Node gone = ib::fileNode("GONE.TXT", 5000);
        gone.deletedMarker = 1;
        contents.nodes = {ib::folderNode("DOCS", {ib::fileNode("BIG.BIN", 700'000), ib::fileNode("SMALL.TXT", 300)}),
                          ib::fileNode("MIDDLE.DAT", 65'537), gone};
        built = new test::BuiltVolume(test::buildVolume(dir->path() / "raw.img", contents));
    }
    static void TearDownTestSuite()
    {
        delete built;
        delete dir;
    }
    fs::path container(const std::string& name = "disk")
    {
        const fs::path folder = dir->path() / (GetParam().label + "-" + name);
        fs::create_directories(folder);
        return test::makeContainer(built->imagePath, GetParam(), folder, name);
    }

    static test::TempDir* dir;
    static test::BuiltVolume* built;
};

test::TempDir* ContainerDeviceTest::dir = nullptr;
test::BuiltVolume* ContainerDeviceTest::built = nullptr;

TEST_P(ContainerDeviceTest, ReadsTheRawDiskByteForByte)
{
    const fs::path path = container();
    OpenError error;
    DiskFormat format = DiskFormat::Raw;
    auto device = openDiskDevice(path.string(), &error, &format);
    ASSERT_TRUE(device) << error.message;
    EXPECT_EQ(format, GetParam().format);

    // Some writers round the media size up (VHD to its geometry); what lies
    // past the raw disk reads as zeros.
    const std::vector<std::uint8_t> raw = readAll(built->imagePath);
    ASSERT_GE(device->sizeBytes(), raw.size());
    std::vector<std::uint8_t> read(device->sizeBytes() + 4096, 0xEE);
    // Odd-sized pieces at odd offsets cross grains, clusters and segments.
    constexpr std::size_t kPiece = 100'003;
    for (std::size_t at = 0; at < read.size(); at += kPiece) {
        const auto piece = std::span(read).subspan(at, std::min(kPiece, read.size() - at));
        const DeviceRead r = device->readAt(at, piece);
        ASSERT_TRUE(r.ok) << at;
        ASSERT_EQ(r.bytes, std::min<std::uint64_t>(piece.size(), at < device->sizeBytes() ? device->sizeBytes() - at : 0))
            << "short only at the end, at " << at;
    }
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), read.begin())) << "the raw disk's bytes";
    EXPECT_TRUE(std::all_of(read.begin() + static_cast<long>(raw.size()), read.begin() + static_cast<long>(device->sizeBytes()),
                            [](std::uint8_t b) { return b == 0; }));

    DiskInfo disk;
    std::string why;
    ASSERT_TRUE(probeDiskPath(path.string(), disk, why)) << why;
    EXPECT_EQ(disk.format, GetParam().format);
    EXPECT_TRUE(disk.isImage);
    EXPECT_EQ(disk.sizeBytes, device->sizeBytes());
    EXPECT_EQ(disk.model, std::string(diskFormatDescription(GetParam().format)) + " (" + path.filename().string() + ")");
}

TEST_P(ContainerDeviceTest, VolumesTreeAndFilesMatchTheManifest)
{
    const fs::path path = container();
    Session raw;
    test::openDisks(raw, {built->imagePath});
    Session session;
    test::openDisks(session, {path});
    ASSERT_EQ(session.volumes.volumeCount(), raw.volumes.volumeCount());
    for (std::uint32_t i = 0; i < raw.volumes.volumeCount(); ++i) {
        EXPECT_EQ(session.volumes[i].name, raw.volumes[i].name);
        EXPECT_EQ(session.volumes[i].startSector, raw.volumes[i].startSector);
        EXPECT_EQ(session.volumes[i].sizeSectors, raw.volumes[i].sizeSectors);
        EXPECT_EQ(session.volumes[i].sectorsPerBlock, raw.volumes[i].sectorsPerBlock);
        EXPECT_EQ(session.volumes[i].complete(), raw.volumes[i].complete());
    }
    test::expectMountMatches(session, 0, *built->manifest, dir->path() / (GetParam().label + "-out"));
}

// Damage the reader must survive: a container cut short after its first KiB
// (or missing its extent, or with a footer naming no disk type) is refused
// with the format and the library's reason; one cut in the middle is refused
// the same way or opens and reports the lost sectors as unreadable zeros.
TEST_P(ContainerDeviceTest, DamagedContainerIsRefusedOrReportsUnreadableSectors)
{
    const std::string label = GetParam().label;
    const std::string description = diskFormatDescription(GetParam().format);
    auto expectRefused = [&](const fs::path& path, const OpenError& error) {
        const std::string start = path.string() + ": cannot open the " + description + ": ";
        EXPECT_EQ(error.message.rfind(start, 0), 0u) << error.message;
        EXPECT_GT(error.message.size(), start.size()) << "the library's reason follows";
        EXPECT_EQ(error.message.find('\n'), std::string::npos) << error.message;
        DiskInfo disk;
        std::string why;
        EXPECT_FALSE(probeDiskPath(path.string(), disk, why));
        EXPECT_EQ(why, error.message);
    };
    // The file holding most of the data: the extent of a flat or split VMDK.
    auto dataFile = [](const fs::path& path) {
        fs::path largest = path;
        for (const auto& entry : fs::directory_iterator(path.parent_path()))
            if (entry.is_regular_file() && entry.file_size() > fs::file_size(largest))
                largest = entry.path();
        return largest;
    };

    const fs::path cut = container("cut");
    if (label == "vmdkFlat" || label == "vmdkSplit") {
        fs::remove(dataFile(cut));
    } else if (label == "vhdFixed") {
        std::fstream f(cut, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(fs::file_size(cut) - 512 + 60));
        f.write("\0\0\0\x07", 4);
    } else {
        fs::resize_file(cut, 1024);
    }
    OpenError error;
    DiskFormat format = DiskFormat::Raw;
    EXPECT_FALSE(openDiskDevice(cut.string(), &error, &format));
    EXPECT_EQ(format, GetParam().format);
    expectRefused(cut, error);

    const fs::path half = container("half");
    fs::resize_file(dataFile(half), fs::file_size(dataFile(half)) / 2);
    auto device = openDiskDevice(half.string(), &error, &format);
    if (label == "vhdFixed") {
        EXPECT_EQ(format, DiskFormat::Raw) << "without its footer a fixed VHD is a raw image";
        return;
    }
    if (!device) {
        expectRefused(half, error);
        return;
    }
    SectorReader reader;
    reader.attach(std::move(device));
    reader.setRetryCount(1);
    const auto sectors = static_cast<std::uint32_t>(reader.device()->sizeBytes() / kSectorSize);
    std::vector<std::uint8_t> buffer(std::size_t{sectors} * kSectorSize, 0xEE);
    std::vector<std::uint32_t> unreadable;
    EXPECT_GT(reader.readSectorsZeroFilled(0, sectors, buffer, &unreadable), 0u);
    ASSERT_FALSE(unreadable.empty());
    for (std::uint32_t s : unreadable)
        ASSERT_TRUE(std::all_of(buffer.begin() + std::size_t{s} * kSectorSize,
                                buffer.begin() + std::size_t{s + 1} * kSectorSize, [](std::uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Formats, ContainerDeviceTest, ::testing::ValuesIn(test::containerKinds()),
                         [](const auto& info) { return info.param.label; });

// Detection looks at content only.
TEST(DiskFormatDetection, ContentDecidesNotTheName)
{
    test::TempDir dir;
    const test::BuiltVolume built = test::buildVolume(dir / "plain.img", {});
    const fs::path rawNamedVmdk = dir / "x.vmdk";
    fs::copy_file(built.imagePath, rawNamedVmdk);
    fs::rename(test::makeContainer(built.imagePath, {"qcow2", DiskFormat::Qcow2}, dir.path(), "x"), dir / "x.img");

    DiskFormat format = DiskFormat::Vhd;
    ASSERT_TRUE(openDiskDevice(rawNamedVmdk.string(), nullptr, &format));
    EXPECT_EQ(format, DiskFormat::Raw);
    ASSERT_TRUE(openDiskDevice((dir / "x.img").string(), nullptr, &format));
    EXPECT_EQ(format, DiskFormat::Qcow2);
}

TEST(DiskFormatDetection, MagicAndDescriptorRules)
{
    auto bytes = [](std::string_view text, std::size_t size = 1024) {
        std::vector<std::uint8_t> b(size, 0);
        std::copy(text.begin(), text.end(), b.begin());
        return b;
    };
    const std::vector<std::uint8_t> zeros(512, 0);
    using namespace std::string_view_literals;
    EXPECT_EQ(detectDiskFormat(bytes("KDMV"), zeros), DiskFormat::Vmdk);
    EXPECT_EQ(detectDiskFormat(bytes("vhdxfile"), zeros), DiskFormat::Vhdx);
    EXPECT_EQ(detectDiskFormat(bytes("QFI\xfb"sv), zeros), DiskFormat::Qcow2);
    EXPECT_EQ(detectDiskFormat(bytes("EVF\x09\x0d\x0a\xff\x00"sv), zeros), DiskFormat::Ewf);
    EXPECT_EQ(detectDiskFormat(bytes("EVF\x09\x0d\x0a\xff\x01"sv), zeros), DiskFormat::Raw) << "all eight bytes count";
    EXPECT_EQ(detectDiskFormat(bytes("conectix"), zeros), DiskFormat::Vhd) << "a dynamic disk's leading footer copy";
    EXPECT_EQ(detectDiskFormat(zeros, bytes("conectix", 512)), DiskFormat::Vhd) << "a fixed disk's footer";
    auto shortFooter = bytes("", 512);
    std::copy_n("conectix", 8, shortFooter.begin() + 1);
    EXPECT_EQ(detectDiskFormat(zeros, shortFooter), DiskFormat::Vhd) << "a 511-byte footer";
    EXPECT_EQ(detectDiskFormat(bytes("\xef\xbb\xbf# Disk DescriptorFile\nversion=1\n"), zeros), DiskFormat::Vmdk);
    EXPECT_EQ(detectDiskFormat(bytes("\n\n# Disk DescriptorFile\n"), zeros), DiskFormat::Vmdk);
    auto binary = bytes("", 1024);
    std::copy_n("# Disk DescriptorFile", 21, binary.begin() + 600);
    EXPECT_EQ(detectDiskFormat(binary, zeros), DiskFormat::Raw) << "binary bytes before the marker";
    EXPECT_EQ(detectDiskFormat(zeros, zeros), DiskFormat::Raw);
    EXPECT_EQ(detectDiskFormat({}, {}), DiskFormat::Raw) << "an empty file";
}

} // namespace
} // namespace tamsin
