#include "SearchReporter.h"

#include "SearchTexts.h"

namespace tamsin::app {

const char* rangeMessage(RangeProblem problem)
{
    switch (problem) {
    case RangeProblem::BadStart:
        return texts::kBadStartMessage;
    case RangeProblem::BadEnd:
        return texts::kBadEndMessage;
    case RangeProblem::EndNotAfterStart:
        return texts::kEndNotAfterStartMessage;
    case RangeProblem::None:
        break;
    }
    return nullptr;
}

SearchReporter::SearchReporter(QObject* context, SearchDisplay& display) :
    context_(context), display_(display),
    progress_(context, [shown = &display](const Progress& p) {
        shown->showSearchProgress(p.cursor, p.scanned, p.total, p.percent);
    })
{
}

void SearchReporter::searchProgress(std::uint64_t cursor, std::uint64_t scanned, std::uint64_t total, int percent)
{
    progress_.post({cursor, scanned, total, percent});
}

void SearchReporter::volumeFound(const VolumeInfo& volume, std::uint32_t count)
{
    callOnUiThread(context_, [&] {
        progress_.flush();
        display_.addFoundVolume(volume, count);
    });
}

void SearchReporter::finish(const SearchOutcome& outcome)
{
    callOnUiThread(context_, [&] {
        progress_.flush();
        display_.searchFinished(outcome);
    });
}

} // namespace tamsin::app
