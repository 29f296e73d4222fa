#include "Messages.h"

#include <cstring>

namespace tamsin::cli {

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

const char* copyChooserCaption(TableKind kind)
{
    return kind == TableKind::Fat ? "Select File Allocation Table" : "Select Directory Entry Table";
}

const char* copyChooserMessage(TableKind kind)
{
    return kind == TableKind::Fat ? "File Allocation Tables Mis-Matched !! \n\nPlease select the copy to use"
                                  : "Directory Entry Tables Mis-Matched !! \n\nPlease select the copy to use";
}

const char* filterNotice(FilterAddResult result)
{
    switch (result) {
    case FilterAddResult::TooMany:
        return "You cannot add more Filters";
    case FilterAddResult::TooLong:
        return "Filter too long";
    case FilterAddResult::Blank:
        return "You can not add a blank entry.";
    case FilterAddResult::Duplicate:
        return "Filter already exists in the list";
    case FilterAddResult::Added:
        break;
    }
    return nullptr;
}

const char* rangeMessage(RangeProblem problem)
{
    switch (problem) {
    case RangeProblem::BadStart:
        return "Start sector value is not valid, It should be a positive number";
    case RangeProblem::BadEnd:
        return "End sector value is not valid, It should be a positive number";
    case RangeProblem::EndNotAfterStart:
        return "End sector should be bigger than start sector";
    case RangeProblem::None:
        break;
    }
    return nullptr;
}

std::string scanningStatus(std::uint64_t scanned, std::uint64_t total)
{
    return "Scanning sector " + std::to_string(scanned) + " Of " + std::to_string(total);
}

namespace {

std::string damageText(SnapshotDamage damage, SnapshotNodeList list)
{
    const std::string what = list == SnapshotNodeList::Folders ? "folder" : "file";
    switch (damage) {
    case SnapshotDamage::None:
    case SnapshotDamage::ShortStart:
        break;
    case SnapshotDamage::ShortHeader:
        return "the header is cut short";
    case SnapshotDamage::ImpossibleBlockSize:
        return "the volume's block size is impossible";
    case SnapshotDamage::MissingCount:
        return "the " + what + " count is missing";
    case SnapshotDamage::TooManyNodes:
        return "more " + what + "s than the file can hold";
    case SnapshotDamage::ShortRecord:
        return "a " + what + " record is cut short";
    case SnapshotDamage::ImpossibleRecordLength:
        return "a " + what + " record has an impossible length";
    case SnapshotDamage::BadRecordName:
        return "a " + what + " record has an empty name or one holding a NUL byte";
    case SnapshotDamage::ShortSuballocationRoots:
        return "the suballocation roots are cut short";
    case SnapshotDamage::ShortFatList:
        return "the FAT block list is cut short";
    case SnapshotDamage::BytesAfterFatList:
        return "unexpected bytes after the FAT block list";
    }
    return {};
}

std::string snapshotText(const SnapshotResult& result)
{
    switch (result.status) {
    case SnapshotStatus::Ok:
        break;
    case SnapshotStatus::CannotOpen:
        return "Unable to open the file";
    case SnapshotStatus::WrongMagic:
        return "Invalid version of the file found : " + result.foundMagic;
    case SnapshotStatus::WrongVersion:
        return "version of file does not match with current version 1.0";
    case SnapshotStatus::Damaged:
        return "The snapshot file is damaged (" + damageText(result.damage, result.damagedList) + "): " + result.path;
    case SnapshotStatus::WriteFailed:
        return "Unable to write the snapshot " + result.path + ": " + std::strerror(result.error);
    case SnapshotStatus::OtherDisk:
        if (result.diskMatch == SnapshotDiskMatch::NoneReadable)
            return "This snapshot may have been saved from another disk or volume: none of its entries could be read "
                   "on this disk, so files recovered through it may hold the wrong data. Load it anyway?";
        return "This snapshot was saved from another disk or volume: its entries name other files, so files "
               "recovered through it would hold the wrong data. Load it anyway?";
    }
    return {};
}

} // namespace

std::string snapshotMessage(const SnapshotResult& result)
{
    // The line ends with the message: blanks that end the bytes found or the
    // path are not shown.
    std::string text = snapshotText(result);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string tableDamageSummary(const TableReadDamage& damage)
{
    std::string text = "FAT copy 1: " + std::to_string(damage.fatUnreadable[0])
                       + ", copy 2: " + std::to_string(damage.fatUnreadable[1])
                       + "; DET copy 1: " + std::to_string(damage.detUnreadable[0])
                       + ", copy 2: " + std::to_string(damage.detUnreadable[1]);
    if (damage.lostDirectorySectors)
        text += "; " + std::to_string(damage.lostDirectorySectors)
                + " directory sector(s) unreadable in both copies: their entries are lost";
    return text;
}

const char* volumePropertyLabel(VolumeProperty property)
{
    switch (property) {
    case VolumeProperty::Type:
        return "Volume Type";
    case VolumeProperty::Start:
        return "Volume Start";
    case VolumeProperty::End:
        return "Volume End";
    case VolumeProperty::Size:
        break;
    }
    return "Volume Size";
}

std::string driveLabel(const DriveRow& row)
{
    switch (row.label) {
    case DriveLabel::StartSector:
        return "Start Sector";
    case DriveLabel::Directories:
        return "Directories";
    case DriveLabel::Files:
        return "Files";
    case DriveLabel::SectorsPerBlock:
        return "SPC";
    case DriveLabel::FirstFat:
        return "First FAT";
    case DriveLabel::SecondFat:
        return "Second FAT";
    case DriveLabel::FirstDet:
        return "First DET";
    case DriveLabel::SecondDet:
        return "Second DET";
    case DriveLabel::Segments:
        return "Segments";
    case DriveLabel::Segment:
        return "Segment " + std::to_string(row.segment);
    case DriveLabel::DataArea:
        return "Data Area";
    case DriveLabel::RedirectedBlocks:
        return "Redirected Blocks";
    case DriveLabel::FreeSpareBlocks:
        return "Free Spare Blocks";
    case DriveLabel::UnreadableHotfixEntries:
        return "Unreadable Hot-Fix Entries";
    case DriveLabel::MirrorMember:
        return "Mirror Member";
    case DriveLabel::UnreadableFatSectors:
        return "Unreadable FAT Sectors";
    case DriveLabel::UnreadableDetSectors:
        return "Unreadable DET Sectors";
    case DriveLabel::LostDirectorySectors:
        break;
    }
    return "Lost Directory Sectors";
}

} // namespace tamsin::cli
