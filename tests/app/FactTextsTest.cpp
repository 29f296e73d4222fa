// The wizard's words for the engine's facts, byte for byte as displayed.

#include "MountReporter.h"
#include "SearchReporter.h"
#include "SnapshotTexts.h"
#include "StatusWords.h"
#include "VolumeRows.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace tamsin::app {
namespace {

struct StatusCase {
    MountStatus status;
    const char* text;
};

class MountStatusText : public ::testing::TestWithParam<StatusCase> {};

TEST_P(MountStatusText, IsTheStatusLine)
{
    EXPECT_EQ(words::mountStatusText(GetParam().status, "SYS"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, MountStatusText,
    ::testing::Values(StatusCase{MountStatus::ReadingFirstFat, "Reading First FAT"},
                      StatusCase{MountStatus::ReadingSecondFat, "Reading Second FAT"},
                      StatusCase{MountStatus::MatchingFat, "Matching FAT Copies"},
                      StatusCase{MountStatus::ReadingFirstDet, "Reading First Directory Entry Table"},
                      StatusCase{MountStatus::ReadingSecondDet, "Reading Second Directory Entry Table"},
                      StatusCase{MountStatus::MatchingDet, "Matching Directory Entry Copies"},
                      StatusCase{MountStatus::Mounting, "Mounting SYS, Please wait"},
                      StatusCase{MountStatus::SearchingLostData, "Searching Lost Data ..."},
                      StatusCase{MountStatus::CreatingTree, "Creating Tree Structure, Please wait"}));

struct InstructionCase {
    MountInstruction instruction;
    const char* text;
};

class MountInstructionText : public ::testing::TestWithParam<InstructionCase> {};

TEST_P(MountInstructionText, IsThePanelText)
{
    EXPECT_STREQ(mountInstructionText(GetParam().instruction), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Instructions, MountInstructionText,
    ::testing::Values(
        InstructionCase{MountInstruction::Mounting,
                        "\r\n                Please Wait, Tamsin is mounting the selected file system. Once this "
                        "process is completed, it will show you the                       data."},
        InstructionCase{MountInstruction::SelectVolume,
                        "\r\n                1. Select the Volume to recover from left pane.\r\n                2. "
                        "Click Next Button."},
        InstructionCase{MountInstruction::Browsing,
                        "\r\n                Please select the file(s) and folder(s) to recover from right pane and "
                        "copy using   Recover Selected      or                             Recover All options from "
                        "the Recovery Menu.\r\n                You can open a file by Double Clicking it."}));

struct SnapshotCase {
    SnapshotResult result;
    std::string text;
};

class SnapshotMessage : public ::testing::TestWithParam<SnapshotCase> {};

TEST_P(SnapshotMessage, IsTheMessageShown)
{
    EXPECT_EQ(snapshotMessage(GetParam().result), GetParam().text);
}

using S = SnapshotStatus;
constexpr const char* kPath = "/x/A.VSNP";

INSTANTIATE_TEST_SUITE_P(
    Results, SnapshotMessage,
    ::testing::Values(
        SnapshotCase{{.status = S::Ok}, ""},
        SnapshotCase{{.status = S::CannotOpen}, "Unable to open the file"},
        SnapshotCase{{.status = S::WrongMagic, .foundMagic = "vsp4.01"}, "    Invalid version of the file found : vsp4.01"},
        SnapshotCase{{.status = S::WrongVersion}, "              version of file does not match with current version 1.0"},
        SnapshotCase{{.status = S::Damaged, .path = kPath, .damage = SnapshotDamage::ShortStart},
                     "The snapshot file is damaged (): /x/A.VSNP"},
        SnapshotCase{{.status = S::Damaged, .path = kPath, .damage = SnapshotDamage::TooManyNodes,
                      .damagedList = SnapshotNodeList::Files},
                     "The snapshot file is damaged (more files than the file can hold): /x/A.VSNP"},
        SnapshotCase{{.status = S::WriteFailed, .path = kPath, .error = ENOSPC},
                     "Unable to write the snapshot /x/A.VSNP: No space left on device"},
        SnapshotCase{{.status = S::OtherDisk, .diskMatch = SnapshotDiskMatch::OtherEntries},
                     "This snapshot was saved from another disk or volume: its entries name other files, so files "
                     "recovered through it would hold the wrong data. Load it anyway?"},
        SnapshotCase{{.status = S::OtherDisk, .diskMatch = SnapshotDiskMatch::NoneReadable},
                     "This snapshot may have been saved from another disk or volume: none of its entries could be "
                     "read on this disk, so files recovered through it may hold the wrong data. Load it anyway?"}));

TEST(SearchTexts, RangeMessagesAndScanningStatus)
{
    EXPECT_STREQ(rangeMessage(RangeProblem::BadStart),
                 "      Start sector value is not valid, It should be a positive number");
    EXPECT_STREQ(rangeMessage(RangeProblem::BadEnd), "      End sector value is not valid, It should be a positive number");
    EXPECT_STREQ(rangeMessage(RangeProblem::EndNotAfterStart), "      End sector should be bigger than start sector");
    EXPECT_EQ(rangeMessage(RangeProblem::None), nullptr);
    EXPECT_EQ(words::scanningStatus(60, 100), "Scanning sector 60 Of 100");
}

TEST(DriveLabels, ArePaddedAsDisplayed)
{
    const std::pair<DriveLabel, const char*> labels[] = {
        {DriveLabel::StartSector, "Start Sector         :"},
        {DriveLabel::Directories, "Directories           :"},
        {DriveLabel::Files, "Files                     :"},
        {DriveLabel::SectorsPerBlock, "SPC                     :"},
        {DriveLabel::FirstFat, "First FAT              :"},
        {DriveLabel::SecondFat, "Second FAT        :"},
        {DriveLabel::FirstDet, "First DET             :"},
        {DriveLabel::SecondDet, "Second  DET      :"},
        {DriveLabel::Segments, "Segments :"},
        {DriveLabel::DataArea, "Data Area :"},
        {DriveLabel::RedirectedBlocks, "Redirected Blocks :"},
        {DriveLabel::FreeSpareBlocks, "Free Spare Blocks :"},
        {DriveLabel::UnreadableHotfixEntries, "Unreadable Hot-Fix Entries :"},
        {DriveLabel::MirrorMember, "Mirror Member :"},
        {DriveLabel::UnreadableFatSectors, "Unreadable FAT Sectors :"},
        {DriveLabel::UnreadableDetSectors, "Unreadable DET Sectors :"},
        {DriveLabel::LostDirectorySectors, "Lost Directory Sectors :"},
    };
    for (const auto& [label, text] : labels)
        EXPECT_EQ(driveLabel({label, ""}), text);
    EXPECT_EQ(driveLabel({DriveLabel::Segment, "", 2}), "Segment 2 :");
}

} // namespace
} // namespace tamsin::app
