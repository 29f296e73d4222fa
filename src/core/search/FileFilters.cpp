#include "search/FileFilters.h"

#include "search/Wildcard.h"

#include <algorithm>

namespace tamsin {

FilterAddResult FileFilters::add(const std::string& text)
{
    if (filters_.size() >= kMaxFilters)
        return FilterAddResult::TooMany;
    if (text.size() > kMaxLength)
        return FilterAddResult::TooLong;
    if (text.empty())
        return FilterAddResult::Blank;
    if (std::find(filters_.begin(), filters_.end(), text) != filters_.end())
        return FilterAddResult::Duplicate;
    filters_.insert(filters_.begin(), text);
    upperFilters_.insert(upperFilters_.begin(), upperCased(text));
    return FilterAddResult::Added;
}

bool FileFilters::remove(std::size_t position)
{
    if (position >= filters_.size())
        return false;
    filters_.erase(filters_.begin() + static_cast<std::ptrdiff_t>(position));
    upperFilters_.erase(upperFilters_.begin() + static_cast<std::ptrdiff_t>(position));
    return true;
}

void FileFilters::clear()
{
    filters_.clear();
    upperFilters_.clear();
}

bool FileFilters::passes(const std::string& rawName) const
{
    if (upperFilters_.empty())
        return true;
    const std::string upper = upperCased(rawName);
    return std::any_of(upperFilters_.begin(), upperFilters_.end(),
                       [&](const std::string& filter) { return matchWildcard(upper, filter) == 1; });
}

} // namespace tamsin
