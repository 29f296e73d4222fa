#include "ProgressLine.h"
#include "TextTable.h"

#include <unistd.h>

namespace tamsin::cli {

ProgressLine::ProgressLine(std::ostream& err) :
    err_(err), terminal_(::isatty(STDERR_FILENO) == 1), canAsk_(terminal_ && ::isatty(STDIN_FILENO) == 1)
{
}

bool ProgressLine::due(bool force) const
{
    return terminal_ && (force || std::chrono::steady_clock::now() - lastDraw_ >= std::chrono::milliseconds(100));
}

void ProgressLine::show(const std::string& text)
{
    if (!terminal_)
        return;
    lastDraw_ = std::chrono::steady_clock::now();
    err_ << "\r\033[K" << terminalSafe(text) << std::flush;
    drawn_ = true;
}

void ProgressLine::clear()
{
    if (drawn_)
        err_ << "\r\033[K" << std::flush;
    drawn_ = false;
}

} // namespace tamsin::cli
