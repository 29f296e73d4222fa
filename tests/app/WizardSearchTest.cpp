// The search road: a disk whose partition table is gone, the range checks,
// and Stop during a search.

#include "Images.h"
#include "SearchTexts.h"
#include "StatusWords.h"
#include "WizardFixture.h"

#include "GuiTest.h"
#include "WizardTexts.h"

#include "imagebuilder/Demo.h"
#include "ui/MessageDialog.h"
#include "ui/ReportDialog.h"
#include "volumes/VolumeSearch.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QPushButton>

#include <gtest/gtest.h>

namespace tamsin::test {
namespace {

using ui::MessageDialog;

class WizardSearchTest : public ::testing::Test {
protected:
    void SetUp() override { image = writeImage(dir, "wiped.img", demoWithoutPartitionTable()); }

    TempDir dir;
    std::string image;
};

TEST_F(WizardSearchTest, FindsTheVolumesOfAWipedPartitionTable)
{
    WizardRun run({image});
    run.clickDisk(0);
    // Without a partition table the volume-table road says no volume was found.
    DialogAnswer<MessageDialog> none([](MessageDialog& dialog) {
        EXPECT_EQ(dialog.text().toStdString(), app::text::kNoVolumeFound);
        dialog.accept();
    });
    run.pressNext();
    EXPECT_TRUE(none.answered());
    EXPECT_EQ(run.state().wizardStep, 0);
    EXPECT_TRUE(run.button("next")->isVisible());

    run.chooseSearch(true);
    EXPECT_TRUE(run.window().findChild<QWidget*>(QStringLiteral("selectRange"))->isVisible());
    EXPECT_EQ(run.state().startSectorText, "0");
    EXPECT_EQ(run.state().endSectorText, "524288");
    run.pressNext();
    EXPECT_FALSE(run.window().findChild<QWidget*>(QStringLiteral("identifyOptions"))->isVisible());
    ASSERT_TRUE(run.waitForStep(1));

    EXPECT_EQ(run.volumeNames(), (QStringList{"SYS", "VOL1"}));
    EXPECT_EQ(run.window().session().volumes[0].startSector, demoSys().startSector);
    EXPECT_EQ(run.panelLabel(0), QStringLiteral("Volume Type  "));
    EXPECT_FALSE(run.button("stop")->isVisible());
    EXPECT_TRUE(run.button("back")->isVisible());
    EXPECT_TRUE(run.window().action(app::CommandId::LoadSnapshot)->isEnabled());

    // A volume found by search mounts like one from the table.
    run.clickVolume(0);
    run.pressNext();
    ASSERT_TRUE(run.waitForStep(2));
    EXPECT_EQ(run.listColumn(0), (QStringList{"LOGIN", "PUBLIC", "SYSTEM", "USERS"}));
    // Without a layout read from its partition, Drive Information has the volume's own rows alone.
    DialogAnswer<ui::ReportDialog> info([](ui::ReportDialog& dialog) {
        EXPECT_EQ(dialog.rowCount(), 8u);
        dialog.accept();
    });
    run.window().action(app::CommandId::DriveInformation)->trigger();
    EXPECT_TRUE(info.answered());

    // Back twice: the disk step shows the range again.
    run.pressBack();
    run.pressBack();
    EXPECT_EQ(run.state().wizardStep, 0);
    EXPECT_TRUE(run.window().findChild<QWidget*>(QStringLiteral("selectRange"))->isVisible());
}

TEST_F(WizardSearchTest, RefusesABadRangeAndStays)
{
    WizardRun run({image});
    run.clickDisk(0);
    run.chooseSearch(true);
    const std::pair<QString, QString> ranges[] = {{"", "100"}, {"100", ""}, {"100", "100"}, {"500", "100"}};
    const char* messages[] = {texts::kBadStartMessage, texts::kBadEndMessage, texts::kEndNotAfterStartMessage,
                              texts::kEndNotAfterStartMessage};
    for (std::size_t i = 0; i < 4; ++i) {
        run.clickDisk(0);
        run.setRange(ranges[i].first, ranges[i].second);
        DialogAnswer<MessageDialog> answer([&](MessageDialog& dialog) {
            EXPECT_EQ(dialog.text().toStdString(), messages[i]);
            EXPECT_EQ(dialog.kind(), ui::MessageKind::Error);
            dialog.accept();
        });
        run.pressNext();
        EXPECT_TRUE(answer.answered()) << i;
        EXPECT_EQ(run.state().wizardStep, 0);
        EXPECT_FALSE(run.state().workerRunning);
        EXPECT_TRUE(run.button("next")->isVisible()) << "the range can be mended and Next pressed again";
    }
}

TEST_F(WizardSearchTest, StopKeepsWhatWasFoundAndEntersTheVolumeStep)
{
    WizardRun run({image}, true);
    run.holdReadsFromOpen();
    run.clickDisk(0);
    run.chooseSearch(true);
    // Start just before SYS's volume table so that the first run holds it.
    const std::uint64_t table = demoSys().startSector - 128;
    run.setRange(QString::number(table - 10), QStringLiteral("524288"));
    run.pressNext();
    ASSERT_TRUE(waitUntil([&] { return run.gate() && run.gate()->holding(); }));

    // While the search runs only Stop can be pressed.
    EXPECT_TRUE(run.state().workerRunning);
    EXPECT_TRUE(run.button("stop")->isVisible());
    EXPECT_FALSE(run.button("next")->isVisible());
    EXPECT_FALSE(run.button("back")->isVisible());
    EXPECT_FALSE(run.window().action(app::CommandId::LoadSnapshot)->isEnabled());
    EXPECT_EQ(run.panelLabel(0), QStringLiteral("Volume(s) Found  "));
    EXPECT_EQ(run.panelValue(2), QStringLiteral("524288"));
    // The first run's progress reaches the screen although the run is held.
    const std::string scanning = words::scanningStatus(0, 524288 - (table - 10));
    EXPECT_TRUE(waitUntil([&] { return run.statusLine().toStdString() == scanning; }));
    EXPECT_EQ(run.panelValue(1), QString::number(table - 10));

    {
        DialogAnswer<MessageDialog> no([](MessageDialog& dialog) {
            EXPECT_EQ(dialog.text().toStdString(), app::text::kStopQuestion);
            dialog.buttonBox()->button(QDialogButtonBox::No)->click();
        });
        run.button("stop")->click();
        EXPECT_TRUE(no.answered());
        EXPECT_FALSE(run.window().session().mounted.stopRequested);
    }
    DialogAnswer<MessageDialog> yes(
        [](MessageDialog& dialog) { dialog.buttonBox()->button(QDialogButtonBox::Yes)->click(); });
    run.button("stop")->click();
    ASSERT_TRUE(yes.answered());
    run.gate()->open();

    ASSERT_TRUE(run.waitForStep(1));
    // The run under way was examined to its end; no further run was read.
    EXPECT_EQ(run.volumeNames(), (QStringList{"SYS", "VOL1"}));
    EXPECT_LT(run.gate()->reads(), 50u);
    EXPECT_FALSE(run.window().session().mounted.stopRequested);
    EXPECT_FALSE(run.button("stop")->isVisible());
    EXPECT_TRUE(run.button("back")->isVisible());
}

} // namespace
} // namespace tamsin::test
