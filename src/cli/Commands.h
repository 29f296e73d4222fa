#pragma once
// The subcommands of `tamsin`. Each returns the process exit status:
// 0 success, 1 error (message already written to err), 2 usage error.

#include "MountSupport.h"

#include <ostream>
#include <string>
#include <vector>

namespace tamsin::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
// recover: the run completed, but some files are incomplete (zeros where
// sectors could not be read, or shorter than their size).
inline constexpr int kExitIncomplete = 4;

struct DisksOptions {
    std::vector<std::string> images;
    bool json = false;
    bool noDevices = false;  // list only the named images
    AccessMode accessMode = AccessMode::Native;
};
int runDisks(const DisksOptions& options, std::ostream& out, std::ostream& err);

struct VolumesOptions {
    std::string disk;
    bool json = false;
    std::string codePage = "CP437";
    SearchOptions search;
    std::vector<std::string> with;  // further disks whose volume tables are read too
    std::string map;                // DISK's rescue map
    bool noMap = false;             // ignore maps beside the images
    AccessMode accessMode = AccessMode::Native;
};
int runVolumes(const VolumesOptions& options, std::ostream& out, std::ostream& err);

struct ListOptions {
    MountOptions mount;
    std::string path;  // folder to list, "/"-separated from the root
    bool recursive = false;
    bool json = false;
    std::vector<std::string> filters;  // file filters of the contents list
};
int runList(const ListOptions& options, std::ostream& out, std::ostream& err);

struct InfoOptions {
    MountOptions mount;
    bool json = false;
};
int runInfo(const InfoOptions& options, std::ostream& out, std::ostream& err);

struct RecoverOptions {
    MountOptions mount;
    std::string destination;
    std::vector<std::string> paths;  // files and folders; none: the whole volume
    std::string deleted = "include";
    std::string duplicates = "rename";
    int retries = 3;
};
int runRecover(const RecoverOptions& options, std::ostream& out, std::ostream& err);

struct CatOptions {
    MountOptions mount;
    std::string path;
};
int runCat(const CatOptions& options, std::ostream& err);

struct FindOptions {
    MountOptions mount;
    std::string pattern;
    bool json = false;
};
int runFind(const FindOptions& options, std::ostream& out, std::ostream& err);

struct SnapshotSaveOptions {
    MountOptions mount;
    std::string file;
};
int runSnapshotSave(const SnapshotSaveOptions& options, std::ostream& out, std::ostream& err);

struct CompressedOptions {
    MountOptions mount;
    bool json = false;
};
int runCompressed(const CompressedOptions& options, std::ostream& out, std::ostream& err);

struct DamageOptions {
    MountOptions mount;
    bool json = false;
};
int runDamage(const DamageOptions& options, std::ostream& out, std::ostream& err);

} // namespace tamsin::cli
