#pragma once
// A wizard window on built disk images, with the desktop replaced and the
// disk reads of the run optionally held at a gate, and helpers that press
// its real controls.

#include "Desktop.h"
#include "GuiTest.h"
#include "WizardDialog.h"

#include "TempDir.h"

#include "disk/Device.h"
#include "imagebuilder/DiskDescription.h"
#include "imagebuilder/ImageBuilder.h"

#include <QList>
#include <QModelIndex>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QFileDialog;
class QListView;
class QPushButton;
class QTableView;
class QTreeView;
class QTreeWidgetItem;

namespace tamsin::test {

// Records what the wizard asks of the desktop instead of doing it.
class FakeDesktop final : public app::Desktop {
public:
    bool openUrl(const QUrl& url) override;
    bool startProgram(const QString& program, const QStringList& arguments) override;
    void exitNow() override { ++exits; }

    QStringList urls;
    QStringList programs;
    int exits = 0;
};

// Passes reads to a device until the gate is closed; then the next read
// waits until the gate opens again.
class GatedDevice final : public Device {
public:
    explicit GatedDevice(std::unique_ptr<Device> inner) : inner_(std::move(inner)) {}

    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override;
    std::uint64_t sizeBytes() const override { return inner_->sizeBytes(); }
    const std::string& path() const override { return inner_->path(); }

    void close();
    void open();
    // The gate closes by itself at the occurrence-th read (from 1) that
    // covers sector.
    void closeAt(std::uint64_t sector, int occurrence);
    // True while a read is held at the closed gate.
    bool holding() const { return holding_; }
    std::uint64_t reads() const { return reads_; }

private:
    std::unique_ptr<Device> inner_;
    std::mutex mutex_;
    std::condition_variable opened_;
    bool closed_ = false;
    std::uint64_t closeSector_ = ~std::uint64_t{0};
    int closeOccurrence_ = 0;
    std::atomic<bool> holding_{false};
    std::atomic<std::uint64_t> reads_{0};
};

// Points XDG_RUNTIME_DIR at a folder of its own while it lives, so that
// the private folder files are opened from is made under it.
class OpenedFilesFolder {
public:
    OpenedFilesFolder();
    ~OpenedFilesFolder();
    const TempDir& base() const { return dir_; }
    // The private folder made under it; empty while there is none.
    std::filesystem::path folder() const;
    // The bytes of a file opened from the wizard.
    std::vector<std::uint8_t> read(const std::string& name) const;

private:
    TempDir dir_;
    std::optional<std::string> saved_;
};

// Clicks the header of a table's column, as a user sorting by it.
void clickHeader(QTableView* table, int column);

// Answers the next file dialog (files or folders) by typing path and
// pressing its accept button.
std::unique_ptr<ModalWatcher> answerFileDialog(const QString& path);

// Writes diskSpec as an image under dir and returns its path; fails the test
// when the builder refuses it.
std::string writeImage(const TempDir& dir, const std::string& name, const imagebuilder::DiskSpec& diskSpec);
// Writes the disks of set as images named names under dir; returns their
// paths (empty, with the test failed, when the builder refuses the set) and
// the layout the builder planned.
std::vector<std::string> writeImages(const TempDir& dir, const std::vector<std::string>& names,
                                     const imagebuilder::DiskSetSpec& set,
                                     imagebuilder::DiskSetLayout* layout = nullptr);

class WizardRun {
public:
    // A shown window listing the images (no devices). With gated set, every
    // disk the wizard opens is read through a GatedDevice (see gate()).
    explicit WizardRun(const std::vector<std::string>& images, bool gated = false);
    // With gated: the gate of every disk opened from now on starts closed.
    void holdReadsFromOpen() { startClosed_ = true; }
    ~WizardRun();

    app::WizardDialog& window() { return *window_; }
    const app::WizardState& state() const { return window_->state(); }
    FakeDesktop& desktop() { return desktop_; }
    GatedDevice* gate() const { return gate_; }

    // Controls.
    QPushButton* button(const char* name) const;
    QTreeView* folderTree() const;
    QTableView* fileList() const;
    QString panelValue(int row) const;
    QString panelLabel(int row) const;
    QString statusLine() const;
    QString instruction() const;

    // Presses. modifiers: Ctrl or Shift to pick several disks.
    void clickDisk(int index, Qt::KeyboardModifiers modifiers = {});
    void chooseSearch(bool search);
    void setRange(const QString& start, const QString& end);
    void pressNext();
    void pressBack();
    // The volume items of every disk's root, in tree order.
    QList<QTreeWidgetItem*> volumeItems() const;
    QStringList volumeNames() const;
    // The texts of the segment items below the volume item at row.
    QStringList segmentTexts(int row) const;
    void clickVolume(int position);
    void clickSegment(int position);
    bool waitForStep(int step, int timeoutMs = 15000) const;
    bool waitIdle(int timeoutMs = 15000) const;
    // Disk 0, Next, its first volume, Next: the browsing step.
    void mountFirstVolume();

    // Browsing.
    QModelIndex treeIndex(const QStringList& path) const;  // from below the root; empty: the root
    QStringList treeChildren(const QStringList& path) const;
    void clickTree(const QStringList& path);
    QStringList listColumn(int column) const;
    int listRow(const QString& name) const;
    void doubleClickRow(int row);

private:
    FakeDesktop desktop_;
    std::unique_ptr<app::WizardDialog> window_;
    GatedDevice* gate_ = nullptr;
    bool startClosed_ = false;
};

} // namespace tamsin::test
