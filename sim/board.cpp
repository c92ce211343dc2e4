#include "sim/board.h"

#include "platform/board_root.h"
#include "platform/touch.h"
#include "sim/c331_chip.h"
#include "sim/control_channel.h"
#include "sim/fpga_model.h"
#include "sim/host_fs.h"
#include "sim/hotplug_model.h"
#include "sim/i2c_bus.h"
#include "sim/av_inputs.h"
#include "sim/mtd_model.h"
#include "sim/phys_mem.h"
#include "sim/serial_model.h"
#include "sim/shell_model.h"
#include "sim/spi_bus.h"
#include "sim/touch_model.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {
namespace {

using Args = std::vector<std::string>;

// A fault switch: "<command> on|off".
bool parseOnOff(const char* command, const Args& args, bool& on, std::string& reply)
{
    ArgReader a(args);
    if (a.count(1, 1) && a.oneOf(0, "switch", {"on", "off"})) {
        on = args[0] == "on";
        return true;
    }
    return a.refuse(std::string(command) + " on|off", reply);
}

std::string hex(unsigned long long v, int width)
{
    char buf[32];
    std::snprintf(buf, sizeof(buf), "0x%0*llX", width, v);
    return buf;
}

// Mkdir -p for the board root itself (it may lie below folders that do not
// exist yet).
bool makeRoot(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const std::string parent = hostfs::dirName(path);
    if (parent != path && !makeRoot(parent))
        return false;
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

} // namespace

bool boardRootUsable()
{
    return !platform::boardRootIsSystemRoot();
}

Board& Board::instance()
{
    static Board board;
    return board;
}

Board::Board()
{
    build();
}

Board::~Board()
{
    if (control_)
        control_->stop();
    if (rootLock_ >= 0)
        ::close(rootLock_);
}

void Board::reset(const std::string& root)
{
    if (control_)
        control_->stop();
    if (rootLock_ >= 0) {
        ::close(rootLock_);
        rootLock_ = -1;
    }
    control_.reset();
    fpga_.reset();
    c331_.reset();
    hotplug_.reset();
    touch_.reset();
    serial_.reset();
    mtd_.reset();
    i2c_.reset();
    spi_.reset();
    mem_.reset();
    shell_.reset();

    std::string absolute = root;
    if (!absolute.empty() && absolute[0] != '/') {
        char* cwd = ::getcwd(nullptr, 0);
        absolute = std::string(cwd ? cwd : "") + "/" + absolute;
        std::free(cwd);
    }
    std::string norm;
    if (absolute.empty() || !platform::normaliseSystemPath(absolute, norm) || norm == "/")
        norm.clear();   // no folder of its own: the board stays without files
    root_ = norm;
    platform::setBoardRoot(root_.empty() ? "/" : root_);
    build();
}

bool Board::claimRoot(std::string& error)
{
    if (rootLock_ >= 0)
        return true;
    if (root_.empty() || !boardRootUsable() || platform::boardRoot() != root_)
        return true;
    std::string rootReal;
    if (!makeRoot(root_) || !hostfs::realPath(root_, rootReal) || !hostfs::makeDirs(rootReal, root_ + "/sim")) {
        error = "cannot make the folder " + root_ + "/sim";
        return false;
    }
    const std::string path = simFile("program.lock");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        // The holder writes its pid once it has the lock.
        char buf[32] = {};
        const ssize_t n = ::pread(fd, buf, sizeof(buf) - 1, 0);
        ::close(fd);
        if (err != EWOULDBLOCK) {
            error = "cannot lock " + path + ": " + std::strerror(err);
            return false;
        }
        std::string pid(buf, n > 0 ? static_cast<size_t>(n) : 0);
        pid = pid.substr(0, pid.find_first_not_of("0123456789"));
        error = "board root " + root_ + " is in use by " +
                (pid.empty() ? std::string("another program") : "the program with pid " + pid);
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds all the same; only the name of the holder is missing.
        std::fprintf(stderr, "Simulated board: warning: cannot write the pid into %s\n", path.c_str());
    }
    rootLock_ = fd;
    return true;
}

bool Board::prepareFileSystem()
{
    if (root_.empty() || !boardRootUsable() || platform::boardRoot() != root_)
        return false;
    if (!makeRoot(root_))
        return false;
    std::string rootReal;
    if (!hostfs::realPath(root_, rootReal))
        return false;
    static const char* const folders[] = {
        "/data/app",     "/data/configs", "/data/modes", "/data/velmokq/log", "/data/rcvrecovery",
        "/data/smartmapping", "/dev",     "/etc",        "/mnt/usb1",         "/proc",
        "/sim",
    };
    bool ok = true;
    for (const char* f : folders)
        ok = hostfs::makeDirs(rootReal, root_ + f) && ok;
    return mtd_->createFiles() && ok;
}

std::string Board::simFile(const std::string& name) const
{
    return root_.empty() ? std::string() : root_ + "/sim/" + name;
}

ShellModel& Board::shell() { return *shell_; }
SpiBusModel& Board::spi() { return *spi_; }
I2cBusModel& Board::i2c() { return *i2c_; }
PhysMemModel& Board::mem() { return *mem_; }
MtdModel& Board::mtd() { return *mtd_; }
SerialModel& Board::serial() { return *serial_; }
TouchModel& Board::touch() { return *touch_; }
HotplugModel& Board::hotplug() { return *hotplug_; }
ControlChannel& Board::control() { return *control_; }
FpgaBoard& Board::fpga() { return *fpga_; }
C331ChipModel& Board::c331() { return *c331_; }

void Board::build()
{
    shell_ = std::make_unique<ShellModel>(simFile("shell.log"));
    mem_ = std::make_unique<PhysMemModel>();
    spi_ = std::make_unique<SpiBusModel>(*mem_);
    i2c_ = std::make_unique<I2cBusModel>();
    mtd_ = std::make_unique<MtdModel>();
    serial_ = std::make_unique<SerialModel>();
    touch_ = std::make_unique<TouchModel>();
    hotplug_ = std::make_unique<HotplugModel>();
    control_ = std::make_unique<ControlChannel>();
    fpga_ = std::make_unique<FpgaBoard>(*mem_, *spi_, [this](int chip) {
        return simFile("fpga-flash" + std::to_string(chip) + ".bin");
    });
    c331_ = std::make_shared<C331ChipModel>(mem_.get());
    c331_->setFlashFile(simFile("c331-flash.bin"));
    spi_->attach(C331ChipModel::kNode, c331_);
    c331_->registerCommands(*control_);
    attachAvInputs(*i2c_, c331_, *control_);

    ShellModel* shell = shell_.get();
    PhysMemModel* mem = mem_.get();
    MtdModel* mtd = mtd_.get();
    TouchModel* touch = touch_.get();
    HotplugModel* hotplug = hotplug_.get();
    ControlChannel& c = *control_;
    fpga_->registerCommands(c);

    // Shell
    c.add("shell-log", "prints the shell log (kind, status, command)", [shell](std::string& reply) {
        for (const auto& e : shell->entries())
            reply += ShellModel::logLine(e) + "\n";
        return true;
    });
    c.add("shell-exit", "<code> <prefix...>: exit code of recorded commands starting with prefix",
          [shell](const Args& args, std::string& reply) {
              long long code;
              ArgReader a(args);
              if (!a.count(2, SIZE_MAX) || !a.signedNumber(0, "code", 0, 255, code))
                  return a.refuse("shell-exit <0..255> <command prefix>", reply);
              std::string prefix;
              for (size_t i = 1; i < args.size(); ++i)
                  prefix += (i > 1 ? " " : "") + args[i];
              shell->setExitCode(prefix, static_cast<int>(code));
              return true;
          });
    c.add("shell-eth0", "on|off: whether the interface eth0 exists", [shell](const Args& args, std::string& reply) {
        bool on;
        if (!parseOnOff("shell-eth0", args, on, reply))
            return false;
        shell->setEthernetPresent(on);
        return true;
    });

    // Register space
    c.add("mem-read", "<hex phys>: reads a 16-bit register", [mem](const Args& args, std::string& reply) {
        unsigned long long phys;
        ArgReader a(args);
        if (!a.count(1, 1) || !a.number(0, "address", 0, 0xFFFFFFFF, phys, 16))
            return a.refuse("mem-read <hex address>", reply);
        reply = hex(mem->read16(static_cast<uint32_t>(phys)), 4);
        return true;
    });
    c.add("mem-write", "<hex phys> <hex value>: writes a 16-bit register", [mem](const Args& args, std::string& reply) {
        unsigned long long phys, value;
        ArgReader a(args);
        if (!a.count(2, 2) || !a.number(0, "address", 0, 0xFFFFFFFF, phys, 16) ||
            !a.number(1, "value", 0, 0xFFFF, value, 16))
            return a.refuse("mem-write <hex address> <hex value>", reply);
        mem->write16(static_cast<uint32_t>(phys), static_cast<uint16_t>(value));
        return true;
    });
    c.add("uid", "<a> <b> <c>: the SoC unique id (hex words)", [mem](const Args& args, std::string& reply) {
        unsigned long long v[3];
        ArgReader a(args);
        if (!a.count(3, 3) || !a.number(0, "a", 0, 0xFFFF, v[0], 16) || !a.number(1, "b", 0, 0xFFFF, v[1], 16) ||
            !a.number(2, "c", 0, 0xFFFF, v[2], 16))
            return a.refuse("uid <hex a> <hex b> <hex c>", reply);
        mem->setUniqueId(static_cast<uint16_t>(v[0]), static_cast<uint16_t>(v[1]), static_cast<uint16_t>(v[2]));
        return true;
    });
    c.add("mem-fail", "on|off: /dev/mem cannot be opened", [mem](const Args& args, std::string& reply) {
        bool on;
        if (!parseOnOff("mem-fail", args, on, reply))
            return false;
        mem->setMemOpenFails(on);
        return true;
    });
    c.add("msys-fail", "on|off: the /dev/msys request fails", [mem](const Args& args, std::string& reply) {
        bool on;
        if (!parseOnOff("msys-fail", args, on, reply))
            return false;
        mem->setMsysFails(on);
        return true;
    });

    // Flash
    c.add("mtd-fault", "<node> none|getinfo|unlock|erase|write: makes a flash request fail",
          [mtd](const Args& args, std::string& reply) {
              MtdModel::Partition part;
              ArgReader a(args);
              if (!a.count(2, 2) || (!mtd->lookup(args[0], part) && !a.fail(0, "node", "is no flash partition")))
                  return a.refuse("mtd-fault <node> none|getinfo|unlock|erase|write", reply);
              static const std::pair<const char*, MtdModel::Fault> names[] = {
                  {"none", MtdModel::Fault::None},     {"getinfo", MtdModel::Fault::GetInfo},
                  {"unlock", MtdModel::Fault::Unlock}, {"erase", MtdModel::Fault::Erase},
                  {"write", MtdModel::Fault::Write},
              };
              for (const auto& n : names) {
                  if (args[1] == n.first) {
                      mtd->setFault(args[0], n.second);
                      return true;
                  }
              }
              reply = "unknown fault " + args[1];
              return false;
          });

    // Touch screen and hot-plug
    c.add("tap", "<x> <y>: a tap on the touch screen (0..799, 0..479)", [touch](const Args& args, std::string& reply) {
        long long x, y;
        ArgReader a(args);
        // The screen is 800 x 480: a point off it is no tap.
        if (!a.count(2, 2) || !a.signedNumber(0, "x", 0, 799, x) || !a.signedNumber(1, "y", 0, 479, y))
            return a.refuse("tap <x 0..799> <y 0..479>", reply);
        touch->tap(static_cast<int>(x), static_cast<int>(y));
        return true;
    });
    c.add("touch", "<type> <code> <value>: one raw input event", [touch](const Args& args, std::string& reply) {
        long long type, code, value;
        ArgReader a(args);
        if (!a.count(3, 3) || !a.signedNumber(0, "type", 0, 0xFFFF, type, 0) ||
            !a.signedNumber(1, "code", 0, 0xFFFF, code, 0) ||
            !a.signedNumber(2, "value", INT32_MIN, INT32_MAX, value, 0))
            return a.refuse("touch <type> <code> <value>", reply);
        platform::TouchEvent e;
        e.type = static_cast<uint16_t>(type);
        e.code = static_cast<uint16_t>(code);
        e.value = static_cast<int32_t>(value);
        touch->inject(e);
        return true;
    });
    c.add("uevent", "<text>: one hot-plug message, fields separated by |", [hotplug](const Args& args, std::string& reply) {
        if (args.empty()) {
            reply = "usage: uevent add@/devices/...|ACTION=add|...";
            return false;
        }
        std::string message;
        for (size_t i = 0; i < args.size(); ++i)
            message += (i ? " " : "") + args[i];
        for (char& ch : message) {
            if (ch == '|')
                ch = '\0';
        }
        if (message.back() != '\0')
            message += '\0';
        hotplug->inject(message);
        return true;
    });
}

} // namespace sim
