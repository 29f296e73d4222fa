#pragma once
// A one-line progress display on standard error, redrawn in place at most
// every 100 ms, and only when standard error is a terminal.

#include <chrono>
#include <ostream>
#include <string>

namespace tamsin::cli {

class ProgressLine {
public:
    explicit ProgressLine(std::ostream& err);
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool active() const { return terminal_; }
    // Standard input is a terminal too, so questions can be asked.
    bool canAsk() const { return canAsk_; }

    // Whether a redraw is due (so callers build the text only then).
    bool due(bool force = false) const;
    void show(const std::string& text);
    // Removes the line, before other output.
    void clear();
    std::ostream& stream() { return err_; }

private:
    std::ostream& err_;
    bool terminal_;
    bool canAsk_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace tamsin::cli
