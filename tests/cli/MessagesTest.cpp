// The command's words for the engine's facts where its output tests do not reach them.

#include "Messages.h"

#include <gtest/gtest.h>

namespace tamsin::cli {
namespace {

struct LabelCase {
    DriveLabel label;
    const char* text;
};

class DriveLabelText : public ::testing::TestWithParam<LabelCase> {};

TEST_P(DriveLabelText, IsPlain)
{
    EXPECT_EQ(driveLabel({GetParam().label, "", 3}), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, DriveLabelText,
    ::testing::Values(LabelCase{DriveLabel::StartSector, "Start Sector"}, LabelCase{DriveLabel::Directories, "Directories"},
                      LabelCase{DriveLabel::Files, "Files"}, LabelCase{DriveLabel::SectorsPerBlock, "SPC"},
                      LabelCase{DriveLabel::FirstFat, "First FAT"}, LabelCase{DriveLabel::SecondFat, "Second FAT"},
                      LabelCase{DriveLabel::FirstDet, "First DET"}, LabelCase{DriveLabel::SecondDet, "Second DET"},
                      LabelCase{DriveLabel::Segments, "Segments"}, LabelCase{DriveLabel::Segment, "Segment 3"},
                      LabelCase{DriveLabel::DataArea, "Data Area"},
                      LabelCase{DriveLabel::RedirectedBlocks, "Redirected Blocks"},
                      LabelCase{DriveLabel::FreeSpareBlocks, "Free Spare Blocks"},
                      LabelCase{DriveLabel::UnreadableHotfixEntries, "Unreadable Hot-Fix Entries"},
                      LabelCase{DriveLabel::MirrorMember, "Mirror Member"},
                      LabelCase{DriveLabel::UnreadableFatSectors, "Unreadable FAT Sectors"},
                      LabelCase{DriveLabel::UnreadableDetSectors, "Unreadable DET Sectors"},
                      LabelCase{DriveLabel::LostDirectorySectors, "Lost Directory Sectors"}));

TEST(SnapshotMessage, EndsWithoutBlanks)
{
    SnapshotResult result;
    result.status = SnapshotStatus::WrongMagic;
    EXPECT_EQ(snapshotMessage(result), "Invalid version of the file found :");
    result.foundMagic = "vsp  ";
    EXPECT_EQ(snapshotMessage(result), "Invalid version of the file found : vsp");
}

} // namespace
} // namespace tamsin::cli
