// The commands on builder-made disks shaped like real servers': a volume
// whose second segment is on another image (--with), hot-fixed blocks,
// name-space chains and mirrored partitions, compared with the manifests.

#include "imagebuilder/ImageBuilder.h"

#include "RunCommand.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>

namespace tamsin {
namespace {

namespace ib = imagebuilder;
using nlohmann::json;
using test::CommandResult;

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ib::PartitionSpec netwarePartition(int slot, std::uint32_t start)
{
    ib::PartitionSpec partition;
    partition.slot = slot;
    partition.startSector = start;
    partition.netware.emplace();
    partition.netware->headers.emplace();
    return partition;
}

class RealDisksCli : public ::testing::Test {
protected:
    void write(const ib::DiskSetSpec& set)
    {
        for (std::size_t i = 0; i < set.disks.size(); ++i)
            disks.push_back((dir / ("disk" + std::to_string(i) + ".img")).string());
        auto built = ib::writeImages(set, {disks.begin(), disks.end()});
        ASSERT_TRUE(built) << built.error();
        layout = *built;
    }
    CommandResult run(std::vector<std::string> args)
    {
        return test::runCommand(TAMSIN_BINARY, args, dir.path());
    }

    // The full path of each manifest entry under its shown names.
    static std::map<std::string, const ib::ManifestEntry*> pathsOf(const ib::VolumeManifest& manifest)
    {
        std::map<std::uint32_t, const ib::ManifestEntry*> folders;
        for (const auto& e : manifest.entries)
            if (e.folder)
                folders[e.ownId] = &e;
        std::map<std::string, const ib::ManifestEntry*> paths;
        for (const auto& e : manifest.entries) {
            std::string path = "/" + e.name;
            for (std::uint32_t parent = e.parentId; parent != 0 && folders.contains(parent);
                 parent = folders[parent]->parentId)
                path = "/" + folders[parent]->name + path;
            paths[path] = &e;
        }
        return paths;
    }

    // ls -r --json lists exactly the manifest's entries, and recover writes
    // every file byte for byte.
    void expectListingAndRecovery(std::vector<std::string> mountArgs, const ib::VolumeManifest& manifest)
    {
        std::vector<std::string> ls{"ls"};
        ls.insert(ls.end(), mountArgs.begin(), mountArgs.end());
        ls.insert(ls.end(), {"--recursive", "--json"});
        const CommandResult listed = run(ls);
        ASSERT_EQ(listed.status, 0) << listed.err;
        const auto expected = pathsOf(manifest);
        std::map<std::string, json> rows;
        for (const json& row : json::parse(listed.out))
            rows[row["path"]] = row;
        ASSERT_EQ(rows.size(), expected.size());
        for (const auto& [path, entry] : expected) {
            ASSERT_TRUE(rows.contains(path)) << path;
            EXPECT_EQ(rows[path]["kind"], entry->folder ? "folder" : "file") << path;
            EXPECT_EQ(rows[path]["dosName"], entry->dosName) << path;
        }

        const auto out = dir / ("recovered" + std::to_string(++recoveries));
        std::vector<std::string> recover{"recover"};
        recover.insert(recover.end(), mountArgs.begin(), mountArgs.end());
        recover.insert(recover.end(), {"--to", out.string()});
        const CommandResult recovered = run(recover);
        EXPECT_EQ(recovered.status, manifest.incompleteFiles > 0 ? 1 : 0) << recovered.err << recovered.out;
        for (const auto& [path, entry] : expected) {
            if (entry->folder)
                continue;
            EXPECT_EQ(readBytes(out.string() + path), ib::expectedData(*entry)) << path;
        }
    }

    test::TempDir dir;
    std::vector<std::string> disks;
    ib::DiskSetLayout layout;
    int recoveries = 0;
};

// Disk 0: SYS with name-space chains and a redirected block of one of its
// files, then DATA's first segment; disk 1: DATA's second segment.
ib::DiskSetSpec twoDiskSet()
{
    ib::DiskSetSpec set;
    ib::PartitionSpec first = netwarePartition(0, 2048);
    ib::SegmentSpec sys;
    sys.name = "SYS";
    sys.volumeRoot = 160;
    sys.contents.emplace();
    ib::Node report = ib::fileNode("REPORT.DOC", 20000);
    report.nameSpaceRecords = {{.nameSpace = 2, .name = "report.doc"}, {.nameSpace = 4, .name = "Annual Report.doc"}};
    ib::Node mac = ib::fileNode("ICON.PCT", 300);
    mac.nameSpaceRecords = {{.nameSpace = 1, .name = "Icon for Mac"}};
    ib::Node projects = ib::folderNode("PROJECTS", {report, mac});
    projects.nameSpaceRecords = {{.nameSpace = 4, .name = "Projects 2024"}};
    sys.contents->nodes = {projects, ib::fileNode("README.TXT", 100)};
    first.netware->segments = {sys};
    ib::HotfixRedirect redirect;
    redirect.logicalBlock = 20 + 8;  // a block of REPORT.DOC (SYS block 8)
    first.netware->headers->redirects = {redirect};
    set.disks.emplace_back().partitions = {first};
    set.disks.emplace_back().partitions = {netwarePartition(1, 63)};

    ib::SpannedVolumeSpec data;
    data.name = "DATA";
    data.sectorsPerBlock = 16;
    data.contents.emplace();
    data.contents->nodes = {ib::fileNode("BIG.BIN", 20 * 8192), ib::folderNode("ARCHIVE", {ib::fileNode("OLD.ZIP", 9000)})};
    ib::SpannedSegmentSpec a, b;
    a.disk = 0;
    a.slot = 0;
    a.sizeSectors = 256;
    b.disk = 1;
    b.slot = 1;
    b.sizeSectors = 512;
    data.segments = {a, b};
    set.volumes = {data};
    return set;
}

TEST_F(RealDisksCli, VolumeWithASegmentOnASecondImageListsAndRecoversWithIt)
{
    write(twoDiskSet());
    const CommandResult alone = run({"volumes", disks[0], "--json"});
    ASSERT_EQ(alone.status, 0) << alone.err;
    const json aloneRows = json::parse(alone.out);
    ASSERT_EQ(aloneRows.size(), 2u);
    EXPECT_EQ(aloneRows[1]["name"], "DATA");
    EXPECT_EQ(aloneRows[1]["complete"], false);
    const CommandResult aloneText = run({"volumes", disks[0]});
    EXPECT_NE(aloneText.out.find("DATA (1/2)"), std::string::npos) << aloneText.out;
    EXPECT_NE(aloneText.out.find("segment 2 of 2 missing"), std::string::npos) << aloneText.out;

    const CommandResult both = run({"volumes", disks[0], "--with", disks[1], "--json"});
    ASSERT_EQ(both.status, 0) << both.err;
    const json rows = json::parse(both.out);
    const auto expected = layout.rows();
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]["name"], expected[i].name);
        EXPECT_EQ(rows[i]["disk"], disks[expected[i].disk]);
        EXPECT_EQ(rows[i]["startSector"], expected[i].startSector);
        EXPECT_EQ(rows[i]["sizeSectors"], expected[i].sizeSectors);
        EXPECT_EQ(rows[i]["sectorsPerBlock"], expected[i].sectorsPerBlock);
        EXPECT_EQ(rows[i]["segment"], expected[i].segmentIndex);
        EXPECT_EQ(rows[i]["segmentCount"], expected[i].segmentCount);
        EXPECT_EQ(rows[i]["volumeBlocks"], expected[i].volumeBlocks);
        EXPECT_EQ(rows[i]["firstVolumeBlock"], expected[i].firstVolumeBlock);
        EXPECT_EQ(rows[i]["complete"], true);
    }

    // Row 2 is DATA's second segment, on disk 1: it mounts the whole volume.
    ASSERT_EQ(rows[2]["name"], "DATA");
    expectListingAndRecovery({disks[0], "--with", disks[1], "--volume", "2"}, *layout.volume("DATA"));
    expectListingAndRecovery({disks[0], "--volume", "0"}, *layout.volume("SYS"));

    const CommandResult info = run({"info", disks[0], "--with", disks[1], "--volume", "1", "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    const json volume = json::parse(info.out);
    EXPECT_EQ(volume["complete"], true);
    ASSERT_EQ(volume["segments"].size(), 2u);
    EXPECT_EQ(volume["segments"][1]["disk"], disks[1]);
    EXPECT_EQ(volume["segments"][1]["firstVolumeBlock"], 16);
    EXPECT_EQ(volume["nameSpaces"], json::array({"DOS"}));
    EXPECT_EQ(volume["redirectedBlocks"], 1) << "the redirect of disk 0's partition, which holds segment 1";

    // A snapshot of the two-segment volume reads through the layout again.
    const std::string base = (dir / "data").string();
    ASSERT_EQ(run({"snapshot", "save", disks[0], "--with", disks[1], "--volume", "2", base}).status, 0);
    const std::string snapshot = (dir / "data.VSNP").string();
    const CommandResult fromMount = run({"ls", disks[0], "--with", disks[1], "--volume", "2", "-r", "--json"});
    const CommandResult fromSnapshot = run({"ls", disks[0], "--with", disks[1], "--snapshot", snapshot, "-r", "--json"});
    ASSERT_EQ(fromSnapshot.status, 0) << fromSnapshot.err;
    EXPECT_EQ(json::parse(fromSnapshot.out).size(), json::parse(fromMount.out).size());
    const auto again = dir / "fromSnapshot";
    ASSERT_EQ(run({"recover", disks[0], "--with", disks[1], "--snapshot", snapshot, "--to", again.string()}).status, 0);
    const ib::ManifestEntry& big = *layout.volume("DATA")->find("BIG.BIN");
    EXPECT_EQ(readBytes(again / "BIG.BIN"), ib::expectedData(big)) << "blocks on the second image come back";

    // A missing --with disk is a clear error.
    const CommandResult missing = run({"ls", disks[0], "--with", (dir / "nope.img").string(), "--volume", "0"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("nope.img"), std::string::npos) << missing.err;
}

TEST_F(RealDisksCli, MirroredPartitionIsListedOnceAndReadFromTheMemberInSync)
{
    ib::DiskSetSpec set;
    ib::PartitionSpec primary = netwarePartition(0, 2048);
    ib::SegmentSpec sys;
    sys.name = "SYS";
    sys.contents.emplace();
    sys.contents->nodes = {ib::fileNode("LEDGER.DAT", 50000), ib::fileNode("NOTES.TXT", 700)};
    primary.netware->segments = {sys};
    ib::PartitionSpec member = netwarePartition(1, 4096);
    member.netware->hotfixLength = 2048;
    member.netware->headers->mirrorOf = ib::PartitionRef{0, 0};
    member.netware->headers->outOfSync = true;
    member.netware->headers->damagedSectors = {180, 181, 182, 183};
    set.disks.emplace_back().partitions = {primary};
    set.disks.emplace_back().partitions = {member};
    write(set);

    const CommandResult listed = run({"volumes", disks[0], "--with", disks[1], "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const json rows = json::parse(listed.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["mirrors"], json::array({disks[0], disks[1]}));

    const CommandResult info = run({"info", disks[0], "--with", disks[1], "--volume", "0", "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    const json partitions = json::parse(info.out)["partitions"];
    ASSERT_EQ(partitions.size(), 2u);
    EXPECT_EQ(partitions[0]["inSync"], true);
    EXPECT_EQ(partitions[1]["inSync"], false);
    const CommandResult text = run({"info", disks[0], "--with", disks[1], "--volume", "0"});
    EXPECT_NE(text.out.find("out of sync"), std::string::npos) << text.out;

    expectListingAndRecovery({disks[0], "--with", disks[1], "--volume", "0"}, *layout.volume("SYS"));
}

} // namespace
} // namespace tamsin
