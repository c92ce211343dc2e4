// The simulated board: the device models that stand behind the sim back ends
// of platform/, the board root's file system and the control channel through
// which tests and people change the board while the program runs.
#pragma once

#include <memory>
#include <mutex>
#include <string>

namespace sim {

class ShellModel;
class SpiBusModel;
class I2cBusModel;
class PhysMemModel;
class MtdModel;
class SerialModel;
class TouchModel;
class HotplugModel;
class ControlChannel;
class FpgaBoard;
class C331ChipModel;

// True when the board root is a folder of its own: the models never create,
// change or remove anything while the root is the machine's "/".
bool boardRootUsable();

class Board {
public:
    static Board& instance();

    // Throws away every model and starts a fresh board whose file system is
    // rooted at root (which becomes the platform's board root). Tests call
    // this with a new temporary folder each. A relative root is taken from
    // the current folder; "/" leaves the board without a usable root.
    void reset(const std::string& root);

    // Takes the board root for this process, before anything of it is
    // written: one program per root. The claim is a lock (flock) on
    // <root>/sim/program.lock, which ends with the process, so that a
    // program killed never keeps the next one out; the file names the
    // holder's pid. False, with the reason, when another program holds the
    // root or the lock cannot be made. A board without a usable root has
    // nothing to claim (true). Released by reset().
    bool claimRoot(std::string& error);

    // Lays out the folders a fresh device has (/data/..., /dev, /etc,
    // /mnt, /proc) and the MTD partition files. Idempotent.
    bool prepareFileSystem();

    const std::string& root() const { return root_; }
    // Path of a file of the simulation itself (logs, control socket), kept
    // apart from the device's own files: <root>/sim/<name> ("" without a
    // usable root).
    std::string simFile(const std::string& name) const;

    ShellModel& shell();
    SpiBusModel& spi();
    I2cBusModel& i2c();
    PhysMemModel& mem();
    MtdModel& mtd();
    SerialModel& serial();
    TouchModel& touch();
    HotplugModel& hotplug();
    ControlChannel& control();
    // The two sending-card FPGAs and their flashes.
    FpgaBoard& fpga();
    C331ChipModel& c331();

private:
    Board();
    ~Board();
    void build();

    std::string root_;
    // The claim on the root (claimRoot), -1 while none is held.
    int rootLock_ = -1;
    std::unique_ptr<ShellModel> shell_;
    std::unique_ptr<SpiBusModel> spi_;
    std::unique_ptr<I2cBusModel> i2c_;
    std::unique_ptr<PhysMemModel> mem_;
    std::unique_ptr<MtdModel> mtd_;
    std::unique_ptr<SerialModel> serial_;
    std::unique_ptr<TouchModel> touch_;
    std::unique_ptr<HotplugModel> hotplug_;
    std::unique_ptr<ControlChannel> control_;
    std::unique_ptr<FpgaBoard> fpga_;
    std::shared_ptr<C331ChipModel> c331_;
};

} // namespace sim
