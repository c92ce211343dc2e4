// SPI and I2C buses of the simulated board, by the models and through the
// platform interfaces.
#include "support/sim_board_test.h"

#include "platform/platform.h"
#include "sim/board.h"
#include "sim/i2c_bus.h"
#include "sim/phys_mem.h"
#include "sim/spi_bus.h"

#include <atomic>
#include <thread>

namespace {

// A chip select with no device model of the board behind it.
const std::string kNode = "/dev/spidev32766.7";

class RecordingSpiDevice : public sim::SpiDevice {
public:
    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t speedHz) override
    {
        received.insert(received.end(), tx, tx + len);
        speeds.push_back(speedHz);
        for (uint32_t i = 0; rx && i < len; ++i)
            rx[i] = static_cast<uint8_t>(tx[i] ^ 0xA5);
    }
    void endMessage() override { ++messages; }
    bool listening() const override { return listen; }

    std::vector<uint8_t> received;
    std::vector<uint32_t> speeds;
    std::atomic<int> messages{0};
    bool listen = true;
};

// Listens while its select pad (a GPIO register) is driven low.
class SelectedSpiDevice : public RecordingSpiDevice {
public:
    SelectedSpiDevice(sim::PhysMemModel& mem, uint32_t pad) : mem_(mem), pad_(pad) {}
    bool listening() const override { return !mem_.padHigh(pad_); }

private:
    sim::PhysMemModel& mem_;
    uint32_t pad_;
};

class SimSpiBus : public SimBoardTest {
protected:
    sim::SpiBusModel& bus() { return sim::Board::instance().spi(); }
};

TEST_F(SimSpiBus, MessageToANodeWithoutDeviceFails)
{
    uint8_t tx[2] = {1, 2};
    uint8_t rx[2] = {0, 0};
    EXPECT_FALSE(bus().hasNode(kNode));
    EXPECT_FALSE(bus().message(kNode, {tx}, {rx}, {2}, {1000000}));

    // The spidev node opens; the message finds nobody.
    const int fd = platform::spi().open(kNode);
    ASSERT_GE(fd, 0x40000000);
    platform::SpiTransfer t;
    t.tx = tx;
    t.rx = rx;
    t.len = 2;
    EXPECT_EQ(platform::spi().message(fd, &t, 1), -1);
    EXPECT_EQ(platform::spi().close(fd), 0);

    EXPECT_EQ(platform::spi().open("/dev/ttyS2"), -1);
    EXPECT_EQ(platform::spi().open("/dev/spidevX.0"), -1);
}

TEST_F(SimSpiBus, TransfersReachTheDeviceInOrder)
{
    auto dev = std::make_shared<RecordingSpiDevice>();
    bus().attach(kNode, dev);
    const int fd = platform::spi().open(kNode);
    ASSERT_GE(fd, 0x40000000);
    ASSERT_EQ(platform::spi().setMaxSpeed(fd, 12000000), 0);

    const uint8_t cmd[3] = {0x0B, 0x10, 0x20};
    uint8_t rx[4] = {0, 0, 0, 0};
    platform::SpiTransfer t[2];
    t[0].tx = cmd;
    t[0].len = 3;
    t[1].rx = rx;   // tx null: zeros go out
    t[1].len = 4;
    t[1].speedHz = 3000000;
    EXPECT_EQ(platform::spi().message(fd, t, 2), 7);
    EXPECT_EQ(dev->received, (std::vector<uint8_t>{0x0B, 0x10, 0x20, 0, 0, 0, 0}));
    EXPECT_EQ(dev->speeds, (std::vector<uint32_t>{12000000, 3000000}));
    for (uint8_t b : rx)
        EXPECT_EQ(b, 0xA5);
    EXPECT_EQ(dev->messages.load(), 1);
    EXPECT_EQ(bus().messageCount(kNode), 1u);
    EXPECT_EQ(bus().unheardCount(kNode), 0u);
    EXPECT_EQ(platform::spi().message(fd, t, 0), 0);
    EXPECT_EQ(platform::spi().message(fd, nullptr, 1), -1);

    bus().detach(kNode);
    EXPECT_EQ(platform::spi().message(fd, t, 2), -1);
    platform::spi().close(fd);
    EXPECT_EQ(platform::spi().message(fd, t, 2), -1) << "closed descriptor";
}

TEST_F(SimSpiBus, DeviceThatDoesNotListenReadsIdleBus)
{
    sim::PhysMemModel& mem = sim::Board::instance().mem();
    const uint32_t pad = 0x101E00;
    auto dev = std::make_shared<SelectedSpiDevice>(mem, pad);
    bus().attach(kNode, dev);
    mem.write16(sim::PhysMemModel::kRiuBase + pad, 0x0010);   // select high

    const uint8_t tx[2] = {0x55, 0x66};
    uint8_t rx[2] = {0, 0};
    EXPECT_TRUE(bus().message(kNode, {tx}, {rx}, {2}, {1000000}));
    EXPECT_EQ(rx[0], 0xFF);
    EXPECT_EQ(rx[1], 0xFF);
    EXPECT_TRUE(dev->received.empty());
    EXPECT_EQ(dev->messages.load(), 0);
    EXPECT_EQ(bus().unheardCount(kNode), 1u);

    mem.write16(sim::PhysMemModel::kRiuBase + pad, 0x0000);   // select low
    EXPECT_TRUE(bus().message(kNode, {tx}, {rx}, {2}, {1000000}));
    EXPECT_EQ(rx[0], 0x55 ^ 0xA5);
    EXPECT_EQ(dev->received.size(), 2u);
    EXPECT_EQ(bus().messageCount(kNode), 2u);
    EXPECT_EQ(bus().unheardCount(kNode), 1u);

    EXPECT_FALSE(bus().message(kNode, {tx}, {rx}, {2, 2}, {1000000})) << "mismatched transfer lists";
}

TEST_F(SimSpiBus, SettingsAreKeptPerDescriptor)
{
    const int a = platform::spi().open(kNode);
    const int b = platform::spi().open("/dev/spidev32766.1");
    ASSERT_GE(a, 0x40000000);
    ASSERT_GE(b, 0x40000000);
    EXPECT_NE(a, b);
    ASSERT_EQ(platform::spi().setMode(a, 3), 0);
    ASSERT_EQ(platform::spi().setBitsPerWord(a, 16), 0);
    ASSERT_EQ(platform::spi().setMaxSpeed(a, 27000000), 0);
    uint8_t mode = 0xEE, bits = 0;
    uint32_t speed = 0;
    EXPECT_EQ(platform::spi().getMode(a, mode), 0);
    EXPECT_EQ(platform::spi().getBitsPerWord(a, bits), 0);
    EXPECT_EQ(platform::spi().getMaxSpeed(a, speed), 0);
    EXPECT_EQ(mode, 3);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(speed, 27000000u);
    EXPECT_EQ(platform::spi().getMode(b, mode), 0);
    EXPECT_EQ(mode, 0) << "the other descriptor keeps its own";
    EXPECT_EQ(platform::spi().setBitsPerWord(a, 64), -1);
    platform::spi().close(a);
    platform::spi().close(b);
    EXPECT_EQ(platform::spi().getMode(a, mode), -1);
    EXPECT_EQ(platform::spi().setMode(-1, 0), -1);
}

TEST_F(SimSpiBus, ConcurrentMessagesAreAllDelivered)
{
    auto dev = std::make_shared<RecordingSpiDevice>();
    bus().attach(kNode, dev);
    auto worker = [this] {
        const uint8_t tx[1] = {1};
        for (int i = 0; i < 500; ++i)
            bus().message(kNode, {tx}, {nullptr}, {1}, {1000000});
    };
    std::thread t1(worker), t2(worker);
    t1.join();
    t2.join();
    EXPECT_EQ(dev->messages.load(), 1000);
    EXPECT_EQ(dev->received.size(), 1000u);
    EXPECT_EQ(bus().messageCount(kNode), 1000u);
}

// A register device: a write sets the register pointer (and values), a read
// returns from the pointer on.
class RegisterI2cDevice : public sim::I2cDevice {
public:
    bool write(const uint8_t* data, uint16_t len) override
    {
        if (nakWrites)
            return false;
        if (len == 0)
            return true;
        pointer = data[0];
        for (uint16_t i = 1; i < len; ++i)
            regs[static_cast<uint8_t>(pointer + i - 1)] = data[i];
        if (len > 1)
            pointer = static_cast<uint8_t>(pointer + len - 1);
        return true;
    }
    bool read(uint8_t* data, uint16_t len) override
    {
        for (uint16_t i = 0; i < len; ++i)
            data[i] = regs[pointer++];
        return true;
    }
    void stop() override { ++stops; }

    uint8_t regs[256] = {};
    uint8_t pointer = 0;
    int stops = 0;
    bool nakWrites = false;
};

class SimI2cBus : public SimBoardTest {
protected:
    sim::I2cBusModel& bus() { return sim::Board::instance().i2c(); }
};

TEST_F(SimI2cBus, CombinedTransfersReachTheDevice)
{
    auto dev = std::make_shared<RegisterI2cDevice>();
    dev->regs[0x10] = 0xAB;
    dev->regs[0x11] = 0xCD;
    bus().attach(0x50, dev);
    EXPECT_TRUE(bus().hasDevice(0x50));

    const int fd = platform::i2c().open("/dev/i2c-0");
    ASSERT_GE(fd, 0x40000000);
    uint8_t reg = 0x10;
    uint8_t value[2] = {0, 0};
    platform::I2cMessage msgs[2];
    msgs[0].addr = 0x50;
    msgs[0].len = 1;
    msgs[0].buf = &reg;
    msgs[1].addr = 0x50;
    msgs[1].flags = platform::I2cMessage::Read;
    msgs[1].len = 2;
    msgs[1].buf = value;
    EXPECT_EQ(platform::i2c().transfer(fd, msgs, 2), 2);
    EXPECT_EQ(value[0], 0xAB);
    EXPECT_EQ(value[1], 0xCD);
    EXPECT_EQ(dev->stops, 1) << "one stop after the combined transfer";

    uint8_t write[3] = {0x20, 0x01, 0x02};
    msgs[0].len = 3;
    msgs[0].buf = write;
    EXPECT_EQ(platform::i2c().transfer(fd, msgs, 1), 1);
    EXPECT_EQ(dev->regs[0x20], 0x01);
    EXPECT_EQ(dev->regs[0x21], 0x02);

    EXPECT_EQ(platform::i2c().transfer(fd, msgs, 0), -1);
    EXPECT_EQ(platform::i2c().transfer(fd, msgs, 43), -1);
    EXPECT_EQ(platform::i2c().close(fd), 0);
    EXPECT_EQ(platform::i2c().transfer(fd, msgs, 1), -1) << "closed descriptor";
    EXPECT_EQ(platform::i2c().open("/dev/i2c-7"), -1);
}

TEST_F(SimI2cBus, AddressWithoutDeviceOrRefusingDeviceIsNotAcknowledged)
{
    auto dev = std::make_shared<RegisterI2cDevice>();
    bus().attach(0x50, dev);
    uint8_t reg = 0x00;
    uint8_t data = 0x77;
    // The second message goes to an address nobody answers: the transfer
    // fails, and the first device still sees the stop.
    EXPECT_FALSE(bus().transfer({{0x50, false, &reg, 1}, {0x51, true, &data, 1}}));
    EXPECT_EQ(data, 0x77);
    EXPECT_EQ(dev->stops, 1);

    dev->nakWrites = true;
    const int fd = platform::i2c().open("/dev/i2c-0");
    platform::I2cMessage m;
    m.addr = 0x50;
    m.len = 1;
    m.buf = &reg;
    EXPECT_EQ(platform::i2c().transfer(fd, &m, 1), -1);
    bus().detach(0x50);
    EXPECT_FALSE(bus().hasDevice(0x50));
    dev->nakWrites = false;
    EXPECT_EQ(platform::i2c().transfer(fd, &m, 1), -1);
    platform::i2c().close(fd);
}

} // namespace
