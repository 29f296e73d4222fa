#include "imagebuilder/Demo.h"

namespace tamsin::imagebuilder {

namespace {

constexpr std::uint32_t kSectorsPerMiB = 2048;

SegmentSpec demoVolume(std::string name, std::uint32_t sizeMiB, std::vector<Node> tree)
{
    SegmentSpec segment;
    segment.name = std::move(name);
    segment.sizeSectors = sizeMiB * kSectorsPerMiB;
    segment.sectorsPerBlock = 8;
    segment.contents.emplace();
    segment.contents->nodes = std::move(tree);
    return segment;
}

Node dated(Node node, int year, int month, int day, int hour, int minute)
{
    node.dateTime = packDateTime(year, month, day, hour, minute, 0);
    return node;
}

Node file(std::string name, std::uint32_t size, int year, int month, int day, int hour, int minute)
{
    return dated(fileNode(std::move(name), size), year, month, day, hour, minute);
}

Node text(std::string name, const std::string& contents, int year, int month, int day, int hour, int minute)
{
    return dated(textFileNode(std::move(name), contents), year, month, day, hour, minute);
}

Node folder(std::string name, std::vector<Node> children, int year, int month, int day)
{
    return dated(folderNode(std::move(name), std::move(children)), year, month, day, 9, 0);
}

Node longNamed(Node node, std::string longName)
{
    node.longName = std::move(longName);
    return node;
}

// A long name in a LONG record chained from the DOS entry, in the slot after
// it, as servers write them.
Node chainedLongName(Node node, std::string longName)
{
    NameSpaceRecord record;
    record.nameSpace = kLongNameSpace;
    record.name = std::move(longName);
    record.adjacent = true;
    node.nameSpaceRecords.push_back(std::move(record));
    return node;
}

Node deleted(Node node)
{
    node.deletedMarker = kDefaultDeletedMarker;
    for (Node& child : node.children)
        child = deleted(std::move(child));
    return node;
}

std::vector<Node> sysTree()
{
    const std::string autoexec = "SET TIME ZONE = EST5EDT\r\n"
                                 "FILE SERVER NAME ACME-FS1\r\n"
                                 "IPX INTERNAL NET 1A2B3C4D\r\n"
                                 "LOAD NE2000 PORT=300 INT=3 FRAME=ETHERNET_802.2\r\n"
                                 "BIND IPX TO NE2000 NET=0000BEEF\r\n"
                                 "MOUNT ALL\r\n";
    const std::string readme = "Workstation utilities for ACME-FS1.\r\n"
                               "Run LOGIN from drive F: and MAP to see your drive mappings.\r\n";
    std::string notes;
    for (int line = 1; notes.size() < 5300; ++line)
        notes += "Note " + std::to_string(line) + ": call the supplier about the March order.\r\n";
    notes.resize(5300); // one 4 KiB block and a suballocated tail

    Node notesFile = text("NOTES.TXT", notes, 1998, 11, 2, 16, 40);
    notesFile.storage = Storage::SuballocationTail;
    Node todo = text("TODO.TXT", "Finish the project plan before Friday.\r\n", 1999, 1, 18, 8, 5);
    todo.storage = Storage::FragmentOnly;
    Node customers = longNamed(file("CUSTOMER.TXT", 61440, 1999, 2, 3, 14, 12), "Customer Address List.txt");
    customers.compressed = Compression{};
    customers.compressed->storedLength = 20000;

    return {
        folder("LOGIN", {file("LOGIN.EXE", 58911, 1996, 9, 12, 10, 0), file("SLIST.EXE", 21344, 1996, 9, 12, 10, 0)},
               1996, 9, 12),
        folder("PUBLIC",
               {file("MAP.EXE", 34512, 1996, 9, 12, 10, 0), file("NDIR.EXE", 45102, 1996, 9, 12, 10, 0),
                file("CAPTURE.EXE", 29876, 1996, 9, 12, 10, 0), text("README.TXT", readme, 1997, 1, 6, 11, 30)},
               1996, 9, 12),
        folder("SYSTEM",
               {text("AUTOEXEC.NCF", autoexec, 1998, 4, 20, 17, 45), file("MONITOR.NLM", 120733, 1996, 9, 12, 10, 0),
                file("SYS$LOG.ERR", 2210, 1999, 3, 1, 7, 58),
                deleted(text("AUTOEXEC.BAK", autoexec.substr(0, 120), 1998, 4, 20, 17, 40))},
               1996, 9, 12),
        folder("USERS",
               {folder("ALICE",
                       {longNamed(file("QUARTERL.DOC", 24576, 1998, 12, 30, 15, 20), "Quarterly Report 1998.doc"),
                        longNamed(file("BUDGETFO.XLS", 18944, 1999, 1, 11, 9, 47), "Budget Forecast 1999.xls"),
                        notesFile, customers},
                       1997, 2, 3),
                folder("BOB",
                       {chainedLongName(file("MEETINGM.DOC", 11776, 1999, 3, 15, 11, 2), "Meeting Minutes March.doc"),
                        chainedLongName(file("PROJECTP.MPP", 39424, 1999, 2, 26, 17, 31), "Project Plan.mpp"), todo},
                       1997, 2, 3),
                deleted(folder("CAROL",
                               {chainedLongName(file("RESIGNAT.DOC", 9728, 1998, 7, 31, 16, 55), "Resignation Letter.doc"),
                                file("OLDMAIL.TXT", 3100, 1998, 7, 30, 12, 10)},
                               1997, 5, 19))},
               1997, 2, 3),
    };
}

std::vector<Node> vol1Tree()
{
    const std::string phones = "Reception      100\r\nAccounts       210\r\n"
                               "Warehouse      330\r\nIT Support     400\r\n";
    return {
        folder("DATA",
               {folder("ACCOUNTS",
                       {file("LEDGER98.DBF", 98304, 1998, 12, 31, 18, 0),
                        file("LEDGER99.DBF", 40960, 1999, 3, 12, 18, 0),
                        file("INVOICES.DBF", 65536, 1999, 3, 12, 18, 5)},
                       1997, 1, 2),
                folder("STOCK", {file("STOCK.DBF", 53248, 1999, 3, 10, 7, 30)}, 1997, 1, 2)},
               1997, 1, 2),
        folder("ARCHIVE",
               {folder("1997",
                       {longNamed(file("ANNUALSU.DOC", 31744, 1998, 1, 15, 10, 10), "Annual Summary 1997.doc"),
                        deleted(file("BACKUP.ZIP", 150000, 1998, 1, 16, 19, 45))},
                       1998, 1, 15)},
               1998, 1, 15),
        folder("SHARED", {longNamed(text("PHONES.TXT", phones, 1999, 2, 1, 9, 0), "Company Phone List.txt")}, 1997, 1,
               2),
    };
}

} // namespace

DiskSpec demoDiskSpec()
{
    DiskSpec disk;
    disk.totalSectors = 256 * kSectorsPerMiB;

    PartitionSpec fat;
    fat.slot = 0;
    fat.type = 0x0C;
    fat.startSector = 2048;
    fat.sizeSectors = 32 * kSectorsPerMiB;
    disk.partitions.push_back(fat);

    PartitionSpec netware;
    netware.slot = 1;
    netware.type = kNetWarePartitionType;
    netware.startSector = fat.startSector + fat.sizeSectors;
    netware.sizeSectors = static_cast<std::uint32_t>(disk.totalSectors) - netware.startSector;
    NetWareLayout layout;
    layout.hotfixProbe = 1;
    SegmentSpec sys = demoVolume("SYS", 48, sysTree());
    sys.contents->root = RootRecord{.nameSpaces = {kDosNameSpace, kLongNameSpace},
                                    .created = packDateTime(1996, 9, 12, 9, 0, 0)};
    layout.segments.push_back(std::move(sys));
    layout.segments.push_back(demoVolume("VOL1", 96, vol1Tree()));
    netware.netware = layout;
    disk.partitions.push_back(netware);
    return disk;
}

} // namespace tamsin::imagebuilder
