#include "RecoveryReporter.h"

#include "mount/TreeNode.h"
#include "ui/MessageDialog.h"
#include "ui/RecoveryProgressDialog.h"

#include <algorithm>

namespace tamsin::app {

RecoveryReporter::RecoveryReporter(ui::RecoveryProgressDialog& dialog, const std::vector<TreeNode>& files) :
    dialog_(dialog), files_(files), shown_(&dialog, [shown = &dialog](const Shown& s) {
        shown->showFile(QString::fromStdString(s.path), QString::fromStdString(s.name), s.filesStarted);
        shown->showProgress(s.percent);
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

void RecoveryReporter::fileStarted(const std::string& path, const std::string& name, std::uint32_t filesStarted)
{
    current_ = {path, name, filesStarted, 0};
    shown_.post(current_);
}

void RecoveryReporter::fileProgress(int percent)
{
    if (percent == current_.percent)
        return;
    current_.percent = percent;
    shown_.post(current_);
}

bool RecoveryReporter::continueAfterCreateError(const std::string& path)
{
    bool goOn = true;
    ordered([&] { goOn = ui::MessageDialog::ask(&dialog_, createErrorQuestion(path)); });
    return goOn;
}

void RecoveryReporter::notice(const std::string& text)
{
    ordered([&] { ui::MessageDialog::show(&dialog_, text, ui::MessageKind::Information); });
}

void RecoveryReporter::finish()
{
    ordered([&] { dialog_.finish(); });
}

void RecoveryReporter::fileFinished(const TreeNode& node, const ExtractResult& result)
{
    const std::uint64_t lost = result.damagedBytes();
    if (lost == 0 || files_.empty() || &node < files_.data() || &node >= files_.data() + files_.size())
        return;
    damaged_.push_back({static_cast<std::uint32_t>(&node - files_.data()), std::min<std::uint64_t>(lost, node.size),
                        node.size});
}

} // namespace tamsin::app
