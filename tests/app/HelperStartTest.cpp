// The wizard in access mode F: a helper library that cannot be loaded stops
// the start with its message, and a helper listing is read in mode F.

#include "HelperStart.h"
#include "WizardDialog.h"

#include "GuiTest.h"
#include "TempDir.h"

#include "disk/HelperLibraries.h"
#include "ui/MessageDialog.h"
#include "ui/UiTexts.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tamsin::app {
namespace {

using test::DialogAnswer;

TEST(HelperStart, AMissingLibraryIsReportedInAStopBox)
{
    test::TempDir empty;
    ::setenv("TAMSIN_HELPER_DIR", empty.path().c_str(), 1);
    QString text, caption;
    ui::MessageKind kind = ui::MessageKind::Information;
    DialogAnswer<ui::MessageDialog> shown([&](ui::MessageDialog& dialog) {
        text = dialog.text();
        caption = dialog.windowTitle();
        kind = dialog.kind();
        dialog.accept();
    });
    EXPECT_FALSE(loadHelperLibraries());
    ::unsetenv("TAMSIN_HELPER_DIR");
    EXPECT_TRUE(shown.answered());
    EXPECT_EQ(text.toStdString(), kDisk32Missing);
    EXPECT_EQ(caption.toStdString(), "Corvane Tamsin Novell");
    EXPECT_EQ(kind, ui::MessageKind::Error);
}

TEST(HelperStart, TheWizardReadsInTheListingsAccessMode)
{
    DiskTable helperListing;
    helperListing.accessMode = AccessMode::Helper;
    WizardDialog window(helperListing);
    EXPECT_EQ(window.session().reader.accessMode(), AccessMode::Helper);
    EXPECT_EQ(window.session().addDisk().accessMode(), AccessMode::Helper);
    EXPECT_EQ(WizardDialog(DiskTable{}).session().reader.accessMode(), AccessMode::Native);
}

} // namespace
} // namespace tamsin::app
