#include "StatusWords.h"

namespace tamsin::words {

std::string mountStatusText(MountStatus status, const std::string& volumeName)
{
    switch (status) {
    case MountStatus::ReadingFirstFat:
        return "Reading First FAT";
    case MountStatus::ReadingSecondFat:
        return "Reading Second FAT";
    case MountStatus::MatchingFat:
        return "Matching FAT Copies";
    case MountStatus::ReadingFirstDet:
        return "Reading First Directory Entry Table";
    case MountStatus::ReadingSecondDet:
        return "Reading Second Directory Entry Table";
    case MountStatus::MatchingDet:
        return "Matching Directory Entry Copies";
    case MountStatus::Mounting:
        return "Mounting " + volumeName + ", Please wait";
    case MountStatus::SearchingLostData:
        return "Searching Lost Data ...";
    case MountStatus::CreatingTree:
        break;
    }
    return "Creating Tree Structure, Please wait";
}

std::string scanningStatus(std::uint64_t scanned, std::uint64_t total)
{
    return "Scanning sector " + std::to_string(scanned) + " Of " + std::to_string(total);
}

} // namespace tamsin::words
