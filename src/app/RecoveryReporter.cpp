#include "RecoveryReporter.h"

#include "WizardTexts.h"

#include "mount/TreeNode.h"
#include "ui/MessageDialog.h"
#include "ui/RecoveryProgressDialog.h"

#include <algorithm>

namespace tamsin::app {

RecoveryReporter::RecoveryReporter(ui::RecoveryProgressDialog& dialog, const std::vector<TreeNode>& files) :
    dialog_(dialog), files_(files), shown_(&dialog, [shown = &dialog](const Shown& s) {
        shown->showFile(QString::fromStdString(s.path), QString::fromStdString(s.name), s.filesStarted);
        shown->showProgress(s.percent);
        if (s.planned)
            shown->showOverall(overallProgressText(s.overall), s.overall.percent());
    })
{
}

void RecoveryReporter::ordered(const std::function<void()>& f)
{
    callOnUiThread(&dialog_, [&] {
        shown_.flush();
        f();
    });
}

void RecoveryReporter::runPlanned(std::uint64_t files, std::uint64_t bytes)
{
    started_ = std::chrono::steady_clock::now();
    current_.planned = true;
    current_.overall = {0, files, 0, bytes, -1};
}

void RecoveryReporter::fileBegins(const TreeNode& node)
{
    currentSize_ = node.size;
}

void RecoveryReporter::postOverall()
{
    OverallProgress& overall = current_.overall;
    overall.bytesDone = finishedBytes_ + currentSize_ * static_cast<std::uint64_t>(current_.percent) / 100;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    // A rate is worth telling once the run has gone on a little.
    if (elapsed >= 2.0 && overall.bytesDone > 0 && overall.bytes >= overall.bytesDone)
        overall.secondsLeft = static_cast<double>(overall.bytes - overall.bytesDone) * elapsed
                              / static_cast<double>(overall.bytesDone);
    shown_.post(current_);
}

void RecoveryReporter::fileStarted(const std::string& path, const std::string& name, std::uint32_t filesStarted)
{
    current_.path = path;
    current_.name = name;
    current_.filesStarted = filesStarted;
    current_.percent = 0;
    postOverall();
}

void RecoveryReporter::fileProgress(int percent)
{
    if (percent == current_.percent)
        return;
    current_.percent = percent;
    postOverall();
}

bool RecoveryReporter::continueAfterCreateError(const std::string& path)
{
    bool goOn = true;
    ordered([&] { goOn = ui::MessageDialog::ask(&dialog_, text::createErrorQuestion(path)); });
    return goOn;
}

void RecoveryReporter::notice(ExtractNotice notice)
{
    ordered([&] { ui::MessageDialog::show(&dialog_, text::noticeText(notice), ui::MessageKind::Information); });
}

void RecoveryReporter::finish()
{
    ordered([&] { dialog_.finish(); });
}

void RecoveryReporter::fileFinished(const TreeNode& node, const ExtractResult& result)
{
    ++current_.overall.filesDone;
    finishedBytes_ += node.size;
    currentSize_ = 0;
    postOverall();
    const std::uint64_t lost = result.damagedBytes();
    if (lost == 0 || files_.empty() || &node < files_.data() || &node >= files_.data() + files_.size())
        return;
    damaged_.push_back({static_cast<std::uint32_t>(&node - files_.data()), std::min<std::uint64_t>(lost, node.size),
                        node.size});
}

} // namespace tamsin::app
