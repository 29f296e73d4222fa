#pragma once
// Plain-text tables for the command's human-readable output.

#include <ostream>
#include <string>
#include <vector>

namespace tamsin::cli {

class TextTable {
public:
    enum class Align { Left, Right };

    void addColumn(std::string heading, Align align = Align::Left);
    void addRow(std::vector<std::string> cells);
    bool empty() const { return rows_.empty(); }
    // Columns separated by two blanks; no trailing blanks.
    void print(std::ostream& out, bool withHeading = true) const;

private:
    struct Column {
        std::string heading;
        Align align;
    };
    std::vector<Column> columns_;
    std::vector<std::vector<std::string>> rows_;
};

// text with control characters (C0, DEL and C1) shown as "?", so names read
// from a disk cannot send escape sequences to the user's terminal.
std::string terminalSafe(std::string text);

// Display width of a UTF-8 string, counting code points.
std::size_t displayWidth(const std::string& text);

} // namespace tamsin::cli
