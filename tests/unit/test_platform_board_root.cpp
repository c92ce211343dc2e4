// Board root mapping of system paths.
#include "support/sim_board_test.h"

#include "platform/board_root.h"

namespace {

class PlatformBoardRoot : public SimBoardTest {};

TEST_F(PlatformBoardRoot, MapsAbsolutePathsUnderTheRoot)
{
    EXPECT_EQ(platform::boardRoot(), root());
    EXPECT_FALSE(platform::boardRootIsSystemRoot());
    EXPECT_EQ(platform::boardPath("/data/configs/tcpip.ini"), root() + "/data/configs/tcpip.ini");
    EXPECT_EQ(platform::boardPath("/"), root() + "/");
    EXPECT_EQ(platform::boardPath("/data/"), root() + "/data/");
    // A relative path is taken from "/".
    EXPECT_EQ(platform::boardPath("data/x"), root() + "/data/x");
    EXPECT_EQ(platform::boardPath(QString("/mnt/usb1/a.bin")), QString::fromStdString(root() + "/mnt/usb1/a.bin"));
    EXPECT_EQ(platform::boardPath(static_cast<const char*>(nullptr)), root() + "/");
}

TEST_F(PlatformBoardRoot, ClampsParentStepsAtTheRoot)
{
    EXPECT_EQ(platform::boardPath("/../../etc/passwd"), root() + "/etc/passwd");
    EXPECT_EQ(platform::boardPath("/data/../../../x"), root() + "/x");
    EXPECT_EQ(platform::boardPath("/data/./modes//a/../b"), root() + "/data/modes/b");
    EXPECT_EQ(platform::boardPath("/.."), root() + "/");
}

TEST_F(PlatformBoardRoot, NormalisesAndRejectsClimbingAboveRoot)
{
    std::string out;
    EXPECT_TRUE(platform::normaliseSystemPath("/a/./b/../c", out));
    EXPECT_EQ(out, "/a/c");
    EXPECT_TRUE(platform::normaliseSystemPath("//a///b/", out));
    EXPECT_EQ(out, "/a/b");
    EXPECT_TRUE(platform::normaliseSystemPath("/a/..", out));
    EXPECT_EQ(out, "/");
    EXPECT_FALSE(platform::normaliseSystemPath("/..", out));
    EXPECT_FALSE(platform::normaliseSystemPath("/a/../../b", out));
}

TEST_F(PlatformBoardRoot, SystemRootAndTrailingSlashesOfTheRoot)
{
    platform::setBoardRoot("/");
    EXPECT_TRUE(platform::boardRootIsSystemRoot());
    EXPECT_EQ(platform::boardPath("/data/x"), "/data/x");
    EXPECT_EQ(platform::boardPath("/../x"), "/x");
    platform::setBoardRoot("");
    EXPECT_TRUE(platform::boardRootIsSystemRoot());
    platform::setBoardRoot(root() + "///");
    EXPECT_EQ(platform::boardRoot(), root());
    EXPECT_EQ(platform::boardPath("/etc"), root() + "/etc");
}

} // namespace
