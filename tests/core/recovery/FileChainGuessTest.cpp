// Chains guessed for a volume whose FAT is gone: contiguous from the first
// block, cut short where the volume or the directory table begins.

#include "recovery/FileChain.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace tamsin {
namespace {

struct GuessCase {
    const char* what;
    std::uint32_t first;
    std::uint64_t size;
    std::vector<std::uint32_t> want;
};

class GuessedChains : public ::testing::TestWithParam<GuessCase> {};

TEST_P(GuessedChains, RunFromTheFirstBlockUntilTheSizeTheVolumeOrTheTableEnds)
{
    const std::set<std::uint32_t> table{20, 21};
    const GuessCase& c = GetParam();
    const FileChain chain = guessedFileChain(c.first, c.size, 8, 100, [&](std::uint32_t b) { return table.contains(b); });
    EXPECT_EQ(chain.values, c.want);
    // Every block holds the part of the file its place says: holes never appear.
    for (std::size_t k = 0; k < chain.indexes.size(); ++k)
        EXPECT_EQ(chain.indexes[k], k);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, GuessedChains,
    ::testing::Values(GuessCase{"oneBlock", 5, 4096, {5}}, GuessCase{"partLastBlock", 5, 4097, {5, 6}},
                      GuessCase{"empty", 5, 0, {}}, GuessCase{"endsBeforeTheTable", 18, 5 * 4096, {18, 19}},
                      GuessCase{"endsAtTheVolumeEnd", 98, 4 * 4096, {98, 99}},
                      GuessCase{"fragmentReference", 0x81000002, 100, {}}),
    [](const auto& info) { return info.param.what; });

} // namespace
} // namespace tamsin
