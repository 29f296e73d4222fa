// The mount-based commands of `tamsin` on builder-made images, compared with
// what the builder wrote.

#include "imagebuilder/Demo.h"
#include "imagebuilder/ImageBuilder.h"

#include "RunCommand.h"
#include "SampleVolumes.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <set>
#include <sstream>

namespace tamsin {
namespace {

namespace ib = imagebuilder;
using test::CommandResult;
using nlohmann::json;

std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class MountCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        built = test::buildVolume(dir / "disk.img", test::commandSample(), 8);
        ASSERT_TRUE(built.manifest);
    }
    CommandResult run(const std::vector<std::string>& args) { return test::runCommand(TAMSIN_BINARY, args, dir.path()); }

    test::TempDir dir;
    test::BuiltVolume built;
};

TEST_F(MountCommandsTest, RecursiveJsonListsExactlyWhatTheBuilderWrote)
{
    const CommandResult r = run({"ls", built.imagePath, "--volume", "0", "--recursive", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json rows = json::parse(r.out);

    // Folders in list order (then the placeholder for the lost folder), then files.
    std::vector<const ib::ManifestEntry*> folders, files;
    for (const auto& e : built.manifest->entries)
        (e.folder ? folders : files).push_back(&e);
    ASSERT_EQ(rows.size(), folders.size() + 1 + files.size());
    for (std::size_t i = 0; i < folders.size(); ++i) {
        EXPECT_EQ(rows[i]["name"], folders[i]->name);
        EXPECT_EQ(rows[i]["kind"], "folder");
        EXPECT_EQ(rows[i]["ownId"], folders[i]->ownId);
    }
    const json& placeholder = rows[folders.size()];
    EXPECT_EQ(placeholder["name"], "Dir0");
    EXPECT_EQ(placeholder["path"], "/Dir0");
    EXPECT_EQ(placeholder["ownId"], 4242);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const json& row = rows[folders.size() + 1 + i];
        const ib::ManifestEntry& e = *files[i];
        EXPECT_EQ(row["name"], e.name);
        EXPECT_EQ(row["kind"], "file");
        EXPECT_EQ(row["size"], e.size);
        EXPECT_EQ(row["deleted"], e.deleted());
        EXPECT_EQ(row["compressed"], e.compressed());
        EXPECT_EQ(row["parentId"], e.parentId);
        EXPECT_EQ(row["firstBlock"], e.firstBlock);
    }
    auto pathOf = [&](const std::string& name) {
        for (const auto& row : rows)
            if (row["name"] == name)
                return row["path"].get<std::string>();
        return std::string();
    };
    EXPECT_EQ(pathOf("INBOX.TXT"), "/SYSTEM/MAIL/INBOX.TXT");
    EXPECT_EQ(pathOf("Old backup file.bak"), "/Old backup file.bak");
    EXPECT_EQ(pathOf("ORPHAN.TXT"), "/Dir0/ORPHAN.TXT");
}

TEST_F(MountCommandsTest, FolderListingTextAndFilters)
{
    CommandResult r = run({"ls", built.imagePath, "--volume", "0", "/SYSTEM"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Name        Type      Size  Date         Time");
    EXPECT_NE(r.out.find("MAIL        Folder       0  15-Jun-1998  12:00:00"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("README.TXT  TXT File   100  15-Jun-1998  12:00:00"), std::string::npos) << r.out;

    r = run({"ls", built.imagePath, "--volume", "0", "--filter", "*.BAK"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Deleted BAK File"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("PACKED.DAT"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SYSTEM"), std::string::npos);  // folders stay

    EXPECT_EQ(run({"ls", built.imagePath, "--volume", "0", "/NOPE"}).status, 1);
    EXPECT_EQ(run({"ls", built.imagePath, "--volume", "7"}).status, 1);
    EXPECT_EQ(run({"ls", built.imagePath, "--volume", "0", "--filter", std::string(20, 'x')}).status, 2);
}

TEST_F(MountCommandsTest, InfoReportsTheLayoutAndCounts)
{
    const CommandResult r = run({"info", built.imagePath, "--volume", "0", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json info = json::parse(r.out);
    EXPECT_EQ(info["name"], "SYS");
    EXPECT_EQ(info["startSector"], built.manifest->startSector);
    EXPECT_EQ(info["sectorsPerBlock"], 8);
    EXPECT_EQ(info["folders"], 3);  // SYSTEM, MAIL and the placeholder
    EXPECT_EQ(info["files"], 6);
    EXPECT_EQ(info["chosenFatCopy"], 1);

    const CommandResult text = run({"info", built.imagePath, "--volume", "0"});
    EXPECT_NE(text.out.find("Volume Type:   Novell Traditional Volume"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Second DET:"), std::string::npos) << text.out;
}

TEST_F(MountCommandsTest, RecoverAndCatWriteTheFilesBytes)
{
    const auto out = dir / "recovered";
    CommandResult r = run({"recover", built.imagePath, "--volume", "0", "--to", out.string()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Recovered 6 file(s)"), std::string::npos) << r.out;
    auto expected = [&](const std::string& name) {
        const auto bytes = ib::expectedData(*built.manifest->find(name));
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(readText(out / "SYSTEM" / "MAIL" / "INBOX.TXT"), expected("INBOX.TXT"));
    EXPECT_EQ(readText(out / "Dir0" / "ORPHAN.TXT"), expected("ORPHAN.TXT"));
    EXPECT_EQ(readText(out / "PACKED.DAT"), expected("PACKED.DAT"));

    r = run({"recover", built.imagePath, "--volume", "0", "--to", out.string(), "--deleted", "only", "/SYSTEM",
             "/Old backup file.bak"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Recovered 1 file(s)"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(out / "Copy (1 ) of Old backup file.bak"));

    r = run({"cat", built.imagePath, "--volume", "0", "/SYSTEM/README.TXT"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected("README.TXT"));
    EXPECT_EQ(run({"cat", built.imagePath, "--volume", "0", "/SYSTEM"}).status, 1);
    EXPECT_EQ(run({"recover", built.imagePath, "--volume", "0", "--to", out.string(), "--duplicates", "keep"}).status,
              2);
}

TEST_F(MountCommandsTest, CompressedFilesAreReportedWithTheirHeaders)
{
    const CommandResult r = run({"compressed", built.imagePath, "--volume", "0", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json rows = json::parse(r.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["path"], "/PACKED.DAT");
    EXPECT_EQ(rows[0]["size"], 3000);
    EXPECT_EQ(rows[0]["checkSize"], 3000);
    EXPECT_EQ(rows[0]["headerMatches"], true);
    EXPECT_EQ(rows[0]["storedLength"], ib::expectedData(*built.manifest->find("PACKED.DAT")).size());
}

TEST_F(MountCommandsTest, FindMatchesNamesInEveryFolder)
{
    const CommandResult r = run({"find", built.imagePath, "--volume", "0", "readme.txt", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out), json::parse(R"([{"name":"README.TXT","path":"\\SYSTEM","size":100},
                                                  {"name":"MYREADME.TXT.BAK","path":"\\","size":10}])"));
    const CommandResult txt = run({"find", built.imagePath, "--volume", "0", "*.TXT"});
    EXPECT_NE(txt.out.find("\\SYSTEM\\MAIL"), std::string::npos) << txt.out;
}

TEST_F(MountCommandsTest, RescueMapBesideTheImageMakesItsUnrescuedSectorsUnreadable)
{
    const ib::ManifestEntry& inbox = *built.manifest->find("INBOX.TXT");
    const std::uint64_t bad = built.manifest->blockSector(inbox.dataBlocks.at(0)) + 1;
    const std::uint64_t size = std::filesystem::file_size(built.imagePath);
    auto hex = [](std::uint64_t v) {
        std::ostringstream out;
        out << "0x" << std::hex << v;
        return out.str();
    };
    {
        std::ofstream map(built.imagePath + ".map");
        map << "# Mapfile\n0x00000000 + 1\n"
            << "0x0 " << hex(bad * 512) << " +\n"
            << hex(bad * 512) << " 0x200 -\n"
            << hex((bad + 1) * 512) << ' ' << hex(size - (bad + 1) * 512) << " +\n";
    }
    const auto out = dir / "mapped";
    CommandResult r = run({"recover", built.imagePath, "--volume", "0", "--to", out.string()});
    EXPECT_EQ(r.status, 4) << r.err;  // completed, with an incomplete file
    EXPECT_NE(r.out.find("incomplete:          1"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("rescue map " + built.imagePath + ".map"), std::string::npos) << r.err;
    const std::vector<std::uint8_t> data = expectedData(inbox);
    std::string expected(data.begin(), data.end());
    std::fill_n(expected.begin() + 512, 512, '\0');
    EXPECT_EQ(readText(out / "SYSTEM" / "MAIL" / "INBOX.TXT"), expected);

    // No destination is a usage error; a destination that cannot be made is
    // named on standard error.
    r = run({"recover", built.imagePath, "--volume", "0", "--to", ""});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no destination folder given"), std::string::npos) << r.err;
    std::ofstream(dir / "afile") << "x";
    r = run({"recover", built.imagePath, "--volume", "0", "--to", (dir / "afile" / "sub").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create folder " + (dir / "afile" / "sub").string() + ": Not a directory"),
              std::string::npos)
        << r.err;

    // Without the map the sector reads as the image holds it.
    r = run({"recover", built.imagePath, "--volume", "0", "--no-map", "--to", (dir / "unmapped").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("incomplete:          0"), std::string::npos) << r.out;
    EXPECT_EQ(readText(dir / "unmapped" / "SYSTEM" / "MAIL" / "INBOX.TXT"), std::string(data.begin(), data.end()));

    // A map that does not fit is refused, naming the line.
    {
        std::ofstream map(built.imagePath + ".map");
        map << "0 + 1\n0 " << hex(size + 512) << " +\n";
    }
    r = run({"volumes", built.imagePath});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line 2: the block reaches past the end of the image"), std::string::npos) << r.err;
}

TEST_F(MountCommandsTest, DamageListsTablesFirstThenTheFilesOnUnreadSectors)
{
    CommandResult r = run({"damage", built.imagePath, "--volume", "0", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out), json::array());

    // Unread: INBOX.TXT's second sector, README.TXT's DET sector in both
    // copies, and the first copy of the volume table (another copy serves).
    const ib::ManifestEntry& inbox = *built.manifest->find("INBOX.TXT");
    const ib::ManifestEntry& readme = *built.manifest->find("README.TXT");
    const std::string image = readText(built.imagePath);
    const std::uint64_t table = image.find("NetWare Volumes") / 512;
    ASSERT_LT(table, built.manifest->startSector);
    std::set<std::uint64_t> bad{built.manifest->blockSector(inbox.dataBlocks.at(0)) + 1, readme.entrySector,
                                readme.mirrorSector, table};
    std::ofstream(built.imagePath + ".map") << test::rescueMapText(image.size(), bad);
    r = run({"damage", built.imagePath, "--volume", "0", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json rows = json::parse(r.out);
    ASSERT_GE(rows.size(), 2u) << r.out;
    EXPECT_EQ(rows.front(), json::parse(R"({"path":"DET","kind":"table","unreadableBytes":512,"totalBytes":)"
                                        + std::to_string(rows.front()["totalBytes"].get<std::uint64_t>()) + "}"));
    EXPECT_EQ(rows.back(), json::parse(R"({"path":"/SYSTEM/MAIL/INBOX.TXT","kind":"file","unreadableBytes":512,
                                           "totalBytes":2000})"));
    // Every mount warns of the table sectors it could not read, and info counts them.
    EXPECT_NE(r.err.find("tamsin: warning: unreadable table sectors: FAT copy 1: 0, copy 2: 0; DET copy 1: 1, copy 2: 1; "
                         "1 directory sector(s) unreadable in both copies: their entries are lost"),
              std::string::npos)
        << r.err;
    r = run({"info", built.imagePath, "--volume", "0", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["unreadableTableSectors"],
              json::parse(R"({"fat":[0,0],"det":[1,1],"lostDirectorySectors":1})"));

    // The text form names the same file with its intact share.
    r = run({"damage", built.imagePath, "--volume", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("/SYSTEM/MAIL/INBOX.TXT  file"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("74.4%"), std::string::npos) << r.out;

    // A recovery through the same map names the damaged file; every other
    // file it writes is byte-exact.
    r = run({"recover", built.imagePath, "--volume", "0", "--to", (dir / "out").string()});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.out.find("INBOX.TXT: 1 unreadable sector(s) written as zeros (512 of its bytes)"), std::string::npos)
        << r.out;
    std::size_t exact = 0;
    for (const auto& file : std::filesystem::recursive_directory_iterator(dir / "out")) {
        const ib::ManifestEntry* entry = built.manifest->find(file.path().filename().string());
        if (!file.is_regular_file() || !entry || entry == &inbox || entry->compressed())
            continue;
        const std::vector<std::uint8_t> data = expectedData(*entry);
        EXPECT_EQ(readText(file.path()), std::string(data.begin(), data.end())) << file.path();
        ++exact;
    }
    EXPECT_GE(exact, 2u);
}

TEST_F(MountCommandsTest, SnapshotSavedInOneProcessListsAndRecoversTheSameInAnother)
{
    // Where it cannot be written, the path and the reason are named; a folder is no file name.
    CommandResult bad = run({"snapshot", "save", built.imagePath, "--volume", "0", (dir / "missing" / "sys").string()});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("cannot write the snapshot " + (dir / "missing" / "sys.VSNP").string()
                           + ": No such file or directory"),
              std::string::npos)
        << bad.err;
    bad = run({"snapshot", "save", built.imagePath, "--volume", "0", dir.path().string() + "/"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("is a folder: give the snapshot a file name"), std::string::npos) << bad.err;
    EXPECT_FALSE(std::filesystem::exists(dir / ".VSNP"));

    const auto snapshotBase = (dir / "sys").string();
    CommandResult r = run({"snapshot", "save", built.imagePath, "--volume", "0", snapshotBase});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string snapshot = (dir / "sys.VSNP").string();
    ASSERT_TRUE(std::filesystem::exists(snapshot));
    // A name ending in .vsnp, in any case, is written as typed, so a script can load it by that name.
    const std::string typed = (dir / "perf.vsnp").string();
    ASSERT_EQ(run({"snapshot", "save", built.imagePath, "--volume", "0", typed}).status, 0);
    EXPECT_EQ(run({"ls", built.imagePath, "--snapshot", typed}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "PERF.VSNP"));

    const CommandResult mounted = run({"ls", built.imagePath, "--volume", "0", "-r", "--json"});
    const CommandResult loaded = run({"ls", built.imagePath, "--snapshot", snapshot, "-r", "--json"});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    // Snapshots keep the shown names only; the DOS names come from a mount.
    auto withoutDosNames = [](const std::string& out) {
        auto json = nlohmann::json::parse(out);
        for (auto& entry : json)
            entry.erase("dosName");
        return json;
    };
    EXPECT_EQ(withoutDosNames(loaded.out), withoutDosNames(mounted.out));

    const auto a = dir / "a", b = dir / "b";
    ASSERT_EQ(run({"recover", built.imagePath, "--volume", "0", "--to", a.string()}).status, 0);
    ASSERT_EQ(run({"recover", built.imagePath, "--snapshot", snapshot, "--to", b.string()}).status, 0);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(a)) {
        const auto other = b / std::filesystem::relative(entry.path(), a);
        ASSERT_TRUE(std::filesystem::exists(other)) << other;
        if (entry.is_regular_file()) {
            EXPECT_EQ(readText(entry.path()), readText(other)) << other;
        }
    }

    std::ofstream(dir / "BAD.VSNP") << "vsp4.01 and more";
    r = run({"ls", built.imagePath, "--snapshot", (dir / "BAD.VSNP").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Invalid version of the file found : vsp4.01"), std::string::npos) << r.err;

    // Another disk does not hold the snapshot's entries: refused unless forced.
    ib::VolumeContents otherContents;
    otherContents.nodes = {ib::folderNode("OTHER", {ib::fileNode("ELSE.TXT", 300)}), ib::fileNode("NOTHERE.DAT", 90)};
    const auto other = test::buildVolume(dir / "other.img", otherContents, 8);
    r = run({"ls", other.imagePath, "--snapshot", snapshot});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("This snapshot was saved from another disk or volume"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("give --force to load it anyway"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    r = run({"ls", other.imagePath, "--snapshot", snapshot, "--force"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("SYSTEM"), std::string::npos) << r.out;
}

TEST_F(MountCommandsTest, NamesAreConvertedFromTheVolumesCodePage)
{
    ib::VolumeContents c;
    c.nodes = {ib::fileNode("PRI\x9B.TXT", 3)};
    const auto image = test::buildVolume(dir / "cp.img", c, 8);
    CommandResult r = run({"ls", image.imagePath, "--volume", "0", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)[0]["name"], "PRI\u00A2.TXT");  // the cent sign of code page 437
    r = run({"ls", image.imagePath, "--volume", "0", "--json", "--codepage", "CP850"});
    EXPECT_EQ(json::parse(r.out)[0]["name"], "PRI\u00F8.TXT");
    const auto out = dir / "cp-out";
    ASSERT_EQ(run({"recover", image.imagePath, "--volume", "0", "--to", out.string()}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(out / "PRI\u00A2.TXT"));
}

TEST_F(MountCommandsTest, ControlCharactersInNamesNeverReachTheTerminal)
{
    ib::VolumeContents c;
    ib::Node hostile = ib::fileNode("X", 3);
    hostile.name = "\x1b]0;PWN\x07" "A";  // would retitle the terminal
    c.nodes = {hostile};
    const auto image = test::buildVolume(dir / "esc.img", c, 8);
    const CommandResult r = run({"ls", image.imagePath, "--volume", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find("?]0;PWN?A"), std::string::npos) << r.out;
    const CommandResult json = run({"ls", image.imagePath, "--volume", "0", "--json"});
    EXPECT_EQ(json::parse(json.out)[0]["name"], "\x1b]0;PWN\x07" "A");  // escaped by JSON, kept exact
}

TEST_F(MountCommandsTest, DifferingCopiesNeedAChoiceWithoutATerminal)
{
    ib::VolumeContents c = test::commandSample();
    c.fatCopy2Patches.push_back({3000, 0, {0x99}});
    const auto differing = test::buildVolume(dir / "differ.img", c, 8);
    CommandResult r = run({"ls", differing.imagePath, "--volume", "0"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("--fat-copy"), std::string::npos) << r.err;
    r = run({"ls", differing.imagePath, "--volume", "0", "--fat-copy", "2", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out).size(), 5u);
}

TEST_F(MountCommandsTest, SearchFindsTheVolumesOfAWipedDisk)
{
    ib::DiskSpec diskSpec = ib::demoDiskSpec();
    diskSpec.bootSignature = false;
    for (auto& partition : diskSpec.partitions)
        partition.type = 0;
    const auto image = dir / "wiped.img";
    ASSERT_TRUE(ib::writeImage(diskSpec, image).ok());

    CommandResult r = run({"volumes", image.string()});
    EXPECT_NE(r.out.find("No partition table"), std::string::npos) << r.out;
    r = run({"volumes", image.string(), "--search", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json volumes = json::parse(r.out);
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[0]["name"], "SYS");
    EXPECT_EQ(volumes[1]["name"], "VOL1");

    // An end past the disk is clamped to it, with a warning; a start past it is refused.
    const std::uint64_t sectors = std::filesystem::file_size(image) / 512;
    r = run({"volumes", image.string(), "--search", "--end", "4000000000", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out).size(), 2u);
    EXPECT_NE(r.err.find("--end 4000000000 is past the end of the disk; the search ends at sector "
                         + std::to_string(sectors)),
              std::string::npos)
        << r.err;
    r = run({"volumes", image.string(), "--search", "--start", "3999999999", "--end", "4000000000"});
    EXPECT_EQ(r.status, 2);  // a range the disk cannot have, like other range errors
    EXPECT_NE(r.err.find("--start 3999999999 is past the end of the disk"), std::string::npos) << r.err;

    r = run({"ls", image.string(), "--search", "--volume", "0", "/USERS"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ALICE"), std::string::npos) << r.out;
}

} // namespace
} // namespace tamsin
