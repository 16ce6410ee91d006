#include <gtest/gtest.h>

#include "platform/kiv/Clock.h"
#include "tests/support/Loop.h"

TEST(Smoke, Builds) { EXPECT_EQ(Kiv::System::currentTime(), TestSupport::now()); }
