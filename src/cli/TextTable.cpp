#include "TextTable.h"

#include <algorithm>

namespace tamsin::cli {

std::string terminalSafe(std::string text)
{
    std::string safe;
    safe.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            safe += '?';
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80
                   && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            safe += '?';  // U+0080..U+009F
            ++i;
        } else {
            safe += text[i];
        }
    }
    return safe;
}

std::size_t displayWidth(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void TextTable::addColumn(std::string heading, Align align)
{
    columns_.push_back({std::move(heading), align});
}

void TextTable::addRow(std::vector<std::string> cells)
{
    cells.resize(columns_.size());
    for (auto& cell : cells)
        cell = terminalSafe(std::move(cell));
    rows_.push_back(std::move(cells));
}

void TextTable::print(std::ostream& out, bool withHeading) const
{
    std::vector<std::size_t> widths;
    for (const auto& column : columns_)
        widths.push_back(displayWidth(column.heading));
    for (const auto& row : rows_)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(row[c]));

    auto printLine = [&](auto cellAt) {
        std::string line;
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            const std::string& cell = cellAt(c);
            const std::string pad(widths[c] - displayWidth(cell), ' ');
            if (c > 0)
                line += "  ";
            line += columns_[c].align == Align::Right ? pad + cell : cell + pad;
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out << line << '\n';
    };
    if (withHeading)
        printLine([&](std::size_t c) -> const std::string& { return columns_[c].heading; });
    for (const auto& row : rows_)
        printLine([&](std::size_t c) -> const std::string& { return row[c]; });
}

} // namespace tamsin::cli
