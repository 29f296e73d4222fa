#include "search/FindFiles.h"
#include "search/SearchControl.h"

#include "mount/MountedVolume.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tamsin {
namespace {

using namespace std::chrono_literals;

TreeNode folder(std::string name, std::uint32_t own, std::uint32_t parent, std::uint32_t deleted = 0)
{
    TreeNode n;
    n.attributes = kFolderAttribute;
    n.name = std::move(name);
    n.ownId = own;
    n.parentId = parent;
    n.deletedMarker = deleted;
    return n;
}

TreeNode file(std::string name, std::uint32_t parent, std::uint32_t size = 0, std::uint32_t deleted = 0)
{
    TreeNode n;
    n.name = std::move(name);
    n.parentId = parent;
    n.size = size;
    n.deletedMarker = deleted;
    return n;
}

// Records every row and checks its running count; can hold the search
// inside the report of one row until released, so another thread can act
// at a known point of the walk.
class Recorder : public FindObserver {
public:
    explicit Recorder(std::uint32_t holdAt = 0) : holdAt_(holdAt) {}

    void fileFound(const FoundFile& row, std::uint32_t countSoFar) override
    {
        std::unique_lock lock(mutex_);
        rows_.push_back(row);
        EXPECT_EQ(countSoFar, rows_.size());
        held_ = countSoFar == holdAt_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !held_; });
    }

    void waitUntilHeld()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return held_; });
    }
    void release()
    {
        std::lock_guard lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    std::vector<FoundFile> rows()
    {
        std::lock_guard lock(mutex_);
        return rows_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<FoundFile> rows_;
    std::uint32_t holdAt_;
    bool held_ = false;
};

void waitUntilWaiting(const SearchControl& control)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!control.waiting() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(control.waiting());
}

class FindFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        volume.addFolderNode(folder("SYSTEM", 2, 0));
        volume.addFolderNode(folder("MAIL", 3, 2));
        volume.addFolderNode(folder("PUBLIC", 4, 0));
        volume.addFolderNode(folder("OLD", 6, 0, 1));
        volume.addFolderNode(folder("ODD\\", 7, 0));
        volume.addFolderNode(folder("SUB", 8, 7));
        volume.addFolderNode(folder("MAIL2", 3, 4));  // same id as MAIL: the first one holds its files

        volume.addFileNode(file("README.TXT", 0, 1023));
        volume.addFileNode(file("MYREADME.TXT.BAK", 3, 10));
        volume.addFileNode(file("notes.txt", 4, 0, 1));
        volume.addFileNode(file("MAIL.TXT", 3, 4'294'967'295));
        volume.addFileNode(file("IMAGE.BMP", 2));
        volume.addFileNode(file("LOST.TXT", 99));
        volume.addFileNode(file("GONE.TXT", 6, 5, 1));
        volume.addFileNode(file("X.TXT", 8));
        volume.rebuildIndexAndTree();
    }

    MountedVolume volume;
};

TEST_F(FindFilesTest, PatternWithoutWildcardsFindsNamesContainingIt)
{
    SearchControl control;
    Recorder recorder;
    EXPECT_EQ(findFiles(volume, "readme.txt", control, recorder), 2u);
    EXPECT_EQ(recorder.rows(), (std::vector<FoundFile>{{"README.TXT", "\\", "1023", 1023, 0},
                                                       {"MYREADME.TXT.BAK", "\\SYSTEM\\MAIL", "10", 10, 1}}));
}

TEST_F(FindFilesTest, StarPatternFindsFilesInEveryFolderDeletedIncluded)
{
    SearchControl control;
    Recorder recorder;
    EXPECT_EQ(findFiles(volume, "*.txt", control, recorder), 6u);
    EXPECT_EQ(recorder.rows(), (std::vector<FoundFile>{
                                   {"README.TXT", "\\", "1023", 1023, 0},
                                   {"NOTES.TXT", "\\PUBLIC", "0", 0, 2},
                                   {"MAIL.TXT", "\\SYSTEM\\MAIL", "4294967295", 4'294'967'295, 3},
                                   {"LOST.TXT", "\\", "0", 0, 5},  // no folder has its parent id
                                   {"GONE.TXT", "\\OLD", "5", 5, 6},
                                   {"X.TXT", "\\ODD\\SUB", "0", 0, 7},  // no second "\" after "ODD\"
                               }));
}

TEST_F(FindFilesTest, EmptyPatternOrStoppedSearchReportsNothing)
{
    SearchControl control;
    Recorder empty;
    EXPECT_EQ(findFiles(volume, "", control, empty), 0u);
    EXPECT_TRUE(empty.rows().empty());

    control.stop();
    Recorder stopped;
    EXPECT_EQ(findFiles(volume, "*", control, stopped), 0u);
    EXPECT_TRUE(stopped.rows().empty());

    control.reset();
    Recorder again;
    EXPECT_EQ(findFiles(volume, "*", control, again), 8u);
}

TEST_F(FindFilesTest, PauseThenResumeOrStopLosesAndRepeatsNothing)
{
    SearchControl unpaused;
    Recorder all;
    ASSERT_EQ(findFiles(volume, "*", unpaused, all), 8u);
    const std::vector<FoundFile> allRows = all.rows();

    for (const bool answerYes : {false, true}) {
        SearchControl control;
        Recorder recorder(3);
        std::uint32_t found = 0;
        std::thread worker([&] { found = findFiles(volume, "*", control, recorder); });
        recorder.waitUntilHeld();
        control.pause();  // from another thread, while row 3 is being reported
        recorder.release();
        waitUntilWaiting(control);
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(recorder.rows().size(), 3u);  // held at the next checkpoint
        if (answerYes)
            control.stop();  // also releases the waiting search
        else
            control.resume();
        worker.join();
        const auto expected = answerYes ? std::vector<FoundFile>(allRows.begin(), allRows.begin() + 3) : allRows;
        EXPECT_EQ(recorder.rows(), expected);
        EXPECT_EQ(found, expected.size());
    }
}

TEST(FindFilesPauses, RepeatedPausesFromAnotherThreadKeepEveryRowOnce)
{
    MountedVolume volume;
    volume.addFolderNode(folder("DIR", 1, 0));
    for (std::uint32_t k = 0; k < 3000; ++k)
        volume.addFileNode(file("F" + std::to_string(k) + (k % 3 ? ".TXT" : ".DAT"), k % 2, k));
    volume.rebuildIndexAndTree();

    SearchControl unpaused;
    Recorder all;
    findFiles(volume, "*.TXT", unpaused, all);
    ASSERT_EQ(all.rows().size(), 2000u);

    SearchControl control;
    Recorder recorder;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        findFiles(volume, "*.TXT", control, recorder);
        done = true;
    });
    while (!done) {
        control.pause();
        std::this_thread::sleep_for(100us);
        control.resume();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(recorder.rows(), all.rows());
}

} // namespace
} // namespace tamsin
