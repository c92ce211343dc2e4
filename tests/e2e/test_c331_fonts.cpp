// The OSD fonts end to end: a fresh board's chip flash holds the generated
// fonts, the program finds all four at bring-up and tells the PC in status
// byte 43; a font erased from the flash is missing after the next start.
#include "support/app_runner.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

bool waitUntil(AppRunner& app, const std::function<bool()>& pred, int timeoutMs = 20000)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        QCoreApplication::processEvents();
        app.output();
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() > until || !app.running())
            return false;
        QThread::msleep(20);
    }
}

} // namespace

TEST(E2eC331Fonts, AFreshBoardShowsAllFourFontsAndAnErasedFontIsMissingAfterARestart)
{
    AppRunner app;
    ASSERT_TRUE(app.start());
    ASSERT_TRUE(waitUntil(app, [&] { return app.control("c331-fonts") == "font_status=15"; }))
        << app.control("c331-fonts");
    EXPECT_EQ(app.control("store-read status 43 1"), "3f");
    EXPECT_EQ(app.control("c331-flash-read 450000 1"), "50");

    // The flash lives in a sparse file of the board.
    struct stat st {};
    ASSERT_EQ(::stat(app.hostPath("/sim/c331-flash.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0x2000000);
    EXPECT_LT(st.st_blocks * 512, 4 << 20);

    ASSERT_EQ(app.control("c331-flash-erase 450000 1000"), "");
    app.stop();
    ASSERT_TRUE(app.start());
    ASSERT_TRUE(waitUntil(app, [&] { return app.control("c331-fonts") == "font_status=11"; }))
        << app.control("c331-fonts");
    EXPECT_EQ(app.control("store-read status 43 1"), "17");
}
