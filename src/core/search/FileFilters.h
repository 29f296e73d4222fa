#pragma once
// The file filter table: wildcard patterns that decide which files a
// folder's contents list shows. Newest entry on top.

#include <cstddef>
#include <string>
#include <vector>

namespace tamsin {

enum class FilterAddResult { Added, TooMany, TooLong, Blank, Duplicate };

class FileFilters {
public:
    static constexpr std::size_t kMaxFilters = 99;
    static constexpr std::size_t kMaxLength = 19;  // longer texts are refused; the GUI then selects this many

    // Checks in this order: table full, text too long, empty, already listed
    // (exact, case-sensitive); otherwise inserts the text at position 0.
    // Text of blanks only is not empty and is accepted.
    FilterAddResult add(const std::string& text);

    // False when position is not in the table.
    bool remove(std::size_t position);
    void clear();

    std::size_t count() const { return filters_.size(); }
    const std::string& at(std::size_t position) const { return filters_[position]; }  // position < count()
    const std::vector<std::string>& list() const { return filters_; }

    // True when the table is empty or the upper-cased name matches some
    // upper-cased filter; the include predicate of folderContents().
    bool passes(const std::string& rawName) const;

private:
    std::vector<std::string> filters_;
    std::vector<std::string> upperFilters_;  // filters_ upper-cased, same order
};

} // namespace tamsin
