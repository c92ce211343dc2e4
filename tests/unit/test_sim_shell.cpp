// The simulated board's shell: file commands confined to the board root,
// recorded machine commands, refused commands and the log.
#include "support/sim_board_test.h"

#include "platform/platform.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/host_fs.h"
#include "sim/shell_model.h"

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Kind = sim::ShellModel::Kind;
constexpr int kRefused = 127 << 8;
constexpr int kFailed = 1 << 8;

class SimShell : public SimBoardTest {
protected:
    sim::ShellModel& shell() { return sim::Board::instance().shell(); }
    int run(const std::string& command) { return platform::shell().run(command); }
    Kind lastKind() { return shell().entries().back().kind; }
    // A folder beside the board root: outside of it, inside the test's
    // temporary folder.
    std::string outside() const { return sim::hostfs::dirName(root()); }
    static mode_t modeOf(const std::string& path)
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }
};

TEST_F(SimShell, CopyMoveChmodRemoveInsideTheRoot)
{
    writeFile(hostPath("/data/a.txt"), "alpha");
    EXPECT_EQ(run("cp /data/a.txt /data/b.txt"), 0);
    EXPECT_EQ(readFile(hostPath("/data/b.txt")), "alpha");
    EXPECT_EQ(lastKind(), Kind::File);

    EXPECT_EQ(run("mv /data/b.txt /data/modes"), 0);   // into a folder
    EXPECT_FALSE(exists(hostPath("/data/b.txt")));
    EXPECT_EQ(readFile(hostPath("/data/modes/b.txt")), "alpha");

    EXPECT_EQ(run("mv /data/modes/b.txt /data/modes/c.txt"), 0);
    EXPECT_EQ(readFile(hostPath("/data/modes/c.txt")), "alpha");

    EXPECT_EQ(run("chmod 600 /data/modes/c.txt"), 0);
    EXPECT_EQ(modeOf(hostPath("/data/modes/c.txt")), 0600u);
    EXPECT_EQ(run("chmod u+x,g+r /data/modes/c.txt"), 0);
    EXPECT_EQ(modeOf(hostPath("/data/modes/c.txt")), 0740u);
    EXPECT_EQ(run("chmod -R 750 /data/modes"), 0);
    EXPECT_EQ(modeOf(hostPath("/data/modes/c.txt")), 0750u);
    // Options anywhere before "--", as the device's tools take them.
    EXPECT_EQ(run("cp /data/modes/c.txt /data/modes/d.txt -f"), 0);
    EXPECT_EQ(run("mv /data/modes/d.txt /data/modes/e.txt -f"), 0);
    EXPECT_EQ(run("chattr +S -f /data/modes/e.txt"), 0);
    EXPECT_EQ(run("rm /data/modes/e.txt -f"), 0);
    EXPECT_FALSE(exists(hostPath("/data/modes/e.txt")));
    // Options after the mode, as the application installer writes them.
    EXPECT_EQ(run("chmod 777 -R /data/modes"), 0);
    EXPECT_EQ(modeOf(hostPath("/data/modes/c.txt")), 0777u);
    EXPECT_EQ(run("chmod 640 /data/modes -R"), 0);
    EXPECT_EQ(modeOf(hostPath("/data/modes/c.txt")), 0640u);

    EXPECT_EQ(run("chattr +S /data/modes/c.txt"), 0);
    EXPECT_EQ(run("sync"), 0);

    EXPECT_EQ(run("rm /data/modes/c.txt"), 0);
    EXPECT_FALSE(exists(hostPath("/data/modes/c.txt")));
}

TEST_F(SimShell, RecursiveCopyAndRemoveOfFolders)
{
    writeFile(hostPath("/data/configs/one.ini"), "1");
    ASSERT_EQ(::mkdir(hostPath("/data/configs/sub").c_str(), 0755), 0);
    writeFile(hostPath("/data/configs/sub/two.ini"), "2");

    EXPECT_EQ(run("cp /data/configs /data/backup"), kFailed) << "a folder needs -r";
    EXPECT_FALSE(exists(hostPath("/data/backup")));
    EXPECT_EQ(run("cp -rf /data/configs /data/backup"), 0);
    EXPECT_EQ(readFile(hostPath("/data/backup/sub/two.ini")), "2");
    // Into an existing folder: the copy goes below it.
    EXPECT_EQ(run("cp -a /data/configs /data/modes"), 0);
    EXPECT_EQ(readFile(hostPath("/data/modes/configs/one.ini")), "1");
    EXPECT_EQ(run("cp -r /data/configs /data/configs/sub"), kFailed) << "a folder into itself";

    EXPECT_EQ(run("rm /data/backup"), kFailed) << "a folder needs -r";
    EXPECT_TRUE(exists(hostPath("/data/backup/one.ini")));
    EXPECT_EQ(run("rm -r -f /data/backup /data/modes/configs"), 0);
    EXPECT_FALSE(exists(hostPath("/data/backup")));
    EXPECT_FALSE(exists(hostPath("/data/modes/configs")));
    EXPECT_TRUE(exists(hostPath("/data/configs/sub/two.ini")));
}

TEST_F(SimShell, FailuresGiveStatusOneLikeTheTools)
{
    EXPECT_EQ(run("rm /data/missing"), kFailed);
    EXPECT_EQ(run("rm -f /data/missing"), 0);
    EXPECT_EQ(run("cp /data/missing /data/x"), kFailed);
    EXPECT_EQ(run("mv /data/missing /data/x"), kFailed);
    EXPECT_EQ(run("chmod 644 /data/missing"), kFailed);
    EXPECT_EQ(run("chattr +S /data/missing"), kFailed);
    EXPECT_EQ(run("cp /data/only-one"), kFailed);
    EXPECT_EQ(run("chmod 99x /data"), kFailed);
    writeFile(hostPath("/data/a"), "a");
    EXPECT_EQ(run("rm -z /data/a"), kFailed) << "unknown option";
    EXPECT_TRUE(exists(hostPath("/data/a")));
    EXPECT_EQ(run("cp /data/a /data/a"), kFailed) << "the same file";
    EXPECT_EQ(readFile(hostPath("/data/a")), "a");
    EXPECT_EQ(lastKind(), Kind::File);
    // rm -rf / keeps the root, as rm's --preserve-root does.
    EXPECT_EQ(run("rm -rf /"), kFailed);
    EXPECT_TRUE(exists(hostPath("/data/a")));
}

TEST_F(SimShell, QuotesAndGlobs)
{
    writeFile(hostPath("/data/a b.txt"), "spaced");
    EXPECT_EQ(run("cp \"/data/a b.txt\" '/data/c d.txt'"), 0);
    EXPECT_EQ(readFile(hostPath("/data/c d.txt")), "spaced");

    writeFile(hostPath("/data/modes/1.bin"), "1");
    writeFile(hostPath("/data/modes/2.bin"), "2");
    writeFile(hostPath("/data/modes/keep.txt"), "k");
    EXPECT_EQ(run("rm \"/data/modes/*.bin\""), kFailed) << "a quoted pattern is a name";
    EXPECT_TRUE(exists(hostPath("/data/modes/1.bin")));
    EXPECT_EQ(run("rm -f /data/modes/*.bin"), 0);
    EXPECT_FALSE(exists(hostPath("/data/modes/1.bin")));
    EXPECT_FALSE(exists(hostPath("/data/modes/2.bin")));
    EXPECT_TRUE(exists(hostPath("/data/modes/keep.txt")));
    EXPECT_EQ(run("rm /data/modes/*.none"), kFailed) << "no match stays a missing name";
}

TEST_F(SimShell, PathsClimbingOutOrRelativeAreRefused)
{
    const std::string victim = outside() + "/outside.txt";
    writeFile(victim, "keep");
    writeFile(hostPath("/data/a"), "a");

    for (const char* command : {"rm -rf /../outside.txt", "rm -f /data/../../outside.txt",
                                "cp /data/a /../outside.txt", "mv /data/a /../../outside.txt",
                                "chmod 000 /../outside.txt", "rm -f /data/a /../outside.txt"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(run(command), kFailed);
        EXPECT_EQ(lastKind(), Kind::Refused);
        EXPECT_EQ(readFile(victim), "keep");
        EXPECT_NE(modeOf(victim), 0u);
        EXPECT_TRUE(exists(hostPath("/data/a"))) << "nothing of a refused command happens";
    }

    // A relative path is never taken from the current folder.
    for (const char* command : {"rm -f data/a", "cp data/a /data/b", "chmod 777 ./data/a", "rm -rf ."}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(run(command), kFailed);
        EXPECT_EQ(lastKind(), Kind::Refused);
    }
    EXPECT_TRUE(exists(hostPath("/data/a")));
    EXPECT_FALSE(exists(hostPath("/data/b")));
}

TEST_F(SimShell, LinksLeadingOutOfTheRootAreNotFollowed)
{
    const std::string outDir = outside() + "/outdir";
    ASSERT_EQ(::mkdir(outDir.c_str(), 0755), 0);
    writeFile(outDir + "/victim", "keep");
    const std::string outFile = outside() + "/secret";
    writeFile(outFile, "secret");
    ::chmod(outFile.c_str(), 0600);
    ASSERT_EQ(::symlink(outDir.c_str(), hostPath("/data/dirlink").c_str()), 0);
    ASSERT_EQ(::symlink(outFile.c_str(), hostPath("/data/filelink").c_str()), 0);
    ASSERT_EQ(::symlink((outside() + "/nothing-yet").c_str(), hostPath("/data/dangling").c_str()), 0);
    writeFile(hostPath("/data/a"), "a");

    for (const char* command : {"rm -rf /data/dirlink/victim", "cp /data/a /data/dirlink/new",
                                "cp /data/a /data/dirlink", "mv /data/a /data/dirlink",
                                "cp /data/filelink /data/copy", "cp /data/a /data/filelink",
                                "chmod 666 /data/filelink", "cp /data/a /data/dangling",
                                "rm -f /data/dirlink/*"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(run(command), kFailed);
        EXPECT_EQ(lastKind(), Kind::Refused);
    }
    EXPECT_EQ(readFile(outDir + "/victim"), "keep");
    EXPECT_FALSE(exists(outDir + "/new"));
    EXPECT_FALSE(exists(outDir + "/a"));
    EXPECT_FALSE(exists(hostPath("/data/copy")));
    EXPECT_EQ(readFile(outFile), "secret");
    EXPECT_EQ(modeOf(outFile), 0600u);
    EXPECT_FALSE(exists(outside() + "/nothing-yet"));
    EXPECT_TRUE(exists(hostPath("/data/a")));

    // Removing the link itself stays inside: the target survives.
    EXPECT_EQ(run("rm -rf /data/dirlink"), 0);
    EXPECT_EQ(readFile(outDir + "/victim"), "keep");
    // A folder copied with a link in it keeps the link as a link.
    ASSERT_EQ(::mkdir(hostPath("/data/tree").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(outFile.c_str(), hostPath("/data/tree/l").c_str()), 0);
    EXPECT_EQ(run("cp -r /data/tree /data/tree2"), 0);
    struct stat st;
    ASSERT_EQ(::lstat(hostPath("/data/tree2/l").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(SimShell, MachineCommandsAreRecordedAndNotRun)
{
    // A child process that a real "kill" would end.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    const std::string pid = std::to_string(child);
    EXPECT_EQ(run("kill -9 " + pid), 0);
    EXPECT_EQ(lastKind(), Kind::Recorded);
    EXPECT_EQ(run("ifconfig eth0 192.168.1.10 netmask 255.255.255.0"), 0);
    EXPECT_EQ(run("route add default gw 192.168.1.1"), 0);
    EXPECT_EQ(run("date -s \"2001-01-01 00:00:00\""), 0);
    EXPECT_EQ(run("hwclock -w"), 0);
    EXPECT_EQ(run("udhcpc -i eth0 &"), 0);
    EXPECT_EQ(lastKind(), Kind::Recorded);

    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the child must still be alive";
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);

    const auto commands = shell().commands();
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(commands[1], "ifconfig eth0 192.168.1.10 netmask 255.255.255.0");
    EXPECT_EQ(commands[5], "udhcpc -i eth0 &");
}

// A list of machine commands ("date ...;hwclock -wu") is recorded as the
// one command it is, with its last command's status; a list that holds
// anything else is refused whole.
TEST_F(SimShell, AListOfMachineCommandsIsRecordedWhole)
{
    EXPECT_EQ(run("date \"2024-3-5 9:7:0\";hwclock -wu"), 0);
    EXPECT_EQ(lastKind(), Kind::Recorded);
    EXPECT_EQ(run("date -s \"2001-01-01 00:00:00\" ; hwclock -w >/dev/null"), 0);
    EXPECT_EQ(lastKind(), Kind::Recorded);
    EXPECT_EQ(shell().commands(),
              std::vector<std::string>(
                  {"date \"2024-3-5 9:7:0\";hwclock -wu", "date -s \"2001-01-01 00:00:00\" ; hwclock -w >/dev/null"}));
    shell().setExitCode("hwclock", 3);
    EXPECT_EQ(run("date \"2024-3-5 9:7:0\";hwclock -wu"), 3 << 8) << "the last command's status";
    shell().setExitCode("date", 4);
    shell().setExitCode("hwclock", 0);
    EXPECT_EQ(run("date \"2024-3-5 9:7:0\";hwclock -wu"), 0);
    shell().setExitCode("date", 0);

    writeFile(hostPath("/data/a"), "a");
    const std::string made = outside() + "/made";
    for (const std::string& command :
         {std::string("hwclock -wu;rm -f /data/a"), std::string("rm -f /data/a;hwclock -wu"),
          "date;touch " + made, std::string("date;"), std::string(";date"), std::string("date;;hwclock -w"),
          std::string("date \"x;hwclock -w"), std::string("udhcpc -i eth0 &;date"),
          std::string("date;hwclock -w | cat"), std::string("date;ifconfig $(reboot)")}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(run(command), kRefused);
        EXPECT_EQ(lastKind(), Kind::Refused);
    }
    EXPECT_TRUE(exists(hostPath("/data/a")));
    EXPECT_FALSE(exists(made));
}

TEST_F(SimShell, ExitCodesOutputAndEthernet)
{
    shell().setExitCode("pidof", 1);
    shell().setExitCode("pidof zdr", 2);
    EXPECT_EQ(run("pidof zdrK47N"), 2 << 8) << "the longest prefix wins";
    EXPECT_EQ(run("pidof hostapd"), 1 << 8);
    EXPECT_EQ(run("pidof   zdrK47N >/dev/null 2>&1"), 2 << 8) << "blanks and redirections do not matter";
    EXPECT_EQ(run("pidof zdrK47N &> /dev/null"), 2 << 8);
    EXPECT_EQ(run("killall udhcpc"), 0) << "default exit code";
    EXPECT_EQ(run("pidof zdrK47N &"), 0) << "a background command returns at once";

    shell().setOutput("pidof zdrK47N", "1234\n");
    std::string out = "stale";
    EXPECT_EQ(platform::shell().capture("pidof zdrK47N", out), 2 << 8);
    EXPECT_EQ(out, "1234\n");
    EXPECT_EQ(platform::shell().capture("route -n", out), 0);
    EXPECT_EQ(out, "");

    EXPECT_EQ(run("ifconfig eth0 up"), 0);
    shell().setEthernetPresent(false);
    shell().setExitCode("ifconfig eth0", 0);
    EXPECT_EQ(run("ifconfig eth0 up"), 1 << 8);
    EXPECT_EQ(run("ifconfig eth0"), 1 << 8);
    EXPECT_EQ(run("ifconfig wlan0 up"), 0);
    shell().setEthernetPresent(true);
    EXPECT_EQ(run("ifconfig eth0 up"), 0);
}

TEST_F(SimShell, RebootIsRecordedAndAsksForTheRestart)
{
    int reboots = 0;
    platform::setRebootHandler([&reboots] { ++reboots; });
    EXPECT_EQ(run("reboot"), 0);
    EXPECT_EQ(reboots, 1);
    EXPECT_EQ(lastKind(), Kind::Recorded);
    EXPECT_EQ(run("echo x; reboot"), kRefused);
    EXPECT_EQ(run("sync && reboot"), kRefused);
    EXPECT_EQ(run("/sbin/reboot"), kRefused);
    EXPECT_EQ(reboots, 1);
    shell().setExitCode("reboot", 1);
    EXPECT_EQ(run("reboot"), 1 << 8);
    EXPECT_EQ(reboots, 1) << "a failed reboot does not restart";
    platform::setRebootHandler(nullptr);
}

TEST_F(SimShell, UnknownCommandsAndShellSyntaxAreRefused)
{
    const std::string made = outside() + "/made";
    const std::string echoed = outside() + "/echoed";
    const std::vector<std::string> commands = {
        "touch " + made, "echo hi > " + echoed, "mkdir " + made, "ls /data | grep a", "cat /etc/passwd",
        "rm -f /data/a; touch " + made, "ifconfig eth0 `touch " + made + "`", "ifconfig $(touch " + made + ")",
        "ifconfig eth0 < /dev/null", "ifconfig eth0 > " + echoed, "ifconfig eth0 >> /dev/null2", "pidof \"x",
        "FOO=1 reboot", "", "   ", "&", "ifconfig eth0\nreboot", "rm -f /data/a \\", "reboot # now"};
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        EXPECT_EQ(run(command), kRefused);
        EXPECT_EQ(lastKind(), Kind::Refused);
    }
    EXPECT_FALSE(exists(made));
    EXPECT_FALSE(exists(echoed));
}

TEST_F(SimShell, LogFileAndControlCommands)
{
    writeFile(hostPath("/data/x"), "x");
    run("rm -f /data/x");
    run("ifconfig eth0 up >/dev/null");
    run("touch /data/y");
    run("rm -rf /../z");
    const std::string expected = "file\t0\trm -f /data/x\n"
                                 "recorded\t0\tifconfig eth0 up >/dev/null\n"
                                 "refused\t32512\ttouch /data/y\n"
                                 "refused\t256\trm -rf /../z\n";
    EXPECT_EQ(shell().logPath(), sim::Board::instance().simFile("shell.log"));
    EXPECT_EQ(readFile(shell().logPath()), expected);

    sim::ControlChannel& control = sim::Board::instance().control();
    EXPECT_EQ(control.execute("shell-log"), expected + "ok\n");
    EXPECT_EQ(control.execute("shell-exit 3 udhcpc -i"), "ok\n");
    EXPECT_EQ(run("udhcpc -i wlan0"), 3 << 8);
    EXPECT_EQ(run("udhcpc -b"), 0);
    EXPECT_EQ(control.execute("shell-eth0 off"), "ok\n");
    EXPECT_EQ(run("ifconfig eth0 down"), 1 << 8);
    EXPECT_EQ(control.execute("shell-eth0 on"), "ok\n");
    EXPECT_EQ(run("ifconfig eth0 down"), 0);
    EXPECT_EQ(control.execute("shell-eth0 maybe").rfind("error ", 0), 0u);
    EXPECT_EQ(control.execute("shell-exit 300 x").rfind("error ", 0), 0u);

    shell().clearLog();
    EXPECT_TRUE(shell().entries().empty());
    EXPECT_EQ(readFile(shell().logPath()), "");

    // Memory keeps the last 10000 commands, the file every one.
    for (int i = 0; i < 10005; ++i)
        run("pidof p" + std::to_string(i));
    const auto kept = shell().commands();
    ASSERT_EQ(kept.size(), 10000u);
    EXPECT_EQ(kept.front(), "pidof p5");
    EXPECT_EQ(kept.back(), "pidof p10004");
    EXPECT_EQ(shell().entries().back().command, "pidof p10004");
    const std::string file = readFile(shell().logPath());
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 10005);
    EXPECT_EQ(file.rfind("recorded\t0\tpidof p0\n", 0), 0u);
    shell().clearLog();
}

} // namespace
