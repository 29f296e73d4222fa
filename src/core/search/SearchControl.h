#pragma once
// Pause, resume and stop of a running file search, driven from another
// thread. The search calls checkpoint() between nodes and again just before
// each report, so a front end can pause the walk, ask whether to stop, then
// stop() or resume(): the walk carries on from where it waited, no row lost
// or repeated.

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace tamsin {

class SearchControl {
public:
    // Once pause() returns, no report starts until resume() or stop(); a
    // report already under way completes.
    void pause();
    void resume();
    // Once stop() returns, no report starts; also releases a paused walk.
    // Final until reset().
    void stop();
    // Running again, for the next search.
    void reset();

    bool paused() const { return paused_.load(); }
    bool stopped() const { return stopped_.load(); }
    // True while the search thread is held in checkpoint() by a pause.
    bool waiting() const { return waiting_.load(); }

    // Called by the search thread: blocks while paused (without spinning);
    // false when the search must end.
    bool checkpoint();

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> waiting_{false};
};

} // namespace tamsin
