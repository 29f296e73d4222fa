// Mounts that need the user: differing table copies answered in the
// chooser, a cancelled chooser, and Stop during the directory walk; and
// closing the window while a worker runs.

#include "Images.h"
#include "MountTexts.h"
#include "QuickHelp.h"
#include "WizardFixture.h"

#include "GuiTest.h"
#include "WizardTexts.h"

#include "imagebuilder/Demo.h"
#include "ui/CopyChooserDialog.h"
#include "ui/MessageDialog.h"
#include "ui/UiTexts.h"

#include <QBrush>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTreeView>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

namespace tamsin::test {
namespace {

using ui::CopyChooserDialog;
using ui::MessageDialog;

class WizardMountTest : public ::testing::Test {
protected:
    // Disk 0, Next, SYS, and Next once more: the mount starts.
    void startSysMount(WizardRun& run)
    {
        run.clickDisk(0);
        run.pressNext();
        ASSERT_EQ(run.state().wizardStep, 1);
        run.clickVolume(0);
        run.pressNext();
    }

    // Answers the chooser of kind with the second copy (or the first), and
    // checks its wording on the way.
    std::unique_ptr<DialogAnswer<CopyChooserDialog>> choose(TableKind kind, bool second)
    {
        return std::make_unique<DialogAnswer<CopyChooserDialog>>([kind, second](CopyChooserDialog& dialog) {
            EXPECT_EQ(dialog.kind(), kind);
            EXPECT_EQ(dialog.windowTitle().toStdString(),
                      kind == TableKind::Fat ? ui::text::kFatChooserCaption : ui::text::kDetChooserCaption);
            EXPECT_TRUE(dialog.firstCopy()->isChecked());
            if (second)
                dialog.secondCopy()->click();
            dialog.buttonBox()->buttons().at(0)->click();
        });
    }

    TempDir dir;
};

TEST_F(WizardMountTest, DifferingFatCopiesAreAnsweredInTheChooser)
{
    WizardRun run({writeImage(dir, "fat.img", demoWithFatMismatch())});
    auto answer = choose(TableKind::Fat, true);
    startSysMount(run);
    ASSERT_TRUE(answer->waitAnswered());
    ASSERT_TRUE(run.waitForStep(2));
    EXPECT_EQ(run.window().session().mounted.chosenFatCopy, 2);
    EXPECT_EQ(run.window().session().mounted.chosenDetCopy, 1);
    EXPECT_EQ(run.listColumn(0), (QStringList{"LOGIN", "PUBLIC", "SYSTEM", "USERS"}));
}

TEST_F(WizardMountTest, TheChosenDetCopyDecidesWhatIsShown)
{
    WizardRun run({writeImage(dir, "det.img", demoWithDetMismatch("README.TXT"))});
    auto readmeType = [&] {
        run.clickTree({"PUBLIC"});
        const int row = run.listRow(QStringLiteral("README.TXT"));
        return row < 0 ? QString() : run.listColumn(1).at(row);
    };

    auto second = choose(TableKind::Det, true);
    startSysMount(run);
    ASSERT_TRUE(second->waitAnswered());
    ASSERT_TRUE(run.waitForStep(2));
    EXPECT_EQ(run.window().session().mounted.chosenDetCopy, 2);
    EXPECT_TRUE(readmeType().startsWith(QStringLiteral("Deleted ")));

    run.pressBack();
    run.clickVolume(0);
    auto first = choose(TableKind::Det, false);
    run.pressNext();
    ASSERT_TRUE(first->waitAnswered());
    ASSERT_TRUE(run.waitForStep(2));
    EXPECT_EQ(run.window().session().mounted.chosenDetCopy, 1);
    EXPECT_FALSE(readmeType().startsWith(QStringLiteral("Deleted ")));
}

TEST_F(WizardMountTest, CancelInTheChooserReturnsToTheVolumeStep)
{
    WizardRun run({writeImage(dir, "fat.img", demoWithFatMismatch())});
    DialogAnswer<CopyChooserDialog> cancel([](CopyChooserDialog& dialog) {
        EXPECT_EQ(dialog.message()->text().toStdString(), ui::text::kFatChooserMessage);
        dialog.buttonBox()->buttons().at(1)->click();
    });
    startSysMount(run);
    ASSERT_TRUE(cancel.waitAnswered());
    ASSERT_TRUE(run.waitIdle());
    EXPECT_EQ(run.state().wizardStep, 1);
    EXPECT_EQ(run.instruction(), app::quickHelpHtml(texts::kSelectVolumeInstruction));
    EXPECT_TRUE(run.window().findChild<QWidget*>(QStringLiteral("volumeTree"))->isVisible());
    EXPECT_TRUE(run.window().findChild<QWidget*>(QStringLiteral("volumeTree"))->isEnabled());
    EXPECT_FALSE(run.folderTree()->isVisible());
    EXPECT_FALSE(run.button("stop")->isVisible());
    EXPECT_TRUE(run.button("back")->isVisible());
    EXPECT_EQ(run.panelLabel(0), QStringLiteral("Volume Type  "));
    EXPECT_EQ(run.panelValue(0), QStringLiteral("Novell Traditional Volume"));

    // The volume stays picked: Next mounts it again.
    auto first = choose(TableKind::Fat, false);
    run.pressNext();
    ASSERT_TRUE(first->waitAnswered());
    ASSERT_TRUE(run.waitForStep(2));
    EXPECT_EQ(run.window().session().mounted.chosenFatCopy, 1);
}

TEST_F(WizardMountTest, StopDuringTheWalkShowsWhatWasDecoded)
{
    const imagebuilder::VolumeManifest& sys = demoSys();
    WizardRun run({writeImage(dir, "demo.img", imagebuilder::demoDiskSpec())}, true);
    run.clickDisk(0);
    run.pressNext();
    run.clickVolume(0);
    // The first directory sector is read once to compare the copies and
    // again by the walk: hold the walk there.
    run.gate()->closeAt(sys.blockSector(sys.det[0].blocks.at(0)), 2);
    run.pressNext();
    ASSERT_TRUE(waitUntil([&] { return run.gate()->holding(); }));
    EXPECT_TRUE(run.button("stop")->isVisible());
    EXPECT_FALSE(run.button("back")->isVisible());
    EXPECT_FALSE(run.button("next")->isVisible());
    EXPECT_EQ(run.statusLine(), QStringLiteral("Mounting SYS, Please wait"));
    EXPECT_EQ(run.instruction(), app::quickHelpHtml(texts::kMountingInstruction));

    DialogAnswer<MessageDialog> yes([](MessageDialog& dialog) {
        EXPECT_EQ(dialog.text().toStdString(), app::text::kStopQuestion);
        dialog.buttonBox()->button(QDialogButtonBox::Yes)->click();
    });
    run.button("stop")->click();
    ASSERT_TRUE(yes.answered());
    run.gate()->open();
    ASSERT_TRUE(run.waitForStep(2));

    // Only the first directory sector was decoded; the browsing step shows it.
    const MountedVolume& mounted = run.window().session().mounted;
    const std::size_t decoded = mounted.folders.size() + mounted.files.size();
    EXPECT_GT(decoded, 0u);
    EXPECT_LE(decoded, 4u);
    EXPECT_LT(decoded, sys.entries.size());
    EXPECT_TRUE(run.fileList()->isVisible());
    EXPECT_EQ(run.treeIndex({}).data().toString(), QStringLiteral("SYS"));
    EXPECT_FALSE(run.window().session().mounted.stopRequested);
}

// Closing the window stops the running worker and waits for it, also when
// the worker waits for the window: a search held in a read, and a mount that
// has found differing FAT copies and waits for the chooser while the window
// is not answering.
class WizardClosingTest : public ::testing::TestWithParam<bool> {
protected:
    TempDir dir;
};

TEST_P(WizardClosingTest, ClosingWhileAWorkerRunsJoinsIt)
{
    const bool search = GetParam();
    std::optional<WizardRun> run;
    run.emplace(std::vector<std::string>{writeImage(dir, "demo.img", search ? imagebuilder::demoDiskSpec()
                                                                           : demoWithFatMismatch())},
                true);
    run->clickDisk(0);
    if (search) {
        run->holdReadsFromOpen();
        run->chooseSearch(true);
        run->pressNext();
        ASSERT_TRUE(waitUntil([&] { return run->gate() && run->gate()->holding(); }));
    } else {
        run->pressNext();
        run->clickVolume(0);
        // The first FAT sector is read once by the chain and again by the
        // comparison of the copies: hold the comparison there, then let it
        // reach the chooser while no event is handled.
        const imagebuilder::VolumeManifest& sys = demoSys();
        run->gate()->closeAt(sys.blockSector(sys.fat[0].blocks.at(0)), 2);
        run->pressNext();
        ASSERT_TRUE(waitUntil([&] { return run->gate()->holding(); }));
        run->gate()->open();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(run->state().workerRunning);
    const auto start = std::chrono::steady_clock::now();
    run.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

INSTANTIATE_TEST_SUITE_P(Workers, WizardClosingTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "SearchHeldInARead" : "MountWaitingForTheChooser";
                         });

} // namespace
} // namespace tamsin::test
