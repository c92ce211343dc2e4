// The forced background colour of the c331 chip ends once both FPGAs of the
// running program are up.
#include "support/app_runner.h"
#include "support/wait_for.h"

#include <gtest/gtest.h>

TEST(E2eC331Input, ForcedColourEndsOnceBothFpgasAreUp)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    auto state = [&] { return app.control("c331-state"); };
    ASSERT_TRUE(waitFor([&] { return state().find("gate=1") != std::string::npos; }, 20000)) << state();
    // Until the FPGAs are up the outputs keep the forced colour.
    EXPECT_NE(state().find("force=1"), std::string::npos) << state();
    ASSERT_EQ(app.control("fpga-link 0 0 up"), "");
    ASSERT_EQ(app.control("fpga-link 1 5 up"), "");
    EXPECT_TRUE(waitFor([&] { return state().find("force=2") != std::string::npos; }, 30000)) << state();
    // The chip's background colour registers were cleared on every channel.
    for (int c = 0; c < 8; ++c) {
        char cmd[48];
        std::snprintf(cmd, sizeof(cmd), "c331-reg 084903 %X", 16 * c);
        EXPECT_EQ(app.control(cmd), "0x000000") << "channel " << c;
    }
}
