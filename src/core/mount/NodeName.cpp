#include "mount/NodeName.h"

#include <algorithm>

namespace tamsin {
namespace {

constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

} // namespace

void NodeName::assignOwned(std::string_view text)
{
    if (text.size() <= kInlineCapacity) {
        setInline(text);
        return;
    }
    auto* copy = new char[text.size()];
    std::memcpy(copy, text.data(), text.size());
    setFar(copy, static_cast<std::uint32_t>(text.size()), kOwned);
}

NodeName& NodeName::operator=(std::string_view text)
{
    // text may lie inside this name; the new bytes are made before the old go.
    NodeName replacement(text);
    return *this = std::move(replacement);
}

void NameStore::storeInto(std::string_view text, NodeName& name)
{
    if (text.size() > left_) {
        // The rest of the last block is left unused.
        left_ = std::max(kBlockBytes, text.size());
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(left_));
        free_ = blocks_.back().get();
    }
    char* copy = free_;
    std::memcpy(copy, text.data(), text.size());
    free_ += text.size();
    left_ -= text.size();
    name.borrow(copy, static_cast<std::uint32_t>(text.size()));
}

void NameStore::clear()
{
    blocks_ = std::vector<std::unique_ptr<char[]>>();
    free_ = nullptr;
    left_ = 0;
}

} // namespace tamsin
