#include "MountReporter.h"

#include "MountTexts.h"
#include "StatusWords.h"

namespace tamsin::app {

const char* mountInstructionText(MountInstruction instruction)
{
    switch (instruction) {
    case MountInstruction::Mounting:
        return texts::kMountingInstruction;
    case MountInstruction::Browsing:
        return texts::kBrowsingInstruction;
    case MountInstruction::SelectVolume:
        break;
    }
    return texts::kSelectVolumeInstruction;
}

MountReporter::MountReporter(QObject* context, MountDisplay& display) :
    context_(context), display_(display),
    progress_(context, [shown = &display](const int& percent) { shown->showMountProgress(percent); }),
    counters_(context,
              [shown = &display](const Counters& c) { shown->showMountCounters(c.folders, c.files, c.lastName); })
{
}

void MountReporter::ordered(const std::function<void()>& f)
{
    callOnUiThread(context_, [&] {
        counters_.flush();
        progress_.flush();
        f();
    });
}

void MountReporter::mountStatus(MountStatus status, const std::string& volumeName)
{
    const std::string text = words::mountStatusText(status, volumeName);
    ordered([&] { display_.showMountStatus(text); });
}

void MountReporter::mountProgress(int percent)
{
    progress_.post(percent);
}

void MountReporter::mountInstruction(MountInstruction instruction)
{
    ordered([&] { display_.showMountInstruction(mountInstructionText(instruction)); });
}

void MountReporter::mountStage(MountStage stage)
{
    ordered([&] { display_.enterMountStage(stage); });
}

void MountReporter::mountCounters(std::uint32_t folders, std::uint32_t files, const std::string& lastName)
{
    counters_.post({folders, files, lastName});
}

CopyChoice MountReporter::chooseCopy(TableKind kind)
{
    CopyChoice choice = CopyChoice::Cancel;
    ordered([&] { choice = display_.askCopy(kind); });
    return choice;
}

void MountReporter::finish(MountResult result)
{
    ordered([&] { display_.mountFinished(result); });
}

} // namespace tamsin::app
