#include "WizardFixture.h"

#include "GuiTest.h"
#include "VolumeTree.h"

#include "disk/DiskEnumerator.h"
#include "disk/FileDevice.h"
#include "imagebuilder/ImageBuilder.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QHeaderView>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tamsin::test {

void clickHeader(QTableView* table, int column)
{
    QHeaderView* header = table->horizontalHeader();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

bool FakeDesktop::openUrl(const QUrl& url)
{
    urls << url.toString();
    return true;
}

bool FakeDesktop::startProgram(const QString& program, const QStringList& arguments)
{
    programs << program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
    return true;
}

DeviceRead GatedDevice::readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer)
{
    {
        std::unique_lock lock(mutex_);
        const std::uint64_t at = closeSector_ * 512;
        if (at >= byteOffset && at < byteOffset + buffer.size() && --closeOccurrence_ == 0)
            closed_ = true;
        if (closed_) {
            holding_ = true;
            opened_.wait(lock, [this] { return !closed_; });
            holding_ = false;
        }
    }
    ++reads_;
    return inner_->readAt(byteOffset, buffer);
}

void GatedDevice::close()
{
    std::lock_guard lock(mutex_);
    closed_ = true;
}

void GatedDevice::closeAt(std::uint64_t sector, int occurrence)
{
    std::lock_guard lock(mutex_);
    closeSector_ = sector;
    closeOccurrence_ = occurrence;
}

void GatedDevice::open()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = false;
    }
    opened_.notify_all();
}

std::unique_ptr<ModalWatcher> answerFileDialog(const QString& path)
{
    return std::make_unique<DialogAnswer<QFileDialog>>([path](QFileDialog& dialog) {
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(name);
        name->setText(path);
        auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        ASSERT_TRUE(buttons);
        QPushButton* accept = buttons->button(dialog.acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save
                                                                                            : QDialogButtonBox::Open);
        ASSERT_TRUE(accept);
        accept->click();
    });
}

std::string writeImage(const TempDir& dir, const std::string& name, const imagebuilder::DiskSpec& diskSpec)
{
    const auto path = dir / name;
    const auto written = imagebuilder::writeImage(diskSpec, path);
    EXPECT_TRUE(written.ok()) << (written.ok() ? std::string() : written.error());
    return path.string();
}

std::vector<std::string> writeImages(const TempDir& dir, const std::vector<std::string>& names,
                                     const imagebuilder::DiskSetSpec& set, imagebuilder::DiskSetLayout* layout)
{
    std::vector<std::filesystem::path> paths;
    for (const std::string& name : names)
        paths.push_back(dir / name);
    const auto written = imagebuilder::writeImages(set, paths);
    EXPECT_TRUE(written.ok()) << (written.ok() ? std::string() : written.error());
    if (!written.ok())
        return {};
    if (layout)
        *layout = *written;
    std::vector<std::string> result;
    for (const auto& path : paths)
        result.push_back(path.string());
    return result;
}

WizardRun::WizardRun(const std::vector<std::string>& images, bool gated)
{
    DiskSources sources;
    sources.sysBlock.clear();
    EnumerationResult listing = enumerateDisks(images, sources);
    EXPECT_TRUE(listing.errors.empty());
    window_ = std::make_unique<app::WizardDialog>(std::move(listing.table), &desktop_);
    if (gated) {
        window_->setDiskOpener([this](SectorReader& reader, const DiskInfo& disk, std::string& error) {
            OpenError failure;
            auto device = FileDevice::open(disk.path, &failure);
            if (!device) {
                error = failure.message;
                return false;
            }
            auto gate = std::make_unique<GatedDevice>(std::move(device));
            gate_ = gate.get();
            if (startClosed_)
                gate_->close();
            reader.attach(std::move(gate));
            return true;
        });
    }
    window_->show();
}

WizardRun::~WizardRun()
{
    if (gate_ && window_->session().reader.device() == gate_)
        gate_->open();
    window_.reset();
}

QPushButton* WizardRun::button(const char* name) const
{
    return window_->findChild<QPushButton*>(QString::fromUtf8(name));
}

QTreeView* WizardRun::folderTree() const
{
    return window_->findChild<QTreeView*>(QStringLiteral("folderTree"));
}

QTableView* WizardRun::fileList() const
{
    return window_->findChild<QTableView*>(QStringLiteral("fileList"));
}

QString WizardRun::panelValue(int row) const
{
    return window_->findChild<QLabel*>(QStringLiteral("panelValue%1").arg(row))->text();
}

QString WizardRun::panelLabel(int row) const
{
    return window_->findChild<QLabel*>(QStringLiteral("panelLabel%1").arg(row))->text();
}

QString WizardRun::statusLine() const
{
    return window_->findChild<QLabel*>(QStringLiteral("statusLine"))->text();
}

QString WizardRun::instruction() const
{
    return window_->findChild<QLabel*>(QStringLiteral("instructionPanel"))->text();
}

void WizardRun::clickDisk(int index, Qt::KeyboardModifiers modifiers)
{
    auto* tree = window_->findChild<QTreeWidget*>(QStringLiteral("diskTree"));
    QTreeWidgetItem* item = tree->topLevelItem(0)->child(index);
    ASSERT_TRUE(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, modifiers, tree->visualItemRect(item).center());
}

void WizardRun::chooseSearch(bool search)
{
    const char* name = search ? "searchVolumes" : "useVolumeTable";
    window_->findChild<QRadioButton*>(QString::fromUtf8(name))->click();
}

void WizardRun::setRange(const QString& start, const QString& end)
{
    auto* startEdit = window_->findChild<QLineEdit*>(QStringLiteral("startSector"));
    auto* endEdit = window_->findChild<QLineEdit*>(QStringLiteral("endSector"));
    startEdit->selectAll();
    QTest::keyClicks(startEdit, start);
    if (start.isEmpty())
        QTest::keyClick(startEdit, Qt::Key_Delete);
    endEdit->selectAll();
    if (end.isEmpty())
        QTest::keyClick(endEdit, Qt::Key_Delete);
    else
        QTest::keyClicks(endEdit, end);
}

void WizardRun::pressNext()
{
    button("next")->click();
}

void WizardRun::pressBack()
{
    button("back")->click();
}

QList<QTreeWidgetItem*> WizardRun::volumeItems() const
{
    QList<QTreeWidgetItem*> items;
    auto* tree = window_->findChild<app::VolumeTree*>(QStringLiteral("volumeTree"));
    for (int d = 0; d < tree->topLevelItemCount(); ++d)
        for (int i = 0; i < tree->topLevelItem(d)->childCount(); ++i)
            items << tree->topLevelItem(d)->child(i);
    return items;
}

QStringList WizardRun::volumeNames() const
{
    QStringList names;
    for (QTreeWidgetItem* volume : volumeItems())
        names << volume->text(0);
    return names;
}

// A point on the first characters of an item: the column of the volume
// tree may be wider than the pane.
static QPoint textStart(const QRect& rect)
{
    return {rect.left() + std::min(rect.width() / 2, 20), rect.center().y()};
}

QStringList WizardRun::segmentTexts(int row) const
{
    QStringList texts;
    const QList<QTreeWidgetItem*> volumes = volumeItems();
    if (row >= volumes.size())
        return texts;
    for (int i = 0; i < volumes[row]->childCount(); ++i)
        texts << volumes[row]->child(i)->text(0);
    return texts;
}

void WizardRun::clickSegment(int position)
{
    auto* tree = window_->findChild<app::VolumeTree*>(QStringLiteral("volumeTree"));
    QTreeWidgetItem* item = tree->segmentItem(position);
    ASSERT_TRUE(item);
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, textStart(tree->visualItemRect(item)));
}

void WizardRun::clickVolume(int position)
{
    auto* tree = window_->findChild<app::VolumeTree*>(QStringLiteral("volumeTree"));
    QTreeWidgetItem* item = tree->volumeItem(position);
    ASSERT_TRUE(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, textStart(tree->visualItemRect(item)));
}

bool WizardRun::waitForStep(int step, int timeoutMs) const
{
    return waitUntil([&] { return state().wizardStep == step && !state().workerRunning; }, timeoutMs);
}

bool WizardRun::waitIdle(int timeoutMs) const
{
    return waitUntil([&] { return !state().workerRunning; }, timeoutMs);
}

void WizardRun::mountFirstVolume()
{
    clickDisk(0);
    pressNext();
    clickVolume(0);
    pressNext();
    ASSERT_TRUE(waitForStep(2));
}

QModelIndex WizardRun::treeIndex(const QStringList& path) const
{
    QAbstractItemModel* model = folderTree()->model();
    QModelIndex at = model->index(0, 0);
    for (const QString& name : path) {
        QModelIndex next;
        for (int row = 0; row < model->rowCount(at); ++row)
            if (model->index(row, 0, at).data().toString() == name)
                next = model->index(row, 0, at);
        if (!next.isValid())
            return {};
        at = next;
    }
    return at;
}

QStringList WizardRun::treeChildren(const QStringList& path) const
{
    QStringList names;
    const QModelIndex at = treeIndex(path);
    QAbstractItemModel* model = folderTree()->model();
    for (int row = 0; row < model->rowCount(at); ++row)
        names << model->index(row, 0, at).data().toString();
    return names;
}

void WizardRun::clickTree(const QStringList& path)
{
    const QModelIndex index = treeIndex(path);
    ASSERT_TRUE(index.isValid()) << path.join('/').toStdString();
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        folderTree()->expand(up);
    folderTree()->scrollTo(index);
    QTest::mouseClick(folderTree()->viewport(), Qt::LeftButton, {}, folderTree()->visualRect(index).center());
}

QStringList WizardRun::listColumn(int column) const
{
    QStringList texts;
    QAbstractItemModel* model = fileList()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, column).data().toString();
    return texts;
}

int WizardRun::listRow(const QString& name) const
{
    return static_cast<int>(listColumn(0).indexOf(name));
}

void WizardRun::doubleClickRow(int row)
{
    QTableView* list = fileList();
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    // A double-click is a press and release followed by the double-click event.
    const QPoint at = list->visualRect(index).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

OpenedFilesFolder::OpenedFilesFolder()
{
    if (const char* previous = std::getenv("XDG_RUNTIME_DIR"))
        saved_ = previous;
    ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
}

OpenedFilesFolder::~OpenedFilesFolder()
{
    if (saved_)
        ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

std::filesystem::path OpenedFilesFolder::folder() const
{
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
        if (entry.path().filename().string().starts_with("tamsin-"))
            return entry.path();
    return {};
}

std::vector<std::uint8_t> OpenedFilesFolder::read(const std::string& name) const
{
    std::ifstream in(folder() / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace tamsin::test
