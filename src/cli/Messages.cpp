#include "Messages.h"

#include "SnapshotWords.h"

namespace tamsin::cli {

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

std::string snapshotMessage(const SnapshotResult& result)
{
    // The line ends with the message: blanks that end the bytes found or the
    // path are not shown.
    std::string text = words::snapshotMessage(result);
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
