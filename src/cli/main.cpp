// tamsin: command-line front end of the NetWare traditional-volume recovery engine.

#include "Commands.h"

#include "disk/ContainerDevice.h"
#include "disk/HelperLibraries.h"

#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char** argv)
{
    using namespace tamsin::cli;

    CLI::App app{"Corvane Tamsin Novell: read-only recovery of NetWare traditional volumes from disks and disk images",
                 "tamsin"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "tamsin " TAMSIN_VERSION);
    std::string accessMode = "N";
    app.add_option("--access-mode", accessMode,
                   "N: read devices and image files; F: list and read disks through the helper libraries "
                   "Disk32.dll and disk2.dll (from TAMSIN_HELPER_DIR when set). Give it before the command")
        ->check(CLI::IsMember({"N", "F"}))
        ->capture_default_str();

    auto addSearchOptions = [](CLI::App* command, SearchOptions& search, const char* what) {
        command->add_flag("--search", search.enabled, what);
        command->add_option("--start", search.start, "First sector of the search (default 0)");
        command->add_option("--end", search.end, "Sector where the search ends (default: the end of the disk)");
        command->add_option("--run-length", search.runLength,
                            "Sectors examined per read, 1 to 100 (default 60, or 8 in access mode F)");
    };
    auto addMapOptions = [](CLI::App* command, std::string& map, bool& noMap) {
        auto* given = command->add_option("--map", map,
                                          "Rescue map (ddrescue mapfile) of DISK: sectors it does not mark finished are "
                                          "unreadable (default: IMAGE.map or IMAGE.mapfile beside each image)");
        command->add_flag("--no-map", noMap, "Do not use the maps found beside the images")->excludes(given);
    };
    auto addMountOptions = [&](CLI::App* command, MountOptions& mount) {
        command->add_option("DISK", mount.disk, "Disk index from 'tamsin disks', or a device or image path")->required();
        auto* volume = command->add_option("--volume", mount.volume, "Volume index from 'tamsin volumes DISK'");
        auto* snapshot = command->add_option("--snapshot", mount.snapshot,
                                             "Load this snapshot instead of mounting (DISK still supplies the data)");
        volume->excludes(snapshot);
        command->add_flag("--force,--force-snapshot", mount.forceSnapshot,
                          "Load the snapshot even when DISK does not hold the entries it names")
            ->needs(snapshot);
        command->add_option("--fat-copy", mount.fatCopy, "FAT copy to use when the two copies differ")
            ->check(CLI::IsMember({1, 2}));
        command->add_option("--det-copy", mount.detCopy, "Directory Entry Table copy to use when the two copies differ")
            ->check(CLI::IsMember({1, 2}));
        command->add_option("--codepage", mount.codePage, "DOS code page of the volume's names")->capture_default_str();
        addSearchOptions(command, mount.search, "Take the volume from a volume search instead of the volume tables");
        command->add_option("--with", mount.with,
                            "A further disk holding segments or mirror members of the volume (repeatable)");
        addMapOptions(command, mount.map, mount.noMap);
        command->callback([volume, snapshot] {
            if (volume->count() == 0 && snapshot->count() == 0)
                throw CLI::RequiredError("--volume or --snapshot");
        });
    };

    DisksOptions disks;
    auto* disksCommand = app.add_subcommand("disks", "List the machine's disks and the named image files");
    disksCommand->add_option("IMAGE", disks.images, "Disk image files to list after the devices");
    disksCommand->add_flag("--json", disks.json, "Print a JSON array for scripts");
    disksCommand->add_flag("--no-devices", disks.noDevices, "List only the named image files");

    VolumesOptions volumes;
    auto* volumesCommand =
        app.add_subcommand("volumes", "List the NetWare volumes in the volume tables of a disk's NetWare partitions");
    volumesCommand->add_option("DISK", volumes.disk, "Disk index from 'tamsin disks', or a device or image path")
        ->required();
    volumesCommand->add_flag("--json", volumes.json, "Print a JSON array for scripts");
    volumesCommand->add_option("--codepage", volumes.codePage, "DOS code page of the volume's names")
        ->capture_default_str();
    addSearchOptions(volumesCommand, volumes.search, "Scan a sector range for volume tables instead of reading the partitions");
    volumesCommand->add_option("--with", volumes.with, "A further disk whose volume tables are read too (repeatable)");
    addMapOptions(volumesCommand, volumes.map, volumes.noMap);

    ListOptions list;
    auto* listCommand = app.add_subcommand("ls", "Mount a volume and list a folder, deleted entries included");
    addMountOptions(listCommand, list.mount);
    listCommand->add_option("PATH", list.path, "Folder to list, e.g. /PUBLIC/DOCS (default: the root)");
    listCommand->add_flag("-r,--recursive", list.recursive, "List every folder and file of the volume");
    listCommand->add_flag("--json", list.json, "Print a JSON array for scripts");
    listCommand->add_option("--filter", list.filters, "List only files matching this wildcard pattern (repeatable)");

    InfoOptions info;
    auto* infoCommand = app.add_subcommand("info", "Mount a volume and show its layout and counts");
    addMountOptions(infoCommand, info.mount);
    infoCommand->add_flag("--json", info.json, "Print a JSON object for scripts");

    RecoverOptions recover;
    auto* recoverCommand = app.add_subcommand("recover", "Copy files and folders of a volume into a local folder");
    addMountOptions(recoverCommand, recover.mount);
    recoverCommand->add_option("--to", recover.destination, "Destination folder (created if missing)")->required();
    recoverCommand->add_option("PATH", recover.paths, "Files and folders to recover (default: the whole volume)");
    recoverCommand->add_option("--deleted", recover.deleted, "Deleted files: include, only or exclude")
        ->capture_default_str();
    recoverCommand->add_option("--duplicates", recover.duplicates, "Existing names: rename, overwrite or skip")
        ->capture_default_str();
    recoverCommand->add_option("--retries", recover.retries, "Attempts per bad sector, 1 to 10")->capture_default_str();

    CatOptions cat;
    auto* catCommand = app.add_subcommand("cat", "Write one file's recovered bytes to standard output");
    addMountOptions(catCommand, cat.mount);
    catCommand->add_option("PATH", cat.path, "The file, e.g. /PUBLIC/README.TXT")->required();

    FindOptions find;
    auto* findCommand = app.add_subcommand("find", "Find files by wildcard name, deleted ones included");
    addMountOptions(findCommand, find.mount);
    findCommand->add_option("PATTERN", find.pattern, "Wildcard pattern, e.g. *.DOC (without wildcards: any name containing it)")
        ->required();
    findCommand->add_flag("--json", find.json, "Print a JSON array for scripts");

    CompressedOptions compressed;
    auto* compressedCommand =
        app.add_subcommand("compressed", "List the compressed files of a volume with their stored-stream headers");
    addMountOptions(compressedCommand, compressed.mount);
    compressedCommand->add_flag("--json", compressed.json, "Print a JSON array for scripts");

    DamageOptions damage;
    auto* damageCommand = app.add_subcommand(
        "damage", "List the tables, folders and files of a volume that lie on unreadable sectors");
    addMountOptions(damageCommand, damage.mount);
    damageCommand->add_flag("--json", damage.json, "Print a JSON array for scripts");

    SnapshotSaveOptions snapshotSave;
    auto* snapshotCommand = app.add_subcommand("snapshot", "Recovery snapshot files");
    snapshotCommand->require_subcommand(1);
    auto* snapshotSaveCommand = snapshotCommand->add_subcommand("save", "Mount a volume and save what it holds to FILE");
    addMountOptions(snapshotSaveCommand, snapshotSave.mount);
    snapshotSaveCommand->add_option("FILE", snapshotSave.file, "Snapshot file (.VSNP appended unless it ends in .vsnp)")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? kExitOk : kExitUsage;
    }

    // Mode F loads the helper libraries once, before any disk is listed.
    const tamsin::AccessMode mode = accessMode == "F" ? tamsin::AccessMode::Helper : tamsin::AccessMode::Native;
    if (mode == tamsin::AccessMode::Helper) {
        const std::string failure =
            tamsin::HelperLibraries::process().load(tamsin::HelperLibraries::defaultFolder());
        if (!failure.empty()) {
            std::cerr << "tamsin: " << failure << '\n';
            return kExitError;
        }
    }
    // Damage found inside a container image while reading: one warning per image.
    tamsin::setContainerNoticeHandler([](const std::string& message) { std::cerr << "tamsin: warning: " << message << '\n'; });
    disks.accessMode = mode;
    volumes.accessMode = mode;
    for (MountOptions* mount : {&list.mount, &info.mount, &recover.mount, &cat.mount, &find.mount,
                                &compressed.mount, &snapshotSave.mount, &damage.mount})
        mount->accessMode = mode;

    if (*disksCommand)
        return runDisks(disks, std::cout, std::cerr);
    if (*volumesCommand)
        return runVolumes(volumes, std::cout, std::cerr);
    if (*listCommand)
        return runList(list, std::cout, std::cerr);
    if (*infoCommand)
        return runInfo(info, std::cout, std::cerr);
    if (*recoverCommand)
        return runRecover(recover, std::cout, std::cerr);
    if (*damageCommand)
        return runDamage(damage, std::cout, std::cerr);
    if (*catCommand)
        return runCat(cat, std::cerr);
    if (*findCommand)
        return runFind(find, std::cout, std::cerr);
    if (*compressedCommand)
        return runCompressed(compressed, std::cout, std::cerr);
    if (*snapshotSaveCommand)
        return runSnapshotSave(snapshotSave, std::cout, std::cerr);
    return kExitUsage;
}
