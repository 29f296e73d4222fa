// Several disks in one run: picking them, a volume whose segments lie on
// two images listed once with its segments, mounting and reading it, its
// Drive Information, placeholder folders, name spaces and snapshots.

#include "ContainerImages.h"
#include "Images.h"
#include "WizardFixture.h"

#include "GuiTest.h"
#include "DiskTree.h"
#include "VolumeTree.h"

#include "ui/MessageDialog.h"
#include "ui/ReportDialog.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTreeWidget>
#include <QDropEvent>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <QUrl>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace tamsin::test {
namespace {

class WizardDisksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        images = writeImages(dir, {"disk0.img", "disk1.img"}, spannedDataSet(), &layout);
        ASSERT_EQ(images.size(), 2u);
        paths = {QString::fromStdString(images[0]), QString::fromStdString(images[1])};
    }

    const imagebuilder::ManifestSegment& segment(std::size_t i) const { return layout.spanned.at(0).segments.at(i); }
    const imagebuilder::VolumeManifest& data() const { return *layout.spanned.at(0).manifest; }
    QString start(std::size_t i) const { return QString::number(segment(i).startSector); }
    QString item(std::size_t i) const
    {
        return QStringLiteral("Segment %1 of 2: %2, sector %3").arg(QString::number(i + 1), paths[i], start(i));
    }
    QString end(std::size_t i) const { return QString::number(segment(i).startSector + segment(i).sizeSectors); }

    // Disk 0, Ctrl-click disk 1, Next: SYS at 0, DATA's segments at 1 and 2.
    void pickBoth(WizardRun& run)
    {
        run.clickDisk(0);
        run.clickDisk(1, Qt::ControlModifier);
        run.pressNext();
        ASSERT_EQ(run.state().wizardStep, 1);
    }
    void mountData(WizardRun& run)
    {
        pickBoth(run);
        run.clickVolume(1);
        run.pressNext();
        ASSERT_TRUE(run.waitForStep(2));
    }
    bool fifthRowShown(WizardRun& run) const
    {
        return run.window().findChild<QLabel*>(QStringLiteral("panelLabel4"))->isVisible();
    }
    QTreeWidgetItem* volumeRoot(WizardRun& run) const
    {
        return run.window().findChild<app::VolumeTree*>(QStringLiteral("volumeTree"))->root();
    }

    TempDir dir;
    std::vector<std::string> images;
    QStringList paths;
    imagebuilder::DiskSetLayout layout;
};

TEST_F(WizardDisksTest, APickedPairListsTheSpannedVolumeOnceWithItsSegments)
{
    WizardRun run(images);
    run.clickDisk(0);
    run.clickDisk(1, Qt::ControlModifier);
    EXPECT_TRUE(run.button("next")->isVisible());
    EXPECT_EQ(run.statusLine(), QStringLiteral("2 disks selected: Storage Device0, Storage Device1"));
    run.pressNext();
    ASSERT_EQ(run.state().wizardStep, 1);
    EXPECT_EQ(run.window().session().moreDisks.size(), 1u);
    EXPECT_EQ(volumeRoot(run)->text(0), QStringLiteral("Storage Device 0"));
    EXPECT_EQ(run.volumeNames(), (QStringList{"SYS", "DATA"}));
    EXPECT_TRUE(run.segmentTexts(0).isEmpty());
    EXPECT_EQ(run.segmentTexts(1), (QStringList{item(0), item(1)}));

    // The volume's item: the whole volume, from its first segment to its last.
    const int width = run.window().width();
    run.clickVolume(1);
    EXPECT_EQ(run.window().width(), width) << "long segment paths wrap, the window keeps its size";
    EXPECT_EQ(run.panelLabel(1), QStringLiteral("Volume Start    "));
    EXPECT_EQ(run.panelValue(1), start(0));
    EXPECT_EQ(run.panelValue(2), end(1));
    EXPECT_EQ(run.panelLabel(4), QStringLiteral("Segments        "));
    EXPECT_EQ(run.panelValue(4), QStringLiteral("2 of 2 on %1, %2").arg(paths[0], paths[1]));
    EXPECT_EQ(run.window().session().mounted.volumeIndex, 1);

    // A segment's item: that segment alone.
    run.clickSegment(2);
    EXPECT_EQ(run.panelValue(1), start(1));
    EXPECT_EQ(run.panelValue(2), end(1));
    EXPECT_EQ(run.panelLabel(4), QStringLiteral("Segment         "));
    EXPECT_EQ(run.panelValue(4), QStringLiteral("2 of 2 on %1").arg(paths[1]));
    EXPECT_TRUE(run.button("next")->isVisible());

    // A volume of one segment shows the four rows alone.
    run.clickVolume(0);
    EXPECT_FALSE(fifthRowShown(run));
}

TEST_F(WizardDisksTest, MountedFromASegmentItemTheVolumeReadsAcrossBothDisks)
{
    OpenedFilesFolder temp;
    WizardRun run(images);
    pickBoth(run);
    run.clickSegment(2);
    run.pressNext();
    ASSERT_TRUE(run.waitForStep(2));
    EXPECT_EQ(run.treeIndex({}).data().toString(), QStringLiteral("DATA"));
    EXPECT_EQ(run.listColumn(0), (QStringList{"DOCS", "Dir0", "BIG.BIN", "Quarterly Report.doc"}));

    // BIG.BIN's last blocks lie in the segment on the second disk.
    run.doubleClickRow(run.listRow(QStringLiteral("BIG.BIN")));
    EXPECT_EQ(temp.read("BIG.BIN"), imagebuilder::expectedData(*data().find("BIG.BIN")));

    DialogAnswer<ui::ReportDialog> info([&](ui::ReportDialog& dialog) {
        ASSERT_EQ(dialog.rowCount(), 14u);
        EXPECT_EQ(dialog.value(0)->text(), start(1)) << "the record picked";
        EXPECT_EQ(dialog.value(8)->text(), QStringLiteral("2 of 2"));
        EXPECT_EQ(dialog.value(9)->text(),
                  QStringLiteral("%1 sector %2, 256 sectors, from block 0").arg(paths[0], start(0)));
        EXPECT_EQ(dialog.value(10)->text(),
                  QStringLiteral("%1 sector %2, 512 sectors, from block 16").arg(paths[1], start(1)));
        EXPECT_EQ(dialog.value(12)->text(), QStringLiteral("0")) << "no redirected blocks";
        dialog.accept();
    });
    run.window().action(app::CommandId::DriveInformation)->trigger();
    EXPECT_TRUE(info.answered());
}

TEST_F(WizardDisksTest, BackClosesTheFurtherDisksAndAPlainClickPicksOneAgain)
{
    WizardRun run(images);
    mountData(run);
    run.pressBack();
    run.pressBack();
    ASSERT_EQ(run.state().wizardStep, 0);
    const Session& session = run.window().session();
    EXPECT_TRUE(session.moreDisks.empty());
    EXPECT_EQ(session.volumes.volumeCount(), 0u);
    EXPECT_FALSE(session.mounted.layout);
    EXPECT_FALSE(session.reader.isOpen());

    // The second disk alone: read first, its segment found, the other missing.
    run.clickDisk(1);
    EXPECT_FALSE(run.window().findChild<QLabel*>(QStringLiteral("statusLine"))->isVisible());
    run.pressNext();
    ASSERT_EQ(run.state().wizardStep, 1);
    EXPECT_TRUE(session.moreDisks.empty());
    EXPECT_EQ(volumeRoot(run)->text(0), QStringLiteral("Storage Device 1"));
    EXPECT_EQ(run.volumeNames(), (QStringList{"DATA (incomplete)"}));
    EXPECT_EQ(run.segmentTexts(0), (QStringList{QStringLiteral("Segment 1 of 2: missing"), item(1)}));
    EXPECT_FALSE(volumeRoot(run)->child(0)->child(0)->flags() & Qt::ItemIsEnabled);
    run.clickVolume(0);
    EXPECT_EQ(run.panelValue(4), QStringLiteral("1 of 2 on %1 (segment 1 of 2 missing)").arg(paths[1]));
}

TEST_F(WizardDisksTest, CtrlAndShiftClicksDecideTheDisksAndWhichIsReadFirst)
{
    WizardRun run(images);
    const Session& session = run.window().session();
    run.clickDisk(1);
    run.clickDisk(0, Qt::ControlModifier);
    EXPECT_EQ(session.disks.selectedDisk, 1);
    EXPECT_EQ(run.statusLine(), QStringLiteral("2 disks selected: Storage Device1, Storage Device0"));
    EXPECT_EQ(run.state().endSectorText, std::to_string(layout.disks[1].totalSectors)) << "the range of the first";

    // Unpicking the first makes the other the first; unpicking both leaves nothing to read.
    run.clickDisk(1, Qt::ControlModifier);
    EXPECT_EQ(session.disks.selectedDisk, 0);
    run.clickDisk(0, Qt::ControlModifier);
    EXPECT_FALSE(run.button("next")->isVisible());

    // Disk 1 first, then a range back to disk 0: the records of disk 1 come first.
    run.clickDisk(1);
    run.clickDisk(0, Qt::ShiftModifier);
    EXPECT_EQ(run.statusLine(), QStringLiteral("2 disks selected: Storage Device1, Storage Device0"));
    run.pressNext();
    ASSERT_EQ(run.state().wizardStep, 1);
    EXPECT_EQ(volumeRoot(run)->text(0), QStringLiteral("Storage Device 1"));
    EXPECT_EQ(run.volumeNames(), (QStringList{"DATA", "SYS"}));
}

// Each disk has its root; a volume sits under the disk it lies on, a
// volume of several disks under the disk of its first segment.
TEST_F(WizardDisksTest, VolumesAreListedUnderTheirOwnDisk)
{
    imagebuilder::DiskSetSpec set = spannedDataSet();
    imagebuilder::SegmentSpec apps;
    apps.name = "APPS";
    apps.contents.emplace();
    set.disks[1].partitions[0].netware->segments = {apps};
    const std::vector<std::string> own = writeImages(dir, {"own0.img", "own1.img"}, set, nullptr);
    WizardRun run(own);
    run.clickDisk(1);
    run.clickDisk(0, Qt::ControlModifier);
    run.pressNext();
    ASSERT_EQ(run.state().wizardStep, 1);
    auto* tree = run.window().findChild<app::VolumeTree*>(QStringLiteral("volumeTree"));
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    const auto childNames = [](QTreeWidgetItem* disk) {
        QStringList names;
        for (int i = 0; i < disk->childCount(); ++i)
            names << disk->child(i)->text(0);
        return names;
    };
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("Storage Device 1"));
    EXPECT_EQ(childNames(tree->topLevelItem(0)), (QStringList{"APPS"}));
    EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("Storage Device 0"));
    EXPECT_EQ(childNames(tree->topLevelItem(1)), (QStringList{"DATA", "SYS"}));

    // A disk's root picks nothing; a volume under the second root mounts as any other.
    const VolumeTable& volumes = run.window().session().volumes;
    int appsAt = -1;
    for (std::uint32_t i = 0; i < volumes.volumeCount(); ++i)
        if (volumes[i].name == "APPS")
            appsAt = static_cast<int>(i);
    run.clickVolume(appsAt);
    EXPECT_EQ(run.window().session().mounted.volumeIndex, appsAt);
    EXPECT_TRUE(run.button("next")->isVisible());
}

TEST_F(WizardDisksTest, SearchVolumesScansTheFirstDiskAlone)
{
    WizardRun run(images);
    run.clickDisk(1);
    run.clickDisk(0, Qt::ControlModifier);
    run.chooseSearch(true);
    EXPECT_EQ(run.statusLine(), QStringLiteral("2 disks selected: Storage Device1, Storage Device0"
                                               " (Search Volumes scans Storage Device1)"));
    run.pressNext();
    ASSERT_TRUE(run.waitForStep(1));
    EXPECT_TRUE(run.window().session().moreDisks.empty());
    EXPECT_EQ(volumeRoot(run)->text(0), QStringLiteral("Storage Device 1"));
    EXPECT_EQ(run.window().session().reader.device()->path(), images[1]);
    EXPECT_EQ(run.state().searchEnd, layout.disks[1].totalSectors);
}

TEST_F(WizardDisksTest, SeveralImagesOpenedAtOnceArePickedTogether)
{
    WizardRun run({});
    auto* disks = run.window().findChild<app::DiskTree*>(QStringLiteral("diskTree"));
    EXPECT_TRUE(disks->showsEmptyHint()) << "an empty list says how to open an image";
    DialogAnswer<QFileDialog> pick([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
        dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QStringLiteral("\"%1\" \"%2\"").arg(paths[0], paths[1]));
        dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open)->click();
    });
    run.window().action(app::CommandId::OpenDiskImage)->trigger();
    ASSERT_TRUE(pick.answered());
    EXPECT_FALSE(disks->showsEmptyHint());
    EXPECT_EQ(run.statusLine(), QStringLiteral("2 disks selected: Storage Device0, Storage Device1"));
    ASSERT_TRUE(run.button("next")->isVisible());
    run.pressNext();
    EXPECT_EQ(run.volumeNames(), (QStringList{"SYS", "DATA"}));
}

TEST_F(WizardDisksTest, RescueMapsGoWithTheirImagesWhetherOpenedOrDropped)
{
    // A map of any name is told by its content; opened with its image it goes with it.
    const std::string map = (dir / "rescue.log").string();
    const auto size = std::filesystem::file_size(images[0]);
    std::ofstream(map) << "# Mapfile\n0 +\n0 0x" << std::hex << size << " +\n";
    WizardRun run({});
    DialogAnswer<QFileDialog> pick([&](QFileDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QStringLiteral("\"%1\" \"%2\"").arg(paths[0], QString::fromStdString(map)));
        dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open)->click();
    });
    run.window().action(app::CommandId::OpenDiskImage)->trigger();
    ASSERT_TRUE(pick.answered());
    const DiskTable& disks = run.window().session().disks;
    ASSERT_EQ(disks.diskCount, 1);
    EXPECT_EQ(disks.entries[0].rescueMap, map);
    auto* tree = run.window().findChild<QTreeWidget*>(QStringLiteral("diskTree"));
    EXPECT_TRUE(tree->topLevelItem(0)->child(0)->toolTip(0).endsWith(QStringLiteral("Rescue map: ") + QString::fromStdString(map)));
    run.pressNext();
    ASSERT_TRUE(run.waitForStep(1));
    EXPECT_NE(run.window().session().reader.rescueMap(), nullptr);
    run.pressBack();
    ASSERT_TRUE(run.waitForStep(0));

    // Dropped alone, a map goes with the picked image; one that does not fit
    // the image is refused with the line at fault.
    const std::string tooLong = (dir / "long.map").string();
    std::ofstream(tooLong) << "0 +\n0 0x" << std::hex << size + 512 << " +\n";
    auto drop = [&](const std::string& path) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        // A drop is delivered to the widget a drag entered first.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&run.window(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&run.window(), &event);
    };
    DialogAnswer<ui::MessageDialog> refused([&](ui::MessageDialog& dialog) {
        EXPECT_EQ(dialog.text().toStdString(), "The rescue map " + tooLong + " cannot be used: line 2: the block "
                                               "reaches past the end of the image (" + std::to_string(size) + " bytes)");
        dialog.accept();
    });
    drop(tooLong);
    EXPECT_TRUE(refused.answered());
    EXPECT_EQ(disks.entries[0].rescueMap, map);
    drop(images[1]);  // an image dropped is listed as one more disk
    EXPECT_EQ(disks.diskCount, 2);
}

// The dialog offers each container format; the chosen files open by content,
// here a VMDK and a QCOW2 named like a raw image, and DATA spans them both.
TEST_F(WizardDisksTest, ContainerImagesOpenByContentAndReadAsTheirRawDisks)
{
    const auto vmdk = makeContainer(images[0], {"vmdkSparse", DiskFormat::Vmdk}, dir.path(), "first");
    const auto qcow = makeContainer(images[1], {"qcow2", DiskFormat::Qcow2}, dir.path(), "second");
    std::filesystem::rename(qcow, dir / "second.img");
    WizardRun run({});
    DialogAnswer<QFileDialog> pick([&](QFileDialog& dialog) {
        const QStringList filters = dialog.nameFilters();
        EXPECT_TRUE(filters.first().contains(QStringLiteral("*.vmdk"))) << filters.first().toStdString();
        for (const char* name : {"VMware", "Virtual PC", "Hyper-V", "QEMU", "EWF", "All files"})
            EXPECT_EQ(filters.filter(QString::fromUtf8(name)).size(), 1) << name;
        dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QStringLiteral("\"%1\" \"%2\"").arg(QString::fromStdString(vmdk.string()),
                                                           QString::fromStdString((dir / "second.img").string())));
        dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open)->click();
    });
    run.window().action(app::CommandId::OpenDiskImage)->trigger();
    ASSERT_TRUE(pick.answered());
    const DiskTable& disks = run.window().session().disks;
    ASSERT_EQ(disks.diskCount, 2u);
    EXPECT_EQ(disks.entries[0].model, "VMware disk image (first.vmdk)");
    EXPECT_EQ(disks.entries[1].model, "QEMU disk image (second.img)");
    // The disk tree names them so.
    auto* tree = run.window().findChild<QTreeWidget*>(QStringLiteral("diskTree"));
    EXPECT_EQ(tree->topLevelItem(0)->child(1)->text(0), QStringLiteral("Storage Device1 - QEMU disk image (second.img)"));
    run.pressNext();
    EXPECT_EQ(run.volumeNames(), (QStringList{"SYS", "DATA"}));
}

TEST_F(WizardDisksTest, APlaceholderFolderIsAFolderEverywhere)
{
    WizardRun run(images);
    mountData(run);
    const int dir0 = run.listRow(QStringLiteral("Dir0"));
    ASSERT_GE(dir0, 0);
    EXPECT_EQ(run.listColumn(1).at(dir0), QStringLiteral("Folder"));

    QTableView* list = run.fileList();
    auto* menu = run.window().findChild<QMenu*>(QStringLiteral("contextMenu"));
    list->setCurrentIndex(list->model()->index(dir0, 0));
    emit list->customContextMenuRequested(list->visualRect(list->model()->index(dir0, 0)).center());
    ASSERT_TRUE(waitUntil([&] { return menu->isVisible(); }));
    EXPECT_FALSE(run.window().action(app::CommandId::OpenWith)->isEnabled());
    menu->close();

    // A double-click opens it: its orphan is listed and nothing is handed to the desktop.
    run.doubleClickRow(dir0);
    EXPECT_EQ(run.listColumn(0), QStringList{"LOST.TXT"});
    EXPECT_EQ(run.folderTree()->currentIndex(), run.treeIndex({"Dir0"}));
    EXPECT_TRUE(run.desktop().urls.isEmpty());
}

TEST_F(WizardDisksTest, PropertiesShowTheDosNameAndBothStamps)
{
    WizardRun run(images);
    mountData(run);
    auto properties = [&](const QString& name, std::function<void(ui::ReportDialog&)> check) {
        run.fileList()->setCurrentIndex(run.fileList()->model()->index(run.listRow(name), 0));
        DialogAnswer<ui::ReportDialog> answer([&](ui::ReportDialog& dialog) {
            check(dialog);
            dialog.accept();
        });
        run.window().runCommand(app::CommandId::Properties);
        EXPECT_TRUE(answer.answered()) << name.toStdString();
    };
    properties(QStringLiteral("Quarterly Report.doc"), [](ui::ReportDialog& dialog) {
        ASSERT_EQ(dialog.rowCount(), 7u);
        EXPECT_EQ(dialog.value(0)->text(), QStringLiteral("Quarterly Report.doc"));
        EXPECT_EQ(dialog.value(1)->text(), QStringLiteral("REPORT.DOC"));
        EXPECT_TRUE(dialog.value(2)->text().startsWith(QStringLiteral("3 KB ("))) << "and the exact bytes";
        EXPECT_EQ(dialog.value(4)->text(), QStringLiteral("07-Mar-1998 13:05:42"));
        EXPECT_EQ(dialog.value(5)->text(), QStringLiteral("02-Jan-1999 08:30:00"));
    });
    // A DOS name alone is not repeated.
    properties(QStringLiteral("BIG.BIN"), [](ui::ReportDialog& dialog) { EXPECT_EQ(dialog.rowCount(), 6u); });
}

TEST_F(WizardDisksTest, ASnapshotOfTheSpannedVolumeReadsThroughItsSegmentsAgain)
{
    const std::string written = (dir / "DATA1.VSNP").string();
    {
        WizardRun run(images);
        mountData(run);
        auto answer = answerFileDialog(QString::fromStdString((dir / "data1").string()));
        run.window().action(app::CommandId::SaveSnapshot)->trigger();
        ASSERT_TRUE(answer->answered());
    }

    OpenedFilesFolder temp;
    WizardRun run(images);
    pickBoth(run);
    auto answer = answerFileDialog(QString::fromStdString(written));
    run.window().action(app::CommandId::LoadSnapshot)->trigger();
    ASSERT_TRUE(answer->answered());
    ASSERT_EQ(run.state().wizardStep, 2);
    const Session& session = run.window().session();
    EXPECT_EQ(session.mounted.layout, session.volumes[1].layout);
    run.doubleClickRow(run.listRow(QStringLiteral("BIG.BIN")));
    EXPECT_EQ(temp.read("BIG.BIN"), imagebuilder::expectedData(*data().find("BIG.BIN")));
}

// SYS on disk 0 with full headers, mirrored in sync on disk 1. One 4K block
// of LEDGER.DAT was redirected on disk 0 and lost a sector there; the wizard
// reads it from the other member.
TEST(WizardMirrorTest, AMirroredHotfixedVolumeIsListedOnceAndReadsWhole)
{
    using namespace imagebuilder;
    DiskSetSpec set;
    PartitionSpec primary;
    primary.slot = 0;
    primary.startSector = 2048;
    primary.sizeSectors = 6000;
    primary.netware.emplace();
    primary.netware->headers.emplace();
    SegmentSpec sys;
    sys.name = "SYS";
    sys.contents.emplace();
    sys.contents->nodes = {fileNode("LEDGER.DAT", 40 * 1024), fileNode("NOTES.TXT", 700)};
    primary.netware->segments = {sys};
    set.disks.emplace_back().partitions = {primary};
    PartitionSpec member;
    member.slot = 1;
    member.startSector = 4096;
    member.netware.emplace();
    member.netware->hotfixLength = 2048;
    member.netware->headers.emplace();
    member.netware->headers->mirrorOf = PartitionRef{0, 0};
    set.disks.emplace_back().partitions = {member};
    const auto planned = planImages(set);
    ASSERT_TRUE(planned) << planned.error();
    // SYS starts at logical sector 160 with 8 sectors per block: block b is logical 4K block 20 + b.
    HotfixRedirect redirect;
    redirect.logicalBlock = 20 + planned->volume("SYS")->find("LEDGER.DAT")->dataBlocks.at(3);
    redirect.badBits = 0b0010'0000;
    set.disks[0].partitions[0].netware->headers->redirects = {redirect};

    TempDir dir;
    DiskSetLayout layout;
    const auto images = writeImages(dir, {"a.img", "b.img"}, set, &layout);
    ASSERT_EQ(images.size(), 2u);
    const ManifestEntry& ledger = *layout.volume("SYS")->find("LEDGER.DAT");
    EXPECT_FALSE(ledger.incomplete()) << "the member in sync holds the lost sector";

    OpenedFilesFolder temp;
    WizardRun run(images);
    run.clickDisk(0);
    run.clickDisk(1, Qt::ControlModifier);
    run.pressNext();
    ASSERT_EQ(run.state().wizardStep, 1);
    EXPECT_EQ(run.volumeNames(), QStringList{"SYS"}) << "the members' tables list SYS once";
    run.clickVolume(0);
    run.pressNext();
    ASSERT_TRUE(run.waitForStep(2));
    run.doubleClickRow(run.listRow(QStringLiteral("LEDGER.DAT")));
    EXPECT_EQ(temp.read("LEDGER.DAT"), expectedData(ledger));

    DialogAnswer<ui::ReportDialog> info([&](ui::ReportDialog& dialog) {
        QStringList rows;
        for (std::size_t i = 0; i < dialog.rowCount(); ++i)
            rows << dialog.value(i)->text();
        EXPECT_TRUE(rows.contains(QStringLiteral("%1 partition 1, in sync").arg(QString::fromStdString(images[0]))));
        EXPECT_TRUE(rows.contains(QStringLiteral("%1 partition 2, in sync").arg(QString::fromStdString(images[1]))));
        dialog.accept();
    });
    run.window().action(app::CommandId::DriveInformation)->trigger();
    EXPECT_TRUE(info.answered());
}

// A rescue map beside an image: the sectors it does not mark finished read
// as zeros; a map that does not fit the image keeps the disk from opening.
TEST_F(WizardDisksTest, ARescueMapBesideTheImageIsUsedAndABrokenOneRefused)
{
    const imagebuilder::VolumeManifest& sys = *layout.disks.at(0).partitions.at(0).segments.at(0).manifest;
    const imagebuilder::ManifestEntry& ncf = *sys.find("AUTOEXEC.NCF");
    const std::uint64_t bad = sys.blockSector(ncf.dataBlocks.at(0));
    const std::uint64_t size = std::filesystem::file_size(images[0]);
    auto writeMap = [&](const std::string& blocks) {
        std::ofstream(images[0] + ".map") << "0x0 + 1\n" << blocks;
    };
    writeMap("0 " + std::to_string(bad * 512) + " +\n" + std::to_string(bad * 512) + " 512 -\n"
             + std::to_string((bad + 1) * 512) + " " + std::to_string(size - (bad + 1) * 512) + " +\n");
    {
        OpenedFilesFolder temp;
        WizardRun run({images[0]});
        run.clickDisk(0);
        run.pressNext();
        ASSERT_EQ(run.state().wizardStep, 1);
        run.clickVolume(0);
        run.pressNext();
        ASSERT_TRUE(run.waitForStep(2));
        run.doubleClickRow(run.listRow(QStringLiteral("AUTOEXEC.NCF")));
        EXPECT_EQ(temp.read("AUTOEXEC.NCF"), std::vector<std::uint8_t>(ncf.size, 0)) << "the unrescued sector";
    }

    writeMap("0 " + std::to_string(size + 512) + " +\n");
    WizardRun run({images[0]});
    run.clickDisk(0);
    DialogAnswer<ui::MessageDialog> refused([&](ui::MessageDialog& dialog) {
        EXPECT_NE(dialog.text().toStdString().find("line 2: the block reaches past the end of the image"),
                  std::string::npos)
            << dialog.text().toStdString();
        dialog.accept();
    });
    run.pressNext();
    EXPECT_TRUE(refused.answered());
    EXPECT_EQ(run.state().wizardStep, 0);
}

} // namespace
} // namespace tamsin::test
