#include "ui/RecoverySettingsDialog.h"

#include <QButtonGroup>
#include <QComboBox>

#include <gtest/gtest.h>

namespace tamsin::ui {
namespace {

TEST(RecoverySettingsDialog, OpensOnTheCurrentSettings)
{
    RecoverySettings settings(60);
    RecoverySettingsDialog dialog(nullptr, settings);
    EXPECT_EQ(dialog.sectorsList()->count(), 100);
    EXPECT_EQ(dialog.sectorsList()->itemText(0), QStringLiteral("1"));
    EXPECT_EQ(dialog.sectorsList()->currentText(), QStringLiteral("60"));
    EXPECT_EQ(dialog.retriesList()->count(), 10);
    EXPECT_EQ(dialog.retriesList()->currentText(), QStringLiteral("3"));
    EXPECT_EQ(dialog.duplicateGroup()->checkedId(), 1);
    EXPECT_EQ(dialog.deletedGroup()->checkedId(), 1);
}

TEST(RecoverySettingsDialog, ReportsWhatTheControlsHold)
{
    RecoverySettings settings(8);
    ASSERT_TRUE(settings.setDuplicateAction(3));
    ASSERT_TRUE(settings.setDeletedFilesAction(2));
    RecoverySettingsDialog dialog(nullptr, settings);
    EXPECT_EQ(dialog.sectorsPerAttempt(), 8u);
    EXPECT_EQ(dialog.duplicateAction(), 3);
    EXPECT_EQ(dialog.deletedFilesAction(), 2);

    dialog.sectorsList()->setCurrentIndex(99);
    dialog.retriesList()->setCurrentIndex(9);
    dialog.duplicateGroup()->button(2)->click();
    dialog.deletedGroup()->button(3)->click();
    EXPECT_EQ(dialog.sectorsPerAttempt(), 100u);
    EXPECT_EQ(dialog.retryCount(), 10);
    EXPECT_EQ(dialog.duplicateAction(), 2);
    EXPECT_EQ(dialog.deletedFilesAction(), 3);
}

} // namespace
} // namespace tamsin::ui
