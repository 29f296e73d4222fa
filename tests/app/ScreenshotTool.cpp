// tamsin_gui_screenshots IMAGE OUTDIR: drives the wizard through its three
// steps on IMAGE (the demo disk) and saves a picture of each into OUTDIR.
// scripts/screenshots.sh runs it under Xvfb for the README.

#include "Desktop.h"
#include "VolumeTree.h"
#include "WizardDialog.h"

#include "disk/DiskEnumerator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdio>

namespace {

using tamsin::app::WizardDialog;

// Nothing leaves the program while pictures are taken.
class QuietDesktop final : public tamsin::app::Desktop {
public:
    bool openUrl(const QUrl&) override { return true; }
    bool startProgram(const QString&, const QStringList&) override { return true; }
    void exitNow() override {}
};

bool waitFor(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 30000)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void settle()
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void clickItem(QTreeWidget* tree, QTreeWidgetItem* item)
{
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
}

bool save(WizardDialog& window, const QString& dir, const char* name)
{
    settle();
    const QString path = dir + QLatin1Char('/') + QString::fromUtf8(name);
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IMAGE OUTDIR\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[2]);

    tamsin::DiskSources sources;
    sources.sysBlock.clear();
    auto listing = tamsin::enumerateDisks({argv[1]}, sources);
    if (!listing.errors.empty()) {
        std::fprintf(stderr, "%s\n", listing.errors.front().c_str());
        return 1;
    }
    QuietDesktop desktop;
    WizardDialog window(std::move(listing.table), &desktop);
    window.resize(900, 600);
    window.show();
    settle();

    // The disk step, with the demo disk selected.
    auto* disks = window.findChild<QTreeWidget*>(QStringLiteral("diskTree"));
    clickItem(disks, disks->topLevelItem(0)->child(0));
    if (!save(window, outDir, "wizard-disk.png"))
        return 1;

    // The volume step, with SYS selected.
    window.findChild<QPushButton*>(QStringLiteral("next"))->click();
    auto* volumes = window.findChild<tamsin::app::VolumeTree*>(QStringLiteral("volumeTree"));
    if (window.state().wizardStep != 1 || !volumes->volumeItem(0))
        return 1;
    clickItem(volumes, volumes->volumeItem(0));
    if (!save(window, outDir, "wizard-volume.png"))
        return 1;

    // The browsing step, in a folder with deleted and compressed files.
    window.findChild<QPushButton*>(QStringLiteral("next"))->click();
    if (!waitFor([&] { return window.state().wizardStep == 2 && !window.workerRunning(); }))
        return 1;
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("folderTree"));
    QAbstractItemModel* model = tree->model();
    const QModelIndex root = model->index(0, 0);
    QModelIndex users;
    for (int row = 0; row < model->rowCount(root); ++row)
        if (model->index(row, 0, root).data().toString() == QStringLiteral("USERS"))
            users = model->index(row, 0, root);
    tree->expand(users);
    settle();
    const QModelIndex alice = model->index(0, 0, users);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(alice).center());
    return save(window, outDir, "wizard-browse.png") ? 0 : 1;
}
