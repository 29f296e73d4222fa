#pragma once
// The values of the Drive Information and File/Folder Properties reports.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tamsin {

class MountedVolume;
struct ContentsRow;

// Label/value rows of Drive Information, labels padded as displayed.
std::vector<std::pair<std::string, std::string>> driveInformationRows(const MountedVolume& volume);

struct PropertiesReport {
    std::string name;
    std::string size;       // "3 KB" for a file, "3 MB" / "Less than 1 MB" for a folder
    std::string contains;   // folders only: "1 File(s) and 2 Folder(s)"
    std::string creationDate;      // the row's date string
    std::string modificationDate;  // the row's time string
};

// Counts of a folder's subtree as the tree shows it (deleted entries,
// placeholders and filtered-out files included).
struct SubtreeCounts {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::uint64_t folders = 0;  // the folder itself included
};
SubtreeCounts countSubtree(const MountedVolume& volume, std::uint32_t treeItem);

// The report for a contents row.
PropertiesReport propertiesFor(const MountedVolume& volume, const ContentsRow& row);

} // namespace tamsin
