#include <gtest/gtest.h>

#include "textio/termination.h"

TEST(Termination, ExitStatusesAreDistinct) {
  EXPECT_NE(segmix::kExitRejected, segmix::kExitTextIo);
}
