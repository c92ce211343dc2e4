// The parameter block, its file and the user-mode slots.
#include "support/store_fixture.h"
#include "support/wait_for.h"

#include "core/brightness_acts.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>
#include <type_traits>
#include <utility>

namespace {

uint16_t imageWord(const DefaultParaImage& image, int blockOffset)
{
    return le16(image.data(), blockOffset - kDefaultImageShift);
}

} // namespace

TEST(DefaultParaImage, HoldsTheFactoryDefaultsLaidOutAsTheFile)
{
    const DefaultParaImage& image = defaultParaImage();
    EXPECT_EQ(image[0], 0xAA);
    EXPECT_EQ(image[1], 0xAA);
    EXPECT_EQ(imageWord(image, para::kUnused770), 100);
    EXPECT_EQ(imageWord(image, para::edid(3)), 1920);
    EXPECT_EQ(imageWord(image, para::edid(4)), 3840);
    EXPECT_EQ(imageWord(image, para::edid(5) + 2), 2160);
    EXPECT_EQ(imageWord(image, para::edid(5) + 4), 60);
    EXPECT_EQ(imageWord(image, para::kSpliceMode), 4);
    EXPECT_EQ(imageWord(image, para::kLedWidth), 1920);
    EXPECT_EQ(imageWord(image, para::kLedHeight), 1080);
    EXPECT_EQ(imageWord(image, para::kPanelResult + 4), 1);
    EXPECT_EQ(imageWord(image, para::kPanelResult + 8), 1920);
    EXPECT_EQ(imageWord(image, para::kOut2 + 6), 1080);
    EXPECT_EQ(imageWord(image, para::crop(39)), 2);
    EXPECT_EQ(imageWord(image, para::crop(39) + 6), 1920);
    EXPECT_EQ(imageWord(image, 2092 + 6), 0);
    EXPECT_EQ(imageWord(image, 2102 + 6), 1920);
    // The picture defaults sit at image bytes 1410 to 1425.
    const uint16_t picture[8] = {100, 50, 10, 50, 2, 64, 64, 64};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(le16(image.data(), 1410 + 2 * i), picture[i]) << i;
    EXPECT_EQ(imageWord(image, para::kLayerPriority + 2 * 15), 15);
    EXPECT_EQ(imageWord(image, para::kUnused2270), 1);
    const uint16_t inputs[6] = {2, 5, 3, 4, 1, 0};
    for (int l = 0; l < 6; ++l) {
        EXPECT_EQ(imageWord(image, para::layer(l)), l == 0 ? 1 : 0);
        EXPECT_EQ(imageWord(image, para::layer(l) + para::kLayerInput), inputs[l]);
        EXPECT_EQ(imageWord(image, para::layer(l) + para::kLayerW), 1920);
    }
    EXPECT_EQ(imageWord(image, para::layer(6) + para::kLayerW), 0);
    for (size_t j = 3330; j < image.size(); ++j)
        ASSERT_EQ(image[j], 0) << j;
}

using ParaStore = StoreTest;

TEST_F(ParaStore, StartClearsRunStateAndTakesTheLanguage)
{
    std::vector<unsigned char> file = defaultFile();
    auto at = [&](int blockOffset) { return file.data() + blockOffset - kDefaultImageShift; };
    *at(para::kLanguage) = 2;
    *at(para::kTestPattern) = 5;
    setLe16(at(para::kCurrentMode), 0, 3);
    setLe16(at(para::kModeSaveRequest), 0, 0x0504);
    setLe16(at(para::kBlackout), 0, 1);
    setLe16(at(para::kLayerFade + 4 * 7), 0, 0x1234);
    writeParaFile(file);

    ZdrRamPara* p = load();
    EXPECT_EQ(g_language, 2);
    EXPECT_EQ(p->ram_para[para::kTestPattern], 0);
    EXPECT_EQ(le16(p->ram_para, para::kCurrentMode), 0);
    EXPECT_EQ(le16(p->ram_para, para::kModeSaveRequest), 0) << "a save request left in the file is not taken";
    EXPECT_EQ(le16(p->ram_para, para::kBlackout), 0);
    EXPECT_EQ(le16(p->ram_para, para::kLayerFade + 4 * 7), 0x123C);
    EXPECT_EQ(le16(p->ram_para, para::kLayerFade + 4 * 15 + 2), 60);
    EXPECT_EQ(std::memcmp(p->ram_para, p->ram_para_shadow, 4096), 0);
    EXPECT_EQ(p->run_status[37], 0x80);
    EXPECT_EQ(p->run_status[38], 0x1F);
    EXPECT_EQ(p->run_status[39], 0x06);
    EXPECT_EQ(p->run_status[40], 0);
}

TEST_F(ParaStore, ShortParameterFileKeepsDefaultsForTheMissingTail)
{
    // A file that ends well before the screen size.
    std::vector<unsigned char> zeros(200, 0);
    zeros[0] = zeros[1] = 0xAA;
    zeros[2] = 1;
    writeParaFile(zeros);

    ZdrRamPara* p = load();
    EXPECT_EQ(p->ram_para[para::kLanguage], 1);
    EXPECT_EQ(le16(p->ram_para, para::kLedWidth), 1920);
    EXPECT_EQ(le16(p->ram_para, para::kLedHeight), 1080);
    EXPECT_EQ(le16(p->ram_para, para::layer(0) + para::kLayerW), 1920);
    // What the file does hold is taken from it (zeros where it has zeros).
    EXPECT_EQ(le16(p->ram_para, para::kUnused770), 0);
}

TEST_F(ParaStore, MissingParameterFileLeavesTheBlockEmpty)
{
    ZdrRamPara* p = load();
    EXPECT_EQ(le16(p->ram_para, para::kLedWidth), 0);
}

TEST_F(ParaStore, PcWritesAreBoundedByTheBlockAndTheSlot)
{
    writeParaFile(defaultFile());
    ZdrRamPara* p = load();
    unsigned char data[128];
    std::memset(data, 0x5A, sizeof(data));
    EXPECT_EQ(p->ZdrRamParaDeal(data, 96, 4000), 0);
    EXPECT_EQ(p->ram_para[4095], 0x5A);
    ParaWriteLock().block()[3999] = 0;
    data[0] = 0x11;
    EXPECT_EQ(p->ZdrRamParaDeal(data, 97, 3999), 0);   // ends at 4095: fits
    EXPECT_EQ(p->ram_para[3999], 0x11);
    std::memset(ParaWriteLock().block() + 3900, 0, 196);
    EXPECT_EQ(p->ZdrRamParaDeal(data, 97, 4000), 1);
    EXPECT_EQ(p->ram_para[4000], 0);
    EXPECT_EQ(p->ZdrRamParaDeal(data, 1, 0xFFFFFFFFu), 1);
    EXPECT_EQ(p->ZdrRamParaDeal(data, 0, 4096), 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0) << "the PC raises the flag itself";

    EXPECT_EQ(p->ZdrModeUserRamParaDeal(data, 4, 0x0FFF), 1);
    EXPECT_EQ(p->ZdrModeUserRamParaDeal(data, 4, 0x11000), 1);
    EXPECT_EQ(p->ZdrModeUserRamParaDeal(data, 4, 0x100000 | 0x1000), 1);
    EXPECT_EQ(p->ZdrModeUserRamParaDeal(data, 2, 0x10FFF), 1);
    EXPECT_EQ(p->ZdrModeUserRamParaDeal(data, 4, 0x10000), 0);
    EXPECT_EQ(p->mode_user_para[15][0], 0x11);
    EXPECT_EQ(p->mode_user_para[15][3], 0x5A);
    EXPECT_EQ(p->ZdrModeUserRamParaDeal(data, 1, 0x1FFF), 0);
    EXPECT_EQ(p->mode_user_para[0][4095], 0x11);
    EXPECT_EQ(p->mode_user_para[0][4096], 0) << "slot bytes 4096 and 4097 are never written";
}

TEST_F(ParaStore, UserModeFilesLoadAndDelete)
{
    std::string full(4096, '\x07');
    full[0] = full[1] = '\xAA';
    writeFile(hostPath("/data/modes/custom_mode3"), full);
    writeFile(hostPath("/data/modes/custom_mode16"), std::string("\xAA\xAA\x01\x02", 4));

    ZdrRamPara* p = load();
    EXPECT_EQ(p->ZdrUserModeSaved(2), 1);
    EXPECT_EQ(p->mode_user_para[2][4095], 0x07);
    EXPECT_EQ(p->ZdrUserModeSaved(15), 1) << "a short file still counts as loaded";
    EXPECT_EQ(p->mode_user_para[15][3], 0x02);
    EXPECT_EQ(p->mode_user_para[15][4], 0x00);
    EXPECT_EQ(p->mode_user_para[0][0], 0xFF);
    EXPECT_EQ(p->mode_user_para[0][1], 0xFF);
    EXPECT_EQ(p->ZdrUserModeSaved(0), 0);

    // Deleting a mode saved with the OSD on removes its menu copy too.
    const int osdOn = para::kOsdOn - para::kModeStart + 2;
    setLe16(ParaWriteLock().slot(2), osdOn, 1);
    writeFile(hostPath("/data/modes/MO03.json"), "{}");
    writeFile(hostPath("/data/modes/MO10.json"), "{}");
    EXPECT_EQ(p->mode_file_deal(2, ZdrRamPara::kModeFileDelete), 0);
    EXPECT_FALSE(exists(hostPath("/data/modes/custom_mode3")));
    EXPECT_FALSE(exists(hostPath("/data/modes/MO03.json")));
    EXPECT_EQ(le16(p->mode_user_para[2], osdOn), 0);
    EXPECT_EQ(p->ZdrUserModeSaved(2), 0);
    // With the OSD off the menu copy stays.
    EXPECT_EQ(p->mode_file_deal(15, ZdrRamPara::kModeFileDelete), 0);
    EXPECT_FALSE(exists(hostPath("/data/modes/custom_mode16")));
    EXPECT_TRUE(exists(hostPath("/data/modes/MO10.json")));

    // The slot is written under the mutex the PC's writes and the pages
    // hold: a load that finds no file marks the slot empty only once a
    // store in progress is done.
    ParaWriteLock().slot(4)[0] = ParaWriteLock().slot(4)[1] = 0xAA;
    C331ParaLock::acquire();
    std::atomic<bool> done{false};
    std::thread loader([&] {
        p->mode_file_deal(4, ZdrRamPara::kModeFileLoad);
        done = true;
    });
    const bool early = waitFor([&] { return done.load(); }, 300);
    const unsigned char seen = p->mode_user_para[4][0];
    C331ParaLock::release();
    loader.join();
    EXPECT_FALSE(early) << "the slot was marked while a store held the mutex";
    EXPECT_EQ(seen, 0xAA);
    EXPECT_EQ(p->mode_user_para[4][0], 0xFF);
    EXPECT_EQ(p->mode_user_para[4][1], 0xFF);
}

TEST_F(ParaStore, ModeIndexSearches)
{
    ZdrRamPara* p = load();
    ParaWriteLock().block()[para::kCurrentMode] = 17;
    EXPECT_EQ(p->ZdrGetCurrentModeIndex(), 0);
    ParaWriteLock().block()[para::kCurrentMode] = 16;
    EXPECT_EQ(p->ZdrGetCurrentModeIndex(), 16);

    EXPECT_EQ(p->ZdrUserModeIndex(3, 1), 0x100);
    ParaWriteLock().slot(15)[0] = ParaWriteLock().slot(15)[1] = 0xAA;
    EXPECT_EQ(p->ZdrUserModeIndex(15, 1), 15);
    ParaWriteLock().slot(1)[0] = ParaWriteLock().slot(1)[1] = 0xAA;
    ParaWriteLock().slot(5)[0] = ParaWriteLock().slot(5)[1] = 0xAA;
    EXPECT_EQ(p->ZdrUserModeIndex(3, 0), 1);
    EXPECT_EQ(p->ZdrUserModeIndex(1, 0), 15);
    EXPECT_EQ(p->ZdrUserModeIndex(3, 1), 5);
    EXPECT_EQ(p->ZdrUserModeIndex(5, 2), 5);
    EXPECT_EQ(p->ZdrUserModeIndex(6, 2), 15);
    EXPECT_EQ(p->ZdrUserModeIndex(3, 3), 0x100);
    EXPECT_EQ(p->ZdrUserModeIndex(16, 2), 0x100);
}

TEST_F(ParaStore, ImageSourceOfABlockAndOfAUserModeImage)
{
    writeParaFile(defaultFile());
    ZdrRamPara* p = load();
    short isCrop = -1;
    char crop = -1;
    EXPECT_EQ(p->ZdrGetImageSource(p->ram_para, 1, &isCrop, &crop, 0), 5);
    EXPECT_EQ(isCrop, 0);

    setLe16(ParaWriteLock().block(), para::layer(2) + para::kLayerInput, 0x8007);
    setLe16(ParaWriteLock().block(), para::crop(7), 0x8204);
    EXPECT_EQ(p->ZdrGetImageSource(p->ram_para, 2, &isCrop, &crop, 0), 4);
    EXPECT_EQ(isCrop, 1);
    EXPECT_EQ(crop, 7);

    unsigned char* image = test_store::unguarded_slot(4) + 2;
    setLe16(image, para::layer(0) + para::kLayerInput - 896, 0x8003);
    image[576 + 30] = 3;
    EXPECT_EQ(p->ZdrGetImageSource(image, 0, &isCrop, &crop, 1), 3);
    EXPECT_EQ(crop, 3);
}

TEST_F(ParaStore, EdidAndLanguage)
{
    writeParaFile(defaultFile());
    ZdrRamPara* p = load();
    p->ZdrSetEDIDPara(5, 1280, 720, 50);
    EXPECT_EQ(le16(p->ram_para, para::edid(5)), 1280);
    EXPECT_EQ(le16(p->ram_para, para::edid(5) + 4), 50);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);

    c331_manage::para_change_flag = 0;
    unsigned char before[4096];
    std::memcpy(before, p->ram_para, 4096);
    p->ZdrSetEDIDPara(6, 1, 1, 1);
    p->ZdrSetEDIDPara(-1, 1, 1, 1);
    EXPECT_EQ(std::memcmp(before, p->ram_para, 4096), 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);

    g_language = 0;
    EXPECT_EQ(p->ZdrLanguageChanged(), 0);
    ParaWriteLock().block()[para::kLanguage] = 3;
    EXPECT_EQ(p->ZdrLanguageChanged(), 1);
    EXPECT_EQ(g_language, 3);
    EXPECT_EQ(p->ram_para_shadow[para::kLanguage], 0) << "the shadow is left alone";
}

TEST_F(ParaStore, ResetWritesTheDefaultFile)
{
    writeParaFile(std::vector<unsigned char>(4096, 0));
    ZdrRamPara* p = load();
    p->ram_para_reset();
    EXPECT_EQ(fileBytes("/data/ram_device_info"), defaultFile());
    EXPECT_EQ(le16(p->ram_para, para::kLedWidth), 1920);
    EXPECT_EQ(le16(p->ram_para_shadow, para::kLedWidth), 1920);
}

TEST_F(ParaStore, ARefreshThatAsksForAnotherDoesNotDeadlock)
{
    ZdrRamPara* p = load();
    std::vector<int> codes;
    QObject receiver;
    QObject::connect(p, &ZdrRamPara::sig_update_para, &receiver, [&](int code) {
        codes.push_back(code);
        if (code == 2)
            p->ram_para_save();     // emits code 1 from inside the refresh
    });
    EXPECT_EQ(p->test_signal(2), 1);
    EXPECT_EQ(codes, std::vector<int>({2, 1}));
    // The mutex is free again for other threads.
    EXPECT_TRUE(Utils::_test_signal_mutex.tryLock());
    Utils::_test_signal_mutex.unlock();
}

TEST_F(ParaStore, ModeMenuFileNamesAreLowerCaseHex)
{
    ZdrRamPara* p = load();
    const int osdOn = para::kOsdOn - para::kModeStart + 2;
    setLe16(ParaWriteLock().slot(9), osdOn, 1);
    ParaWriteLock().slot(9)[0] = ParaWriteLock().slot(9)[1] = 0xAA;
    writeFile(hostPath("/data/modes/MO0a.json"), "{}");
    writeFile(hostPath("/data/modes/MO0A.json"), "{}");
    p->mode_file_deal(9, ZdrRamPara::kModeFileDelete);
    EXPECT_FALSE(exists(hostPath("/data/modes/MO0a.json")));
    EXPECT_TRUE(exists(hostPath("/data/modes/MO0A.json")));
}

// The store's bytes are read through const views: a write that does not
// go through a held ParaWriteLock does not compile. The lock hands out the
// bytes of the store the views show, the last byte of each area included.
template <typename T>
constexpr bool kReadOnly = std::is_const<std::remove_reference_t<T>>::value;

TEST_F(ParaStore, ItsBytesAreWritableOnlyThroughAHeldWriteLock)
{
    static_assert(kReadOnly<decltype(std::declval<ZdrRamPara&>().ram_para[0])>,
                  "the block is written without the write lock");
    static_assert(kReadOnly<decltype(std::declval<ZdrRamPara&>().mode_user_para[0][0])>,
                  "a user-mode slot is written without the write lock");
    static_assert(kReadOnly<decltype(std::declval<ZdrRamPara&>().run_status[0])>,
                  "the register image is written without the write lock");
    static_assert(!kReadOnly<decltype(std::declval<ParaWriteLock&>().block()[0])>, "the lock writes");
    ZdrRamPara* p = load();
    {
        ParaWriteLock lock;
        EXPECT_TRUE(C331ParaLock::held());
        EXPECT_TRUE(ParaBytesLock::held());
        lock.block()[4095] = 0x5A;
        lock.slot(15)[4097] = 0x6B;
        lock.status()[1063] = 0x7C;
    }
    EXPECT_FALSE(C331ParaLock::held());
    EXPECT_FALSE(ParaBytesLock::held());
    EXPECT_EQ(p->ram_para[4095], 0x5A);
    EXPECT_EQ(p->block_byte(4095), 0x5A);
    EXPECT_EQ(p->mode_user_para[15][4097], 0x6B);
    EXPECT_EQ(p->run_status[1063], 0x7C);
    EXPECT_EQ(sizeof(p->ram_para), 4096u);
    EXPECT_EQ(sizeof(p->mode_user_para), 16u * 4098u);
    EXPECT_EQ(sizeof(p->run_status), 1064u);
}

// The store's short lock is a leaf. In the lock-check builds (the sanitizer
// builds) a lock taken while a writer holds it ends the program, naming the
// lock: a Utils mutex (here through its helper and through QMutexLocker) or
// the c331 manage mutex. A write lock inside a write lock takes nothing new
// and is not caught. Without the checks there is nothing to see.
TEST(ParaStoreLocks, ALockTakenWhileTheShortLockIsHeldEndsTheProgramInTheLockCheckBuilds)
{
    if (!lock_check::kOn)
        GTEST_SKIP() << "lock checks are compiled in the sanitizer builds (ZDR_LOCK_CHECKS)";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* const kQMutex = "a QMutex taken while the parameter store's short lock is held";
    EXPECT_DEATH(
        {
            ParaWriteLock lock;
            QMutexLocker spi(&Utils::_spi_mutex);
        },
        kQMutex);
    EXPECT_DEATH(
        {
            ParaWriteLock lock;
            Utils::usleep_mutex(1);
        },
        kQMutex);
    EXPECT_DEATH(
        {
            ParaWriteLock lock;
            if (C331ParaLock::try_acquire())
                C331ParaLock::release();
        },
        "the c331 manage mutex taken while the parameter store's short lock is held");

    {
        ParaWriteLock outer;
        ParaWriteLock inner;
        EXPECT_TRUE(C331ParaLock::held());
        EXPECT_TRUE(ParaBytesLock::held());
    }
    EXPECT_FALSE(C331ParaLock::held());
    EXPECT_FALSE(ParaBytesLock::held());
    QMutexLocker spi(&Utils::_spi_mutex);   // after the write: nothing to catch
}

namespace {

// Whether a lock offers a call that makes its write the system's, and
// whether a system write offers a pointer into the block.
template <class T, class = void> struct HasNotAnAct : std::false_type {};
template <class T>
struct HasNotAnAct<T, std::void_t<decltype(std::declval<T&>().not_an_act())>> : std::true_type {};
template <class T, class = void> struct HasBlock : std::false_type {};
template <class T> struct HasBlock<T, std::void_t<decltype(std::declval<T&>().block())>> : std::true_type {};

// Hears the acts on the black-out word as the screen's unit would.
struct HeardActs : BlackoutWordListener {
    std::vector<std::string> heard;
    void word_written(bool dark) override { heard.push_back(dark ? "written dark" : "written lit"); }
    void word_applied(bool dark) override { heard.push_back(dark ? "applied dark" : "applied lit"); }
};

} // namespace

// A user's write and the system's are two kinds, chosen by the type: no
// call left out makes one the other. The store tells the unit its
// listener is, without knowing the screen: a user's write of word 2116
// through the block's pointer is an act whatever the caller does, the
// system's write is none, a RAM write is told when the PC's flag applies
// it.
// The system's write-back is made in a hold of its own, of its own words
// only (SystemWord, by type); taken inside a user's hold (whose act it
// would be counted in) or a reader's, the program names it and ends.
TEST_F(ParaStore, ASystemWriteInsideAUsersHoldEndsTheProgram)
{
    writeParaFile(defaultFile());
    load();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* const kInside = "the system's write-back taken inside a user's hold";
    EXPECT_DEATH(
        {
            ParaWriteLock user;
            SystemWriteLock().write_word(SystemWord::kBrightness, 39);
        },
        kInside);
    EXPECT_DEATH(
        {
            ParaWriteLock user;
            c331_manage::write_back_word(SystemWord::kBlackout, 0, true);
        },
        kInside);
    SystemWriteLock().write_word(SystemWord::kBrightness, 39);
    EXPECT_EQ(ZdrRamPara::p_zdrrampara_config->block_word(2176), 39) << "alone, it writes";
}

TEST_F(ParaStore, ASystemWriteAndAUsersWriteAreKindsTheStoreTellsTheScreensUnit)
{
    EXPECT_FALSE(HasNotAnAct<ParaWriteLock>::value) << "a user's write can be made the system's by a call";
    EXPECT_FALSE(HasBlock<SystemWriteLock>::value) << "a system write hands out the block";
    writeParaFile(defaultFile());
    ZdrRamPara* p = load();
    HeardActs acts;
    ZdrRamPara::set_blackout_listener(&acts);
    const uint64_t percentAct = BrightnessActs::pInstance()->last_percent_act().seq;
    const struct {
        const char* name;
        std::function<void()> write;
        std::vector<std::string> heard;
    } rows[] = {
        {"a user's write through the block", [] { setLe16(ParaWriteLock().block(), 2116, 1); }, {"written dark"}},
        {"the system's write", [] { SystemWriteLock().write_word(SystemWord::kBlackout, 0); }, {}},
        {"the system's write of the percent", [] { SystemWriteLock().write_word(SystemWord::kBrightness, 39); }, {}},
        {"a RAM write", [&] { unsigned char one[2] = {1, 0}; p->ZdrRamParaDeal(one, 2, 2116); }, {}},
        {"the PC's flag", [&] { C331ParaLock hold; p->pc_flag_applies(); }, {"applied dark"}},
        {"the PC's flag again", [&] { C331ParaLock hold; p->pc_flag_applies(); }, {}},
    };
    for (const auto& row : rows) {
        acts.heard.clear();
        row.write();
        EXPECT_EQ(acts.heard, row.heard) << row.name;
    }
    EXPECT_EQ(BrightnessActs::pInstance()->last_percent_act().seq, percentAct) << "the system's percent is no brightness act";
    ZdrRamPara::set_blackout_listener(nullptr);
}
