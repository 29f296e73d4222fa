#pragma once
// The destination side of a recovery run: the folders made for the volume's
// tree under the destination, and the files and folders the run itself made.
//
// Thread rule: a DestinationTree and the MadePaths it fills belong to one
// thread at a time. While a CopyAhead runs, its thread makes the folders;
// CopyAhead::stop() joins that thread, and from its return on the run's own
// thread may use both.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tamsin {

class MountedVolume;

// Converts a raw name in the volume's code page to UTF-8.
using NameDecoder = std::function<std::string(const std::string& raw)>;

// A folder that could not be made.
struct FolderFailure {
    std::string folder;
    int error = 0;            // errno of the failed mkdir (ENOTDIR: a file holds the name)
    bool notAFolder = false;  // the destination itself exists and is no folder
};

// The files and folders a run has created, known by device and inode so that
// a name the destination file system takes as the same (letter case on FAT,
// for one) is recognised too. A name another entry of the run already took is
// never overwritten nor skipped by the duplicate rule: that rule is for what
// was in the destination before.
class MadePaths {
public:
    void add(const std::string& path);
    bool contains(const std::string& path) const;

private:
    using Key = std::pair<std::uint64_t, std::uint64_t>;
    struct KeyHash {
        std::size_t operator()(const Key& key) const
        {
            return std::hash<std::uint64_t>{}(key.first * 0x9E3779B97F4A7C15u ^ key.second);
        }
    };
    std::unordered_set<Key, KeyHash> made_;
};

// The destination folder of each tree item, created on first use.
class DestinationTree {
public:
    DestinationTree(const MountedVolume& volume, std::string destination, NameDecoder decodeName, MadePaths& made);

    // The folder's path, or empty with failure set when it cannot be made.
    // made, when given, gets the folders this call created, outermost first.
    std::string folderFor(std::uint32_t item, FolderFailure& failure, std::vector<std::string>* made = nullptr);

    // The decoded name of a raw volume name.
    std::string decode(const std::string& raw) const { return decodeName_(raw); }

private:
    const MountedVolume& volume_;
    NameDecoder decodeName_;
    MadePaths& madePaths_;
    std::vector<std::string> paths_;
    std::vector<bool> made_;
};

// Makes the destination folder and those above it; false when it cannot be
// made or names something other than a folder.
bool makeDestination(const std::string& path, FolderFailure& failure);

// Removes folders made for files a run did not start, innermost first; one
// that holds anything stays.
void removeFolders(const std::vector<std::string>& folders);

} // namespace tamsin
