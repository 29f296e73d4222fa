#pragma once
// Carries the volume search's reports from its worker to the window, and
// words what the window shows of a search.

#include "StatusWords.h"
#include "UiBridge.h"

#include "volumes/VolumeSearch.h"

#include <QObject>

namespace tamsin::app {

// The message for a refused range; null for None.
const char* rangeMessage(RangeProblem problem);

// What the window shows of a search; called on the UI thread only.
class SearchDisplay {
public:
    virtual ~SearchDisplay() = default;
    virtual void showSearchProgress(std::uint64_t cursor, std::uint64_t scanned, std::uint64_t total, int percent) = 0;
    virtual void addFoundVolume(const VolumeInfo& volume, std::uint32_t count) = 0;
    virtual void searchFinished(const SearchOutcome& outcome) = 0;
};

class SearchReporter final : public VolumeSearchObserver {
public:
    // context is the QObject of the UI thread that display belongs to.
    SearchReporter(QObject* context, SearchDisplay& display);

    void searchProgress(std::uint64_t cursor, std::uint64_t scanned, std::uint64_t total, int percent) override;
    void volumeFound(const VolumeInfo& volume, std::uint32_t count) override;
    // The search has returned: the window leaves the search.
    void finish(const SearchOutcome& outcome);

private:
    struct Progress {
        std::uint64_t cursor, scanned, total;
        int percent;
    };

    QObject* context_;
    SearchDisplay& display_;
    Coalesced<Progress> progress_;
};

} // namespace tamsin::app
