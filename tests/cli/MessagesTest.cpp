// The command's one-line snapshot messages.

#include "Messages.h"

#include <gtest/gtest.h>

namespace tamsin::cli {
namespace {

TEST(SnapshotMessage, EndsWithoutBlanks)
{
    SnapshotResult result{.status = SnapshotStatus::WrongMagic};
    EXPECT_EQ(snapshotMessage(result), "Invalid version of the file found :");
    result.foundMagic = "vsp  ";
    EXPECT_EQ(snapshotMessage(result), "Invalid version of the file found : vsp");
}

} // namespace
} // namespace tamsin::cli
