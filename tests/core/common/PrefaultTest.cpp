#include "common/Prefault.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tamsin {
namespace {

// Mapping pages in ahead never changes what the filling thread writes, at
// any alignment, and ending early (the fill failing part way) is safe.
TEST(BackgroundPrefault, FillingWhileItRunsKeepsEveryByte)
{
    for (const std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{4093}}) {
        std::vector<std::uint32_t> values;
        values.reserve(8'000'000);
        {
            const BackgroundPrefault ahead(reinterpret_cast<char*>(values.data()) + offset,
                                           values.capacity() * sizeof(std::uint32_t) - offset);
            for (std::uint32_t i = 0; i < values.capacity(); ++i)
                values.push_back(i * 2654435761u);
        }
        for (std::uint32_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(values[i], i * 2654435761u) << i;
    }
    std::vector<char> small(1000, 'k');
    { const BackgroundPrefault none(small.data(), small.size()); }
    {
        std::vector<char> large;
        large.reserve(64 << 20);
        const BackgroundPrefault stopped(large.data(), large.capacity());
    }
    EXPECT_EQ(small[999], 'k');
}

} // namespace
} // namespace tamsin
