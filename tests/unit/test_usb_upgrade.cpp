// The USB upgrade package against the simulated board: packages built here
// from their layout (header, entry table, entry data), the FPGA flashes and
// the chip's serial flash of the board models, the application under
// /data/app and the launch file.
#include "support/board_clock.h"
#include "support/fpga_fixture.h"
#include "support/wait_for.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/zdrrampara.h"
#include "platform/platform.h"
#include "sim/board.h"
#include "sim/c331_chip.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_drv.h"
#include "videochip/c331_manage.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <unistd.h>

namespace {

struct Part {
    unsigned char type;
    std::vector<unsigned char> data;
    std::array<unsigned char, 6> version{{1, 1, 1, 1, 1, 1}};
    // Overrides of the table's length field (for damaged packages).
    int64_t declaredLen = -1;
};

std::vector<unsigned char> pattern(size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
    return v;
}

// Header (49 bytes), table (21 bytes per entry), then the entries' data in
// order.
std::vector<unsigned char> package(const std::vector<Part>& parts, unsigned char publish = 0,
                                   unsigned short controller = 0x6C52)
{
    std::vector<unsigned char> out(49 + 21 * parts.size(), 0);
    out[0] = 0x5A;
    out[1] = 1;
    out[2] = publish;
    setLe16(out.data(), 18, controller);
    setLe16(out.data(), 47, static_cast<uint16_t>(parts.size()));
    for (size_t k = 0; k < parts.size(); ++k) {
        unsigned char* e = out.data() + 49 + 21 * k;
        const uint32_t offset = static_cast<uint32_t>(out.size());
        e[0] = parts[k].type;
        setLe32(e, 1, parts[k].declaredLen >= 0 ? uint32_t(parts[k].declaredLen) : uint32_t(parts[k].data.size()));
        setLe32(e, 5, offset);
        std::copy(parts[k].version.begin(), parts[k].version.end(), e + 9);
        out.insert(out.end(), parts[k].data.begin(), parts[k].data.end());
    }
    return out;
}

// A bitstream entry: the 64-byte child header (length at 31), the stream.
std::vector<unsigned char> bitstream(const std::vector<unsigned char>& bits, uint32_t declared)
{
    std::vector<unsigned char> out(64, 0);
    out[16] = 1;
    out[20] = 0;
    setLe32(out.data(), 31, declared);
    out.insert(out.end(), bits.begin(), bits.end());
    return out;
}

// A font image: 35-byte header ("P", encoding at 5, height at 18), glyphs.
std::vector<unsigned char> font(unsigned char encoding, unsigned char height, size_t glyphBytes)
{
    std::vector<unsigned char> out = pattern(35 + glyphBytes, encoding * 7 + height);
    std::fill(out.begin(), out.begin() + 35, 0);
    out[0] = 'P';
    out[5] = encoding;
    out[17] = height / 2;
    out[18] = height;
    return out;
}

void noSleep(unsigned int) {}

// The pauses of the upgrade, counted: each is a step between two pieces of
// its work (a read of the package, an erase, a chunk written), where a test
// cuts the upgrade short.
struct PowerCut {};
int g_pauses = 0;
int g_cutAt = 0;
std::function<void()> g_cut;
void countingSleep(unsigned int)
{
    if (++g_pauses == g_cutAt && g_cut)
        g_cut();
}

class UsbUpgradeTest : public FpgaTest {
protected:
    void SetUp() override
    {
        FpgaTest::SetUp();
        savedSleep_ = fpga_manage::upgrade_sleep_ms;
        fpga_manage::upgrade_sleep_ms = noSleep;
        g_usb_grade_path = "ZDR-K47";
        g_update_status = 0;
        g_app_reset_flag = 0;
        G_reboot_tickTicks = 0;
        G_timeTicks = 5000;
        QDir().mkpath(QString::fromStdString(platform::boardPath("/mnt/usb1/ZDR-K47")));
        writeHost("/data/app/zdrK47N", oldApp());
    }
    void TearDown() override
    {
        if (chip_) {
            c331_manage::p_c331_manage = savedChip_;
            delete chip_;
        }
        fpga_manage::upgrade_sleep_ms = savedSleep_;
        g_cut = nullptr;
        g_cutAt = 0;
        g_app_reset_flag = 0;
        g_update_flag = 0;
        FpgaTest::TearDown();
    }

    static std::vector<unsigned char> oldApp() { return pattern(3000, 99); }

    void writeHost(const std::string& systemPath, const std::vector<unsigned char>& bytes)
    {
        std::ofstream f(platform::boardPath(systemPath), std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    void putPackage(const std::string& name, const std::vector<unsigned char>& bytes)
    {
        writeHost("/mnt/usb1/ZDR-K47/" + name, bytes);
    }
    // A chip manager for the font steps (the program's one object).
    void withChip()
    {
        chip_ = new c331_manage();
        chip_->c331_fd = chip_->drv->initialize();
        ASSERT_GE(chip_->c331_fd, 0);
        chip_->load_system_param();
        chip_->define_param();
        savedChip_ = c331_manage::p_c331_manage;
        c331_manage::p_c331_manage = chip_;
    }
    sim::C331ChipModel& c331() { return sim::Board::instance().c331(); }

    // Steps 0 to 3 as four passes of the FPGA thread.
    void runUpgrade()
    {
        g_send_para.step = 0;
        g_usb_grade = 1;
        for (int pass = 0; pass < 4; ++pass)
            mgr().usb_upgrade_manage_deal(nullptr);
    }
    std::vector<unsigned char> app() { return fileBytes("/data/app/zdrK47N"); }
    bool staged() { return QFile::exists(QString::fromStdString(platform::boardPath("/data/app/zdrK47N2"))); }
    void setFpgaVersion(int fpga, unsigned char yearBcd, unsigned char monthBcd, unsigned char dayBcd,
                        unsigned char function)
    {
        mgr().MCU_REG_func[fpga][31] = yearBcd;
        mgr().MCU_REG_func[fpga][30] = monthBcd;
        mgr().MCU_REG_func[fpga][29] = dayBcd;
        mgr().MCU_REG_func[fpga][28] = function;
    }

    c331_manage* chip_ = nullptr;
    c331_manage* savedChip_ = nullptr;
    void (*savedSleep_)(unsigned int) = nullptr;
};

TEST_F(UsbUpgradeTest, ListsOnlyRegularFilesWithTheExactSuffixes)
{
    for (const char* name : {"x.ZDR", "y.ZDRZK", "x.zdr", "x.ZDRZ", "ZDR", "a.ZDR.bak", ".hidden.ZDR", ".h.ZDRZK"})
        putPackage(name, {1});
    QDir().mkpath(QString::fromStdString(platform::boardPath("/mnt/usb1/ZDR-K47/d.ZDR")));
    ASSERT_EQ(::symlink(platform::boardPath("/mnt/usb1/ZDR-K47/x.ZDR").c_str(),
                        platform::boardPath("/mnt/usb1/ZDR-K47/l.ZDR").c_str()),
              0);
    mgr().get_usb_file_list_path();
    EXPECT_EQ(mgr().usb_file_count, 2u);
    QStringList names;
    for (const QString& p : mgr().usb_file_list)
        names << QFileInfo(p).fileName();
    names.sort();
    EXPECT_EQ(names, QStringList({"x.ZDR", "y.ZDRZK"}));

    // A single blank takes the disk's top folder.
    writeHost("/mnt/usb1/top.ZDRZK", {1});
    g_usb_grade_path = " ";
    mgr().get_usb_file_list_path();
    ASSERT_EQ(mgr().usb_file_count, 1u);
    EXPECT_EQ(QFileInfo(mgr().usb_file_list[0]).fileName(), "top.ZDRZK");

    // A setting that climbs out of the disk finds nothing.
    QDir().mkpath(QString::fromStdString(platform::boardPath("/mnt/other")));
    writeHost("/mnt/other/evil.ZDR", {1});
    g_usb_grade_path = "../other";
    mgr().get_usb_file_list_path();
    EXPECT_EQ(mgr().usb_file_count, 0u);

    // At most 100 packages, as the page shows; the others are named.
    g_usb_grade_path = "ZDR-K47";
    for (int i = 0; i < 105; ++i)
        putPackage("many" + std::to_string(i) + ".ZDR", {1});
    mgr().upgrade_errors = 0;
    mgr().get_usb_file_list_path();
    EXPECT_EQ(mgr().usb_file_count, 100u);
    EXPECT_EQ(mgr().usb_file_list.size(), 100);
    ASSERT_EQ(mgr().usb_skipped.size(), 7);   // x.ZDR and y.ZDRZK are there too
    EXPECT_EQ(mgr().upgrade_errors.load(), 7u) << "packages left out end the upgrade as done";
    const std::string log = readFile(hostPath("/data/velmokq/log/prqEnglneLog"));
    for (const QString& name : mgr().usb_skipped) {
        EXPECT_FALSE(mgr().usb_file_list.contains(platform::boardPath("/mnt/usb1/ZDR-K47/" + name)));
        EXPECT_NE(log.find("more than 100 packages on the disk, not installed: " + name.toStdString()),
                  std::string::npos);
    }
}

TEST_F(UsbUpgradeTest, HiddenPackageIsNotInstalled)
{
    // The page lists no file ("No loaded file!"): OK installs nothing.
    putPackage(".hidden.ZDR", package({{7, bitstream(pattern(5000, 4), 5000)}}));
    const std::vector<unsigned char> before = flash(2).peek(0, 5000);
    const uint64_t erases = flash(2).counters().erases;
    runUpgrade();
    EXPECT_EQ(mgr().usb_file_count, 0u);
    EXPECT_EQ(flash(2).counters().erases, erases);
    EXPECT_EQ(flash(2).peek(0, 5000), before);
    EXPECT_EQ(mgr().downing_txc1, 0);
    EXPECT_EQ(mgr().fpga_rst_pending[0].load(), 0);
}

TEST_F(UsbUpgradeTest, EmptyFolderEndsWithTheTimeTextAndNothingInstalled)
{
    runUpgrade();
    EXPECT_EQ(g_usb_grade.load(), 0u);
    EXPECT_EQ(g_send_para.step.load(), 0);
    EXPECT_EQ(g_update_flag.load(), 0);
    EXPECT_EQ(mgr().usb_file_count, 0u);
    EXPECT_TRUE(QRegularExpression("^\\d{1,2}:\\d{1,2}:\\d{1,2}    \\d{1,2}:\\d{1,2}:\\d{1,2}$")
                    .match(mgr().upgrade_time_text)
                    .hasMatch())
        << mgr().upgrade_time_text.toStdString();
    EXPECT_EQ(app(), oldApp());
    EXPECT_EQ(g_app_reset_flag.load(), 0);
}

TEST_F(UsbUpgradeTest, ApplicationAndBitstreamInstalledThenRebootWithoutFpgaReset)
{
    const std::vector<unsigned char> image = pattern(70000, 3);
    const std::vector<unsigned char> bits = pattern(5000, 4);
    putPackage("all.ZDR", package({{10, image}, {7, bitstream(bits, 5000)}}));
    runUpgrade();

    EXPECT_EQ(app(), image);
    EXPECT_FALSE(staged());
    EXPECT_EQ(flash(2).peek(0, 5000), bits);
    EXPECT_EQ(mgr().downing_mcu, 1);
    EXPECT_EQ(mgr().downing_txc1, 1);
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(G_reboot_tickTicks.load(), G_timeTicks.load());
    EXPECT_EQ(mgr().fpga_rst_pending[0].load(), 0);
    EXPECT_EQ(mgr().upgrade_errors.load(), 0u);
    QSettings launch(QString::fromStdString(platform::boardPath("/data/configs/led_load_config.ini")),
                     QSettings::IniFormat);
    EXPECT_EQ(launch.value("app-1/app_path").toString(), "/data/app/zdrK47N -platform linuxfb");
    EXPECT_EQ(launch.value("app-1/app_name").toString(), "zdrK47N");
}

TEST_F(UsbUpgradeTest, ApplicationOfTheRunningVersionSkippedOnlyForPublishType0x80)
{
    Part part{10, pattern(4000, 5), {{24, 8, 2, 11, 2, 1}}};
    putPackage("same.ZDR", package({part}, 0x80));
    runUpgrade();
    EXPECT_EQ(app(), oldApp());
    EXPECT_EQ(g_app_reset_flag.load(), 0);

    putPackage("same.ZDR", package({part}, 0));
    runUpgrade();
    EXPECT_EQ(app(), part.data);
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

TEST_F(UsbUpgradeTest, WrongControllerTypePassesApplicationAndBitstreamOver)
{
    // A package for another device installs nothing and does not end as
    // done: with its application, with a bitstream, or with both.
    const std::vector<std::vector<Part>> cases = {{{10, pattern(100, 1)}, {8, bitstream(pattern(100, 2), 100)}},
                                                  {{10, pattern(100, 1)}},
                                                  {{8, bitstream(pattern(100, 2), 100)}}};
    for (const std::vector<Part>& parts : cases) {
        SCOPED_TRACE(parts.size());
        putPackage("other.ZDR", package(parts, 0, 0x1234));
        runUpgrade();
        EXPECT_EQ(app(), oldApp());
        EXPECT_FALSE(staged());
        EXPECT_EQ(g_app_reset_flag.load(), 0);
        EXPECT_EQ(flash(3).counters().erases, 0u);
        EXPECT_EQ(mgr().fpga_rst_pending[1].load(), 0);
        EXPECT_EQ(mgr().downing_txc2, 0);
        EXPECT_GE(mgr().upgrade_errors.load(), 1u) << "shown as done";
    }
}

TEST_F(UsbUpgradeTest, BitstreamErasesBlockAndSectorsThenResetsItsFpga)
{
    flash(2).poke(32768, std::vector<unsigned char>(12288, 0x00));   // sectors 8..10 programmed
    const std::vector<unsigned char> bits = pattern(40000, 8);
    // A second FPGA 0 entry with an empty bitstream is passed over: the
    // first one's stream is still applied.
    putPackage("fpga0.ZDR", package({{7, bitstream(bits, 40000)}, {7, bitstream({}, 0)}}));
    const uint64_t erasesBefore = flash(2).counters().erases;
    runUpgrade();
    EXPECT_EQ(mgr().downing_txc1, 1);
    EXPECT_EQ(mgr().upgrade_errors.load(), 0u);

    EXPECT_EQ(flash(2).counters().erases - erasesBefore, 3u);   // one 32 KiB block, sectors 8 and 9
    EXPECT_EQ(flash(2).peek(0, 40000), bits);
    EXPECT_EQ(flash(2).peek(40000, 960), std::vector<unsigned char>(960, 0xFF));   // rest of sector 9
    EXPECT_EQ(flash(2).peek(40960, 4096), std::vector<unsigned char>(4096, 0x00)); // sector 10 untouched
    EXPECT_EQ(mgr().fpga_rst_pending[0].load(), 1);
    EXPECT_EQ(mgr().fpga_rst_pending[1].load(), 0);
    EXPECT_EQ(g_app_reset_flag.load(), 0);
}

TEST_F(UsbUpgradeTest, BitstreamOfTheRunningFpgaVersionSkippedOnlyForPublishType0x80)
{
    setFpgaVersion(1, 0x24, 0x12, 0x31, 0x07);
    Part part{8, bitstream(pattern(6000, 9), 6000), {{24, 12, 31, 0, 0, 7}}};
    putPackage("fpga1.ZDR", package({part}, 0x80));
    runUpgrade();
    EXPECT_EQ(mgr().downing_txc2, 0);
    EXPECT_EQ(flash(3).counters().erases, 0u);

    putPackage("fpga1.ZDR", package({part}, 0));
    runUpgrade();
    EXPECT_EQ(mgr().downing_txc2, 1);
    EXPECT_EQ(flash(3).peek(0, 6000), pattern(6000, 9));
    EXPECT_EQ(mgr().fpga_rst_pending[1].load(), 1);
}

TEST_F(UsbUpgradeTest, FontsGoToTheAreaOfTheirEncodingAndHeight)
{
    withChip();
    ParaWriteLock().status()[43] = 0;
    const std::vector<unsigned char> cjk64 = font(0, 64, 6000);
    const std::vector<unsigned char> ascii32 = font(1, 32, 3000);
    // The third entry's coding is unknown: it is passed over, and the
    // fonts written before it are still reloaded.
    putPackage("fonts.ZDRZK", package({{13, cjk64}, {13, ascii32}, {13, font(2, 32, 100)}}, 0, 0));
    c331().clearFlashOps();
    runUpgrade();

    std::vector<std::pair<uint32_t, uint32_t>> erases;
    for (const auto& op : c331().flashOps())
        if (op.kind == 'E')
            erases.emplace_back(op.address, op.length);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {0x450000, 0x1000}, {0x451000, 0x1000}, {0x000000, 0x1000}};
    EXPECT_EQ(erases, expected);

    EXPECT_EQ(c331().flashRead(0x450000, static_cast<uint32_t>(cjk64.size())), cjk64);
    EXPECT_EQ(c331().flashRead(0x000000, static_cast<uint32_t>(ascii32.size())), ascii32);
    EXPECT_EQ(mgr().downing_osd, 1);
    EXPECT_EQ(mgr().upgrade_errors.load(), 0u);
    // The reload found the written fonts.
    EXPECT_EQ(ZdrRamPara::p_zdrrampara_config->run_status[43] & 0x29, 0x29);
}

TEST_F(UsbUpgradeTest, FontNotWrittenWhileAllFontsArePresent)
{
    withChip();
    ParaWriteLock().status()[43] = 63;
    const std::vector<unsigned char> before = c331().flashRead(0x410000, 4000);
    c331().clearFlashOps();
    putPackage("font.ZDR", package({{13, font(1, 64, 3000)}}));
    runUpgrade();
    EXPECT_EQ(mgr().downing_osd, 0);
    EXPECT_TRUE(c331().flashOps().empty());
    EXPECT_EQ(c331().flashRead(0x410000, 4000), before);
}

// --- damaged packages: refused whole, nothing installed ----------------------

TEST_F(UsbUpgradeTest, DamagedPackagesInstallNothing)
{
    withChip();
    ParaWriteLock().status()[43] = 0;
    const Part goodApp{10, pattern(2000, 11)};
    const Part goodBits{7, bitstream(pattern(3000, 12), 3000)};
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
    };
    std::vector<Case> cases;
    {
        std::vector<unsigned char> p = package({goodApp, goodBits});
        p.resize(p.size() - 100);   // bitstream cut short
        cases.push_back({"truncated", p});
    }
    {
        std::vector<unsigned char> p = package({goodApp, goodBits});
        setLe16(p.data(), 47, 400);   // table beyond the end
        cases.push_back({"entry count", p});
    }
    {
        std::vector<unsigned char> p = package({goodApp});
        p.resize(30);
        cases.push_back({"header only", p});
    }
    cases.push_back({"bitstream longer than its entry", package({goodApp, {7, bitstream(pattern(3000, 1), 3001)}})});
    {
        Part wrap = goodBits;
        wrap.declaredLen = 0xFFFFFFF0u;   // offset + length wraps in 32 bits
        cases.push_back({"entry length wraps", package({goodApp, wrap})});
    }
    {
        Part big{10, pattern(100, 3)};
        big.declaredLen = 5 * 1024 * 1024 + 1;
        cases.push_back({"application beyond 5 MiB", package({goodBits, big})});
    }
    cases.push_back({"font beyond its area", package({goodApp, {13, font(1, 32, 0x10000)}})});
    cases.push_back({"font without header", package({goodApp, {13, std::vector<unsigned char>(20, 'P')}})});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(QString::fromStdString(platform::boardPath("/mnt/usb1/ZDR-K47"))).removeRecursively();
        QDir().mkpath(QString::fromStdString(platform::boardPath("/mnt/usb1/ZDR-K47")));
        putPackage("bad.ZDR", c.bytes);
        const uint64_t erases = flash(2).counters().erases;
        c331().clearFlashOps();
        runUpgrade();
        EXPECT_EQ(app(), oldApp());
        EXPECT_FALSE(staged());
        EXPECT_EQ(flash(2).counters().erases, erases);
        EXPECT_TRUE(c331().flashOps().empty());
        EXPECT_EQ(g_app_reset_flag.load(), 0);
        EXPECT_EQ(mgr().fpga_rst_pending[0].load(), 0);
        EXPECT_GE(mgr().upgrade_errors.load(), 1u);
        EXPECT_EQ(g_usb_grade.load(), 0u);
    }
}

TEST_F(UsbUpgradeTest, BitstreamThatWouldReachTheRecordsOfItsFlashIsRefused)
{
    // Sparse packages: a bitstream entry one byte longer than 0x6C0000,
    // behind FPGA 0 (flash 2) and behind FPGA 1 (flash 3).
    for (unsigned char type : {7, 8}) {
        const int fpga = type == 7 ? 0 : 1;
        SCOPED_TRACE(fpga);
        std::vector<unsigned char> head = package({{type, bitstream({}, 0x6C0001)}});
        const uint32_t entryLen = 64 + 0x6C0001;
        setLe32(head.data(), 49 + 1, entryLen);
        putPackage("huge.ZDR", head);
        QFile f(QString::fromStdString(platform::boardPath("/mnt/usb1/ZDR-K47/huge.ZDR")));
        ASSERT_TRUE(f.resize(static_cast<qint64>(head.size()) + entryLen));
        const uint64_t erases = flash(2 + fpga).counters().erases;
        runUpgrade();
        EXPECT_EQ(flash(2 + fpga).counters().erases, erases);
        EXPECT_EQ(fpga == 0 ? mgr().downing_txc1 : mgr().downing_txc2, 0);
        EXPECT_EQ(mgr().fpga_rst_pending[fpga].load(), 0);
        EXPECT_GE(mgr().upgrade_errors.load(), 1u);
    }
}

// --- failures while installing are reported, never claimed -----------------

TEST_F(UsbUpgradeTest, StuckFlashIsReportedAndTheFpgaNotReset)
{
    BoardClockSpeed fast(200);   // the flash's busy bounds pass quickly
    flash(2).setStuckBusy(true);
    putPackage("fpga0.ZDR", package({{7, bitstream(pattern(9000, 2), 9000)}}));
    runUpgrade();
    flash(2).setStuckBusy(false);
    EXPECT_EQ(mgr().downing_txc1, 0);
    EXPECT_EQ(mgr().fpga_rst_pending[0].load(), 0);
    EXPECT_GE(mgr().upgrade_errors.load(), 1u);
    EXPECT_FALSE(mgr().upgrade_error_text.isEmpty());
}

TEST_F(UsbUpgradeTest, StuckChipFlashIsReported)
{
    withChip();
    ParaWriteLock().status()[43] = 0;
    c331().setFlashStuck(true);
    putPackage("font.ZDR", package({{13, font(1, 32, 2000)}}));
    runUpgrade();
    c331().setFlashStuck(false);
    EXPECT_EQ(mgr().downing_osd, 0);
    EXPECT_GE(mgr().upgrade_errors.load(), 1u);
}

TEST_F(UsbUpgradeTest, ApplicationThatCannotBeStagedLeavesTheRunningOneAndNoReboot)
{
    // The staging name is taken by a folder: the image cannot be stored.
    QDir().mkpath(QString::fromStdString(platform::boardPath("/data/app/zdrK47N2")));
    putPackage("app.ZDR", package({{10, pattern(5000, 6)}}));
    runUpgrade();
    EXPECT_EQ(app(), oldApp());
    EXPECT_EQ(mgr().downing_mcu, 0);
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    EXPECT_GE(mgr().upgrade_errors.load(), 1u);
}

// --- an upgrade cut short: each FPGA keeps its old bitstream or gets the
// whole new one, and the result says which ---------------------------------

TEST_F(UsbUpgradeTest, UpgradeCutShortAtAnyStepLeavesEachFlashItsOldOrItsWholeNewBitstreamAndSaysWhich)
{
    BoardClockSpeed fast(200);   // the flash's busy bounds pass quickly
    withChip();
    fpga_manage::upgrade_sleep_ms = countingSleep;
    const std::vector<unsigned char> oldBits[2] = {pattern(49152, 21), pattern(49152, 22)};
    const std::vector<unsigned char> newBits[2] = {pattern(40000, 23), pattern(70000, 24)};
    // The ASCII font of height 32 (at 0 of the chip's flash) as well.
    const std::vector<unsigned char> oldFont = c331().flashRead(0, 8192);
    const std::vector<unsigned char> newFont = font(1, 32, 6000);
    ASSERT_NE(std::vector<unsigned char>(oldFont.begin(), oldFont.begin() + 6035), newFont);
    const std::vector<unsigned char> bytes =
        package({{7, bitstream(newBits[0], 40000)}, {8, bitstream(newBits[1], 70000)}, {13, newFont}});
    const std::string file = platform::boardPath("/mnt/usb1/ZDR-K47/fpga.ZDR");
    const QString folder = QString::fromStdString(platform::boardPath("/mnt/usb1/ZDR-K47"));
    struct Fault {
        const char* what;
        std::function<void()> cut;
        bool flashFails;
        bool powerCut = false;   // the program stops there and starts again
    };
    const Fault faults[] = {
        {"power cut", [] { throw PowerCut(); }, false, true},
        {"disk pulled", [&] { QDir(folder).removeRecursively(); }, false},
        {"package cut short in the first bitstream", [&] { ASSERT_EQ(::truncate(file.c_str(), 20000), 0); },
         false},
        {"package cut short in the second bitstream",
         [&] { ASSERT_EQ(::truncate(file.c_str(), off_t(bytes.size() - 100)), 0); }, false},
        {"flash of FPGA 0 stays busy", [&] { flash(2).setStuckBusy(true); }, true},
        {"flash of FPGA 1 stays busy", [&] { flash(3).setStuckBusy(true); }, true},
        {"both flashes stay busy",
         [&] {
             flash(2).setStuckBusy(true);
             flash(3).setStuckBusy(true);
         },
         true},
        {"the chip's flash stays busy", [&] { c331().setFlashStuck(true); }, true},
    };
    auto fresh = [&] {
        for (int f = 0; f < 2; ++f) {
            flash(2 + f).setStuckBusy(false);
            flash(2 + f).poke(0, std::vector<unsigned char>(0x20000, 0xFF));
            flash(2 + f).poke(0, oldBits[f]);
            mgr().fpga_rst_pending[f] = 0;
        }
        c331().setFlashStuck(false);
        c331().flashErase(0, 0x8000);
        c331().flashWrite(0, oldFont);
        ParaWriteLock().status()[43] = 0;
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        putPackage("fpga.ZDR", bytes);
        for (const char* mark : {"/data/configs/fpga0_flash_writing", "/data/configs/fpga1_flash_writing"})
            std::remove(platform::boardPath(mark).c_str());
        std::remove(hostPath("/data/velmokq/log/prqEnglneLog").c_str());
        g_pauses = 0;
    };

    // The steps of a whole upgrade.
    fresh();
    g_cut = nullptr;
    runUpgrade();
    const int steps = g_pauses;
    ASSERT_GE(steps, 10);
    for (int f = 0; f < 2; ++f) {
        EXPECT_EQ(flash(2 + f).peek(0, uint32_t(newBits[f].size())), newBits[f]);
        EXPECT_EQ(mgr().upgrade_flash[f].load(), fpga_manage::kFlashNewWritten);
    }
    EXPECT_EQ(c331().flashRead(0, uint32_t(newFont.size())), newFont);
    EXPECT_EQ(mgr().upgrade_errors.load(), 0u);

    for (const Fault& fault : faults) {
        for (int cut = 1; cut <= steps; ++cut) {
            SCOPED_TRACE(std::string(fault.what) + " at step " + std::to_string(cut));
            fresh();
            g_cut = fault.cut;
            g_cutAt = cut;
            try {
                runUpgrade();
            } catch (const PowerCut&) {
                g_usb_grade = 0;
                g_update_flag = 0;
                fpga_manage::createForTest(false);   // the next start
            }
            g_cut = nullptr;
            flash(2).setStuckBusy(false);
            flash(3).setStuckBusy(false);
            c331().setFlashStuck(false);
            const bool fontOld = c331().flashRead(0, uint32_t(oldFont.size())) == oldFont;
            const bool fontNew = c331().flashRead(0, uint32_t(newFont.size())) == newFont;
            if (!fault.flashFails && !fault.powerCut) {
                EXPECT_TRUE(fontOld || fontNew) << "the font area lost its font";
            }
            bool allNew = fontNew;
            for (int f = 0; f < 2; ++f) {
                SCOPED_TRACE(f);
                const bool isOld = flash(2 + f).peek(0, uint32_t(oldBits[f].size())) == oldBits[f];
                const bool isNew = flash(2 + f).peek(0, uint32_t(newBits[f].size())) == newBits[f];
                const unsigned char said = mgr().upgrade_flash[f].load();
                allNew = allNew && isNew;
                if (!fault.flashFails && !fault.powerCut) {
                    EXPECT_TRUE(isOld || isNew) << "the flash lost its bitstream";
                }
                if (fault.powerCut) {
                    // Only a flash without a whole bitstream is named at
                    // the next start, on the page and in the log.
                    const bool blank = !isOld && !isNew;
                    EXPECT_EQ(said, blank ? fpga_manage::kFlashBlank : fpga_manage::kFlashNotTried) << int(said);
                    const std::string named = "FPGA " + std::to_string(f) + ": flash blank, upgrade again";
                    EXPECT_EQ(readFile(hostPath("/data/velmokq/log/prqEnglneLog")).find(named) != std::string::npos,
                              blank);
                    EXPECT_EQ(mgr().fpga_rst_pending[f].load(), 0);
                    continue;
                }
                if (isNew) {
                    EXPECT_EQ(said, fpga_manage::kFlashNewWritten);
                } else if (isOld) {
                    EXPECT_TRUE(said == fpga_manage::kFlashOldKept || said == fpga_manage::kFlashNotTried)
                        << int(said);
                } else {
                    EXPECT_EQ(said, fpga_manage::kFlashBlank) << "a flash without a whole bitstream not said";
                }
                // An FPGA is reset only onto a whole new bitstream.
                EXPECT_EQ(mgr().fpga_rst_pending[f].load(), isNew ? 1 : 0);
            }
            if (!fault.powerCut) {
                EXPECT_EQ(mgr().upgrade_errors.load() == 0, allNew) << "the end does not say what was done";
            }
        }
    }
}

TEST_F(UsbUpgradeTest, FlashAtTheSlowestTimesItsDataSheetAllowsCompletesTheUpgrade)
{
    // A part within its data sheet: a page program up to 5 ms, an erase up
    // to 0.8 s (4 KiB), 1.6 s (32 KiB), 3 s (64 KiB).
    BoardClockSpeed fast(200);
    for (int chip : {2, 3})
        flash(chip).setTimes({5000, 800000, 1600000, 3000000});
    const std::vector<unsigned char> bits = pattern(40000, 31);   // a 32 KiB block and two sectors
    putPackage("fpga0.ZDR", package({{7, bitstream(bits, 40000)}}));
    runUpgrade();
    EXPECT_EQ(mgr().upgrade_errors.load(), 0u) << mgr().upgrade_error_text.toStdString();
    EXPECT_EQ(mgr().downing_txc1, 1);
    EXPECT_EQ(flash(2).peek(0, 40000), bits);
    EXPECT_EQ(mgr().fpga_rst_pending[0].load(), 1);
    // Each erase unit directly, on the other flash.
    for (unsigned char kind : {0, 1, 2}) {
        SCOPED_TRACE(int(kind));
        flash(3).poke(0x100000, {0x00});
        EXPECT_EQ(mgr().drv->FPGA_SPI_FLASH_VBYONE_ERASE(3, 0x100, kind, 1), 1);
        EXPECT_EQ(flash(3).peek(0x100000, 1)[0], 0xFF);
    }
}

TEST_F(UsbUpgradeTest, UpgradeRunsOnTheFpgaThreadInPlaceOfItsPass)
{
    putPackage("app.ZDR", package({{10, pattern(1000, 7)}}));
    fpga_manage::destroyForTest();
    fpga_manage::createForTest(true);
    ASSERT_TRUE(fpga_start_usb_upgrade());
    EXPECT_FALSE(fpga_start_usb_upgrade());   // one upgrade at a time
    g_fpga_c331_start = 1;   // the chip is up: the thread starts its passes
    EXPECT_TRUE(waitFor([] { return g_usb_grade.load() == 0; }, 10000));
    EXPECT_EQ(app(), pattern(1000, 7));
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

} // namespace
