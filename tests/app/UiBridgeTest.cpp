#include "UiBridge.h"

#include "ExitOnSignals.h"

#include "GuiTest.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace tamsin::app {
namespace {

TEST(Coalesced, AFloodOfReportsIsAppliedAFewTimesEndingWithTheLatest)
{
    QObject context;
    std::vector<int> applied;
    const Qt::HANDLE uiThread = QThread::currentThreadId();
    bool onUiThread = true;
    Coalesced<int> progress(&context, [&](const int& value) {
        onUiThread = onUiThread && QThread::currentThreadId() == uiThread;
        applied.push_back(value);
    });

    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 1; i <= 200'000; ++i)
            progress.post(i);
        done = true;
    });
    ASSERT_TRUE(test::waitUntil([&] { return done.load() && !applied.empty() && applied.back() == 200'000; }));
    worker.join();

    EXPECT_TRUE(onUiThread);
    EXPECT_LT(applied.size(), 100u);  // one per ~50 ms, not one per report
    EXPECT_TRUE(std::is_sorted(applied.begin(), applied.end()));
}

TEST(Coalesced, AnOrderedReportFirstAppliesWhatIsPending)
{
    QObject context;
    std::vector<std::string> shown;
    // A long interval: the value can only reach the screen through the flush.
    Coalesced<int> counter(&context, [&](const int& value) { shown.push_back("count " + std::to_string(value)); },
                           std::chrono::milliseconds(60'000));

    std::atomic<bool> done{false};
    std::thread worker([&] {
        counter.post(1);
        counter.post(2);
        callOnUiThread(&context, [&] {
            counter.flush();
            shown.push_back("status");
        });
        counter.post(3);
        callOnUiThread(&context, [&] {
            counter.flush();
            shown.push_back("end");
        });
        done = true;
    });
    ASSERT_TRUE(test::waitUntil([&] { return done.load(); }));
    worker.join();
    test::pump(20);
    // The first value may or may not have made its own trip; what matters is
    // that 2 shows before the status and 3 before the end, and nothing after.
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown[shown.size() - 4], "count 2");
    EXPECT_EQ(shown[shown.size() - 3], "status");
    EXPECT_EQ(shown[shown.size() - 2], "count 3");
    EXPECT_EQ(shown.back(), "end");
}

TEST(Batched, EveryValueArrivesOnceInOrderInAFewBatches)
{
    QObject context;
    std::vector<int> applied;
    int batches = 0;
    Batched<int> rows(&context, [&](std::vector<int>& batch) {
        ++batches;
        applied.insert(applied.end(), batch.begin(), batch.end());
    });

    constexpr int kCount = 200'000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i)
            rows.post(i);
        done = true;
    });
    ASSERT_TRUE(test::waitUntil([&] { return done.load() && applied.size() == kCount; }));
    worker.join();
    test::pump(20);

    ASSERT_EQ(applied.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(applied[static_cast<std::size_t>(i)], i);
    EXPECT_LT(batches, 100);
    rows.flush();  // nothing left: nothing applied
    EXPECT_EQ(applied.size(), static_cast<std::size_t>(kCount));
}

// A worker waiting for a call the UI thread does not run is released by
// close(), the call left undone; later calls return at once.
TEST(UiCalls, ClosingReleasesAWaitingWorkerAndRefusesLaterCalls)
{
    UiCalls calls;
    bool ran[3] = {false, false, false};
    bool returned[3] = {false, false, false};
    std::atomic<int> made{0};
    std::atomic<bool> goOn{false};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            returned[i] = calls.call([&ran, i] { ran[i] = true; });
            ++made;
            // The later calls come once the test has stopped handling events.
            while (!goOn.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    ASSERT_TRUE(test::waitUntil([&] { return made.load() == 1; }));
    goOn = true;
    // The second call now waits: no event is handled until the worker ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    calls.close();
    worker.join();
    test::pump(20);

    EXPECT_TRUE(ran[0] && returned[0]);
    EXPECT_FALSE(ran[1] || returned[1]);
    EXPECT_FALSE(ran[2] || returned[2]);
}

// SIGTERM ends the event loop, so the window's destructors run and its
// private folder goes; afterwards the default action is back.
TEST(ExitOnSignals, ATerminateSignalEndsTheEventLoopsInOrder)
{
    int caught = 0;
    int exitCode = 0;
    {
        ExitOnSignals handler;
        QObject::connect(&handler, &ExitOnSignals::received, [&](int signal) { caught = signal; });
        QTimer::singleShot(0, [] { ::raise(SIGTERM); });
        // A guard that goes with the test: a timer left pending would end
        // some later test's event loops, and with them its dialogs.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
        guard.start(5000);
        exitCode = QCoreApplication::exec();
    }
    EXPECT_EQ(caught, SIGTERM);
    EXPECT_EQ(exitCode, 128 + SIGTERM);
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

} // namespace
} // namespace tamsin::app
