#include "SampleVolumes.h"

#include "imagebuilder/Demo.h"
#include "imagebuilder/ImageBuilder.h"

#include <stdexcept>

namespace tamsin::test {

namespace ib = imagebuilder;

ib::VolumeContents mountSample()
{
    ib::VolumeContents c;
    ib::Node docs = ib::folderNode("DOCS", {ib::fileNode("A.TXT", 100), ib::fileNode("B.DAT", 9000)});
    docs.children[0].longName = "A long name for A.txt";
    ib::Node old = ib::folderNode("OLD", {ib::fileNode("GONE.TXT", 10)});
    old.deletedMarker = 1;
    old.children[0].deletedMarker = 7;
    ib::Node packed = ib::fileNode("PACKED.BIN", 5000);
    packed.compressed = ib::Compression{};
    ib::Node tail = ib::fileNode("TAIL.TXT", 4096 + 700);
    tail.storage = ib::Storage::SuballocationTail;
    c.nodes = {docs, old, packed, tail, ib::fileNode("ROOT.TXT", 1)};
    return c;
}

ib::VolumeContents recoveryTree()
{
    ib::VolumeContents c;
    ib::Node users = ib::folderNode("USERS", {ib::folderNode("ANN", {ib::fileNode("CV.DOC", 7000)}),
                                              ib::fileNode("LIST.TXT", 120)});
    ib::Node gone = ib::fileNode("GONE.TXT", 50);
    gone.deletedMarker = 1;
    ib::Node dotdot = ib::fileNode("..", 20);       // a name that must not climb out
    ib::Node slashed = ib::fileNode("A/B.TXT", 30);  // nor create a folder
    ib::Node evil = ib::folderNode("..", {ib::fileNode("IN.TXT", 5)});
    c.nodes = {users, gone, dotdot, slashed, evil, ib::fileNode("TOP.TXT", 1)};
    return c;
}

ib::VolumeContents sameNameFolders()
{
    ib::VolumeContents c;
    ib::Node live = ib::folderNode("OLDDATA", {ib::fileNode("A.TXT", 100), ib::fileNode("NOTES.TXT", 200)});
    ib::Node gone = ib::folderNode("OLDDATA", {ib::fileNode("NOTES.TXT", 300), ib::fileNode("B.TXT", 400)});
    gone.deletedMarker = 1;
    for (ib::Node& file : gone.children)
        file.deletedMarker = 1;
    c.nodes = {live, gone};
    return c;
}

ib::VolumeContents commandSample()
{
    ib::VolumeContents c;
    ib::Node mail = ib::folderNode("MAIL", {ib::fileNode("INBOX.TXT", 2000)});
    ib::Node system = ib::folderNode("SYSTEM", {mail, ib::fileNode("README.TXT", 100)});
    ib::Node old = ib::fileNode("OLD.BAK", 5000);
    old.deletedMarker = 1;
    old.longName = "Old backup file.bak";
    ib::Node packed = ib::fileNode("PACKED.DAT", 3000);
    packed.compressed = ib::Compression{};
    ib::Node orphan = ib::fileNode("ORPHAN.TXT", 64);
    orphan.parentId = 4242;  // its folder is gone
    ib::Node myReadme = ib::fileNode("MYREADME.BAK", 10);
    myReadme.longName = "MYREADME.TXT.BAK";
    c.nodes = {system, old, packed, orphan, myReadme};
    return c;
}

ib::DiskSpec nameSpaceDisk()
{
    ib::VolumeContents contents;
    ib::Node report = ib::fileNode("REPORT.DOC", 5000);
    report.nameSpaceRecords = {{.nameSpace = 2, .name = "report.doc"}, {.nameSpace = 4, .name = "Annual Report 2024.doc"}};
    report.modifiedDateTime = ib::packDateTime(2024, 3, 1, 9, 30, 0);
    ib::Node mac = ib::fileNode("ICON.PCT", 100);
    mac.nameSpaceRecords = {{.nameSpace = 1, .name = "Icon picture"}};
    ib::Node loop = ib::fileNode("LOOP.TXT", 10);
    loop.nameSpaceRecords = {{.nameSpace = 2, .name = "loop.txt"}, {.nameSpace = 4, .name = "Looping.txt"}};
    ib::Node folder = ib::folderNode("PROJECTS", {report, mac});
    folder.nameSpaceRecords = {{.nameSpace = 4, .name = "Projects 2024"}};
    contents.nodes = {folder, loop};
    contents.root = ib::RootRecord{.nameSpaces = {0, 4, 2, 1}, .created = ib::packDateTime(2011, 2, 3, 18, 58, 40)};

    // LOOP.TXT's chain loops: its LONG record names its NFS record again.
    ib::DiskSpec disk = ib::singleVolumeDisk("SYS", 8, contents);
    const auto planned = ib::planImage(disk);
    if (!planned)
        throw std::runtime_error(planned.error());
    const ib::ManifestEntry* plannedLoop = planned->volume("SYS")->find("Looping.txt");
    if (!plannedLoop)
        throw std::runtime_error("no Looping.txt planned");
    disk.partitions[0].netware->segments[0].contents->nodes[1].nameSpaceRecords[1].next = plannedLoop->nameList;
    return disk;
}

ib::VolumeContents nextSlotOwners()
{
    ib::VolumeContents contents;
    ib::Node beta = ib::fileNode("BETA.TXT", 100);
    beta.nameSpaceRecords = {{.nameSpace = 4, .name = "Beta long name.txt", .position = 3}};
    ib::Node alpha = ib::fileNode("ALPHA.TXT", 200);
    ib::Node gamma = ib::fileNode("GAMMA.TXT", 300);
    gamma.nameSpaceRecords = {{.nameSpace = 4, .name = "Gamma long name.txt", .position = 6}};
    ib::Node old = ib::fileNode("OLD.TXT", 50);
    old.deletedMarker = 0x01000000;
    old.nameList = 4000;  // its own records were reused
    contents.nodes = {beta, alpha, gamma, old};
    contents.root = ib::RootRecord{.nameSpaces = {0, 4}};
    return contents;
}

ib::VolumeContents chainPrimaryEntries()
{
    ib::VolumeContents contents;
    ib::Node report = ib::fileNode("REPORT.DOC", 300);
    report.ownId = 555;
    report.nameSpaceRecords = {{.nameSpace = 4, .name = "Annual report.doc", .primaryEntry = 555}};
    ib::Node other = ib::fileNode("OTHER.TXT", 30);
    other.ownId = 556;
    other.nameSpaceRecords = {{.nameSpace = 4, .name = "Not mine.txt", .primaryEntry = 777}};
    ib::Node projects = ib::folderNode("PROJECTS", {report, other});
    projects.ownId = 999;
    projects.nameSpaceRecords = {{.nameSpace = 4, .name = "Projects 2024", .primaryEntry = 999}};
    contents.nodes = {projects};
    contents.root = ib::RootRecord{.nameSpaces = {0, 4}};
    return contents;
}

std::vector<SampleVolume> sampleVolumes()
{
    auto single = [](ib::VolumeContents (*contents)()) {
        return [contents] { return ib::singleVolumeDisk("SYS", 8, contents()); };
    };
    return {
        {"mount", single(mountSample)},
        {"recovery", single(recoveryTree)},
        {"sameNameFolders", single(sameNameFolders)},
        {"commands", single(commandSample)},
        {"nameSpaces", nameSpaceDisk},
        {"nextSlotOwners", single(nextSlotOwners)},
        {"chainPrimaryEntries", single(chainPrimaryEntries)},
        {"demo", ib::demoDiskSpec},
        {"generated",
         [] {
             ib::VolumeContents c;
             c.generate = ib::GeneratedTree{.entries = 3000, .perFolder = 60, .deletedEvery = 7, .longNameEvery = 3,
                                            .chainedLongNameEvery = 5, .fileSize = 700};
             c.root = ib::RootRecord{.nameSpaces = {0, 4}};
             return ib::singleVolumeDisk("SYS", 16, c);
         }},
    };
}

void addNoise(ib::DiskSpec& disk, std::uint64_t seed)
{
    for (ib::PartitionSpec& partition : disk.partitions)
        if (partition.netware)
            for (ib::SegmentSpec& segment : partition.netware->segments)
                if (segment.contents)
                    segment.contents->noiseSeed = seed;
}

} // namespace tamsin::test
