// The simulated board: file-system layout, fresh models per reset, refusal
// to work on the machine's own root, and the program's start-up.
#include "support/sim_board_test.h"

#include "platform/backends.h"
#include "platform/platform.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/mtd_model.h"
#include "sim/shell_model.h"

#include <cstdlib>
#include <sys/stat.h>

namespace {

bool isDir(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class SimBoard : public SimBoardTest {
protected:
    void TearDown() override
    {
        ::unsetenv("ZDR_BOARD_ROOT");
        sim::Board::instance().control().stop();
        SimBoardTest::TearDown();
    }
};

TEST_F(SimBoard, PreparesTheDeviceFolders)
{
    for (const char* f : {"/data/app", "/data/configs", "/data/modes", "/data/velmokq/log", "/data/rcvrecovery",
                          "/data/smartmapping", "/dev", "/etc", "/mnt/usb1", "/proc", "/sim"})
        EXPECT_TRUE(isDir(hostPath(f))) << f;
    EXPECT_EQ(sim::Board::instance().simFile("x.log"), root() + "/sim/x.log");
    EXPECT_EQ(sim::Board::instance().root(), root());

    const std::string logo = readFile(hostPath("/dev/mtd8"));
    const std::string kernel = readFile(hostPath("/dev/mtd10"));
    EXPECT_EQ(logo, std::string(0x100000, '\xFF'));
    EXPECT_EQ(kernel, std::string(0x500000, '\xFF'));
}

TEST_F(SimBoard, PreparingAgainKeepsWhatIsThere)
{
    std::string logo = readFile(hostPath("/dev/mtd8"));
    logo[10] = 'L';
    writeFile(hostPath("/dev/mtd8"), logo);
    writeFile(hostPath("/data/configs/tcpip.ini"), "ip");
    writeFile(hostPath("/dev/mtd10"), "short");   // a damaged partition file is laid out again

    sim::Board::instance().reset(root());
    ASSERT_TRUE(sim::Board::instance().prepareFileSystem());
    EXPECT_EQ(readFile(hostPath("/dev/mtd8"))[10], 'L');
    EXPECT_EQ(readFile(hostPath("/data/configs/tcpip.ini")), "ip");
    EXPECT_EQ(readFile(hostPath("/dev/mtd10")), std::string(0x500000, '\xFF'));
}

TEST_F(SimBoard, ResetGivesFreshModels)
{
    sim::Board& board = sim::Board::instance();
    board.shell().run("reboot");
    board.mtd().setFault("/dev/mtd8", sim::MtdModel::Fault::Erase);
    ASSERT_EQ(board.shell().entries().size(), 1u);

    const std::string other = root() + "2";
    board.reset(other);
    EXPECT_EQ(platform::boardRoot(), other);
    EXPECT_TRUE(board.shell().entries().empty());
    EXPECT_EQ(board.mtd().fault("/dev/mtd8"), sim::MtdModel::Fault::None);
    EXPECT_EQ(board.shell().logPath(), other + "/sim/shell.log");
    ASSERT_TRUE(board.prepareFileSystem());
    EXPECT_TRUE(isDir(other + "/data/app"));
}

TEST_F(SimBoard, WithoutARootOfItsOwnNothingIsTouched)
{
    sim::Board& board = sim::Board::instance();
    board.reset("/");
    EXPECT_TRUE(platform::boardRootIsSystemRoot());
    EXPECT_FALSE(board.prepareFileSystem());
    EXPECT_EQ(board.simFile("shell.log"), "");
    EXPECT_EQ(board.shell().run("rm -f /data/never-there"), 1 << 8);
    EXPECT_EQ(board.shell().entries().back().kind, sim::ShellModel::Kind::Refused);
    EXPECT_EQ(platform::mtd().open("/dev/mtd8"), -1);
    EXPECT_EQ(platform::serial().open("/dev/ttyS2", 115200), -1);
    EXPECT_FALSE(board.mtd().createFiles());

    board.reset("/tmp/../..");
    EXPECT_TRUE(platform::boardRootIsSystemRoot());
    EXPECT_FALSE(board.prepareFileSystem());
    board.reset(root());
    EXPECT_TRUE(board.prepareFileSystem());
}

TEST_F(SimBoard, StartForProgramLaysOutTheRootAndOpensTheChannel)
{
    const std::string programRoot = root() + "/../prog";
    ASSERT_EQ(::setenv("ZDR_BOARD_ROOT", programRoot.c_str(), 1), 0);
    ASSERT_TRUE(platform::simboard::startForProgram());
    sim::Board& board = sim::Board::instance();
    EXPECT_EQ(board.root(), sim::Board::instance().root());
    EXPECT_NE(board.root().find("/prog"), std::string::npos);
    EXPECT_EQ(board.root().find(".."), std::string::npos) << "normalised";
    EXPECT_TRUE(isDir(board.root() + "/data/velmokq/log"));
    EXPECT_TRUE(board.control().running());
    EXPECT_EQ(board.control().socketPath(), board.simFile("control.sock"));
    struct stat st;
    ASSERT_EQ(::stat(board.simFile("control.sock").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
}

TEST_F(SimBoard, StartForProgramGoesOnWithoutChannelForALongRoot)
{
    const std::string longRoot = root() + "/" + std::string(100, 'r');
    ASSERT_EQ(::setenv("ZDR_BOARD_ROOT", longRoot.c_str(), 1), 0);
    EXPECT_TRUE(platform::simboard::startForProgram());
    EXPECT_FALSE(sim::Board::instance().control().running());
    EXPECT_TRUE(isDir(longRoot + "/data/app"));

    // A root that cannot be made fails the start.
    writeFile(root() + "/plain", "file");
    ASSERT_EQ(::setenv("ZDR_BOARD_ROOT", (root() + "/plain/board").c_str(), 1), 0);
    EXPECT_FALSE(platform::simboard::startForProgram());
}

} // namespace
