#include "VolumeRows.h"
#include "VolumeWords.h"

namespace tamsin::app {
namespace {

LabelledRows driveRows(const std::vector<DriveRow>& rows)
{
    LabelledRows labelled;
    labelled.reserve(rows.size());
    for (const DriveRow& row : rows)
        labelled.emplace_back(driveLabel(row), row.value);
    return labelled;
}

} // namespace

const char* volumePropertyLabel(VolumeProperty property)
{
    switch (property) {
    case VolumeProperty::Type:
        return "Volume Type  ";
    case VolumeProperty::Start:
        return "Volume Start    ";
    case VolumeProperty::End:
        return "Volume End      ";
    case VolumeProperty::Size:
        break;
    }
    return "Volume Size     ";
}

std::string driveLabel(const DriveRow& row)
{
    switch (row.label) {
    case DriveLabel::StartSector:
        return "Start Sector         :";
    case DriveLabel::Directories:
        return "Directories           :";
    case DriveLabel::Files:
        return "Files                     :";
    case DriveLabel::SectorsPerBlock:
        return "SPC                     :";
    case DriveLabel::FirstFat:
        return "First FAT              :";
    case DriveLabel::SecondFat:
        return "Second FAT        :";
    case DriveLabel::FirstDet:
        return "First DET             :";
    case DriveLabel::SecondDet:
        return "Second  DET      :";
    case DriveLabel::Segments:
        return "Segments :";
    case DriveLabel::Segment:
        return "Segment " + std::to_string(row.segment) + " :";
    case DriveLabel::DataArea:
        return "Data Area :";
    case DriveLabel::RedirectedBlocks:
        return "Redirected Blocks :";
    case DriveLabel::FreeSpareBlocks:
        return "Free Spare Blocks :";
    case DriveLabel::UnreadableHotfixEntries:
        return "Unreadable Hot-Fix Entries :";
    case DriveLabel::MirrorMember:
        return "Mirror Member :";
    case DriveLabel::UnreadableFatSectors:
        return "Unreadable FAT Sectors :";
    case DriveLabel::UnreadableDetSectors:
        return "Unreadable DET Sectors :";
    case DriveLabel::LostDirectorySectors:
        break;
    }
    return "Lost Directory Sectors :";
}

LabelledRows volumePropertyRows(const VolumeInfo& volume)
{
    LabelledRows rows;
    for (const VolumePropertyRow& row : volumeProperties(volume))
        rows.emplace_back(volumePropertyLabel(row.property), row.value);
    return rows;
}

LabelledRows driveInformationRows(const MountedVolume& volume)
{
    return driveRows(driveInformation(volume));
}

LabelledRows layoutRows(const LayoutReport& report)
{
    return driveRows(words::layoutInformation(report));
}

LabelledRows tableDamageRows(const TableReadDamage& damage)
{
    return driveRows(words::tableDamageInformation(damage));
}

} // namespace tamsin::app
