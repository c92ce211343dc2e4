// The GUI-thread refresh: tips by page, pending user-mode saves, the user
// mode files a flag 2 took, and persistence of the block.
#include "support/store_fixture.h"

#include "core/atomic_file.h"
#include "core/le_bytes.h"
#include "core/mode_saves.h"
#include "core/para_layout.h"
#include "core/syncupdate.h"
#include "sim/board.h"
#include "sim/shell_model.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <cstring>
#include <thread>

TEST(SyncUpdateTips, FollowThePageInFocus)
{
    EXPECT_EQ(SyncUpdate::tip_for(0, 1, false), 0);
    EXPECT_EQ(SyncUpdate::tip_for(1, 1, false), 0);
    EXPECT_EQ(SyncUpdate::tip_for(1, 1, true), 1);
    EXPECT_EQ(SyncUpdate::tip_for(4, 1, false), 1);
    EXPECT_EQ(SyncUpdate::tip_for(9, 2, false), 1);
    EXPECT_EQ(SyncUpdate::tip_for(10, 100, false), 3);
    EXPECT_EQ(SyncUpdate::tip_for(10, 102, false), 5);
    EXPECT_EQ(SyncUpdate::tip_for(10, 104, false), 0);
    EXPECT_EQ(SyncUpdate::tip_for(10, 11, false), 1);
    EXPECT_EQ(SyncUpdate::tip_for(24, 101, false), 4);
    EXPECT_EQ(SyncUpdate::tip_for(24, 1, false), 0);
    EXPECT_EQ(SyncUpdate::tip_for(16, 100, false), 0);
    EXPECT_EQ(SyncUpdate::tip_for(11, 1, false), 0);
}

namespace {

class Persist : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        std::vector<unsigned char> file = defaultFile();
        file[4095] = 0x77;      // bytes after the block are kept as they are
        writeParaFile(file);
        p = load();
        sync = SyncUpdate::pInstance();
        g_mainwindow = new MainWindow();
        g_lockwindow = new LockWindow();
        g_page_focus = 0;
        shell().clearLog();
    }
    void TearDown() override
    {
        SyncUpdate::mode_files_listed_hook = nullptr;
        delete g_mainwindow;
        delete g_lockwindow;
        g_mainwindow = nullptr;
        g_lockwindow = nullptr;
        g_page_focus = 0;
        StoreTest::TearDown();
    }
    static sim::ShellModel& shell() { return sim::Board::instance().shell(); }
    static int count(const std::string& command)
    {
        auto all = shell().commands();
        return static_cast<int>(std::count(all.begin(), all.end(), command));
    }
    // The PC's flag 2 (its files taken as it is raised) and the refresh
    // its pass brings.
    void flagTwo()
    {
        ParaWriteLock().raise(2);
        sync->para_sync(2);
    }
    ZdrRamPara* p = nullptr;
    SyncUpdate* sync = nullptr;
};

} // namespace

TEST_F(Persist, ABlockEqualToItsShadowIsNotWritten)
{
    const auto before = fileBytes("/data/ram_device_info");
    sync->para_sync(1);
    EXPECT_EQ(count("sync"), 0);
    EXPECT_EQ(fileBytes("/data/ram_device_info"), before);
}

TEST_F(Persist, AChangeIsWrittenWholeAndTheShadowFollows)
{
    setLe16(ParaWriteLock().block(), para::kLedWidth, 3840);
    ParaWriteLock().block()[300] = 9;       // outside the file: still refreshes the shadow
    sync->para_sync(1);
    const auto file = fileBytes("/data/ram_device_info");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(file[0], 0xAA);
    EXPECT_EQ(file[1], 0xAA);
    EXPECT_EQ(std::memcmp(file.data() + 2, p->ram_para + 768, 3328), 0);
    EXPECT_EQ(file[4095], 0x77);
    EXPECT_EQ(count("sync"), 1);
    EXPECT_EQ(std::memcmp(p->ram_para, p->ram_para_shadow, 4096), 0);
    EXPECT_FALSE(exists(hostPath("/data/ram_device_info.new")));

    // The file is read back as it was written.
    ZdrRamPara::destroyForTest();
    EXPECT_EQ(le16(ZdrRamPara::pInstance()->ram_para, para::kLedWidth), 3840);
}

TEST_F(Persist, AMissingFileIsNotCreatedButTheChangeIsNotRetried)
{
    std::remove(hostPath("/data/ram_device_info").c_str());
    ParaWriteLock().block()[2000] = 1;
    sync->para_sync(1);
    EXPECT_FALSE(exists(hostPath("/data/ram_device_info")));
    EXPECT_EQ(count("sync"), 1);
    EXPECT_EQ(p->ram_para_shadow[2000], 1);
}

TEST(AtomicFile, AFailedReplaceLeavesTheOldFile)
{
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/f";
    const unsigned char old[3] = {1, 2, 3};
    ASSERT_TRUE(writeFileAtomically(path, old, 3));
    // The temporary name is taken by a folder: the write cannot happen.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path + ".new")));
    const unsigned char fresh[2] = {9, 9};
    EXPECT_FALSE(writeFileAtomically(path, fresh, 2));
    std::vector<unsigned char> back;
    ASSERT_TRUE(readWholeFile(path, back));
    EXPECT_EQ(back, std::vector<unsigned char>({1, 2, 3}));
}

TEST_F(Persist, APendingSaveFillsTheSlotAndWritesItsFile)
{
    setLe16(ParaWriteLock().block(), para::kOsdOn, 1);
    writeFile(hostPath("/data/configs/omenu.json"), "{\"menu\":[]}");
    ParaWriteLock().block()[2500] = 0x42;
    setLe16(ParaWriteLock().block(), para::kModeSaveRequest, 3);
    sync->para_sync(1);

    const unsigned char* s = p->mode_user_para[2];
    EXPECT_EQ(s[0], 0xAA);
    EXPECT_EQ(s[1], 0xAA);
    EXPECT_EQ(s[2 + 2500 - 896], 0x42);
    EXPECT_EQ(le16(p->ram_para, para::kCurrentMode), 3);
    EXPECT_EQ(le16(p->ram_para, para::kModeSaveRequest), 0);
    const auto file = fileBytes("/data/modes/custom_mode3");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(std::memcmp(file.data(), s, 4096), 0);
    EXPECT_EQ(readFile(hostPath("/data/modes/MO03.json")), "{\"menu\":[]}");
    // Persisted with the request cleared and the mode current.
    const auto para = fileBytes("/data/ram_device_info");
    EXPECT_EQ(le16(para.data(), para::kCurrentMode - 766), 3);
}

TEST_F(Persist, ASaveRequestIsTakenOnceAndOneBeyondTheSlotsIsDropped)
{
    // Taken by the first refresh; the next one finds no request.
    setLe16(ParaWriteLock().block(), para::kModeSaveRequest, 2);
    ParaWriteLock().block()[2500] = 0x42;
    sync->para_sync(1);
    EXPECT_EQ(p->ZdrUserModeSaved(1), 1);
    ParaWriteLock().block()[2500] = 0x43;
    sync->para_sync(1);
    EXPECT_EQ(p->mode_user_para[1][2 + 2500 - 896], 0x42);
    EXPECT_EQ(fileBytes("/data/modes/custom_mode2").at(2 + 2500 - 896), 0x42);
    ParaWriteLock().slot(1)[0] = 0xFF;
    ParaWriteLock().slot(1)[1] = 0xFF;
    setLe16(ParaWriteLock().block(), para::kCurrentMode, 0);

    setLe16(ParaWriteLock().block(), para::kModeSaveRequest, 17);
    sync->para_sync(1);
    EXPECT_EQ(le16(p->ram_para, para::kModeSaveRequest), 0) << "a request beyond the slots is cleared";
    EXPECT_EQ(le16(p->ram_para, para::kCurrentMode), 0);
    for (int s = 0; s < 16; ++s)
        EXPECT_EQ(p->ZdrUserModeSaved(s), 0);
}

// A user-mode save, by the PC (its word 868 with no flag, taken by the
// refresh or the stop) or by the page's Save (taken at the tap), with
// another path storing the block before the refresh: the
// PC's stored brightness (which persists the block) or a stop. The slot
// is saved once, with what the block showed, and after a restart the
// page's Save of that slot saves it again.
TEST_F(Persist, ASaveRequestIsTakenOnceWhateverElseStoresTheBlockMeanwhile)
{
    struct Row {
        const char* what;
        bool byPage;
        bool stop;   // else a stored brightness
    };
    const Row rows[] = {
        {"PC, stored brightness", false, false},
        {"PC, stop", false, true},
        {"page, stored brightness", true, false},
        {"page, stop", true, true},
    };
    // A byte of the user-area image in the slot's file (-1 without one).
    auto fileByte = [&](int slot) {
        const auto file = fileBytes("/data/modes/custom_mode" + std::to_string(slot + 1));
        return file.size() == 4096u ? file[2 + 2500 - 896] : -1;
    };
    int slot = 4;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ++slot;
        ParaWriteLock().block()[2500] = static_cast<unsigned char>(slot);
        if (row.byPage) {
            g_mainwindow->busy = 0;
            g_mode_select = static_cast<unsigned char>(slot);
            g_mainwindow->on_Button_mode_save_clicked();
        } else {
            unsigned char word[2] = {static_cast<unsigned char>(slot + 1), 0};
            ASSERT_EQ(p->ZdrRamParaDeal(word, 2, para::kModeSaveRequest), 0);
        }
        if (row.stop) {
            sync->flush_on_stop();
            ZdrRamPara::destroyForTest();   // a restart
            p = load();
        } else {
            ASSERT_TRUE(p->persist_block(0));
            sync->para_sync(1);   // the refresh after the flag's pass
            sync->para_sync(1);   // and a later one
        }
        EXPECT_EQ(p->ZdrUserModeSaved(slot), 1);
        EXPECT_EQ(p->mode_user_para[slot][2 + 2500 - 896], slot);
        EXPECT_EQ(fileByte(slot), slot);
        EXPECT_EQ(le16(p->ram_para, para::kModeSaveRequest), 0);
        EXPECT_EQ(fileBlockBytes(para::kModeSaveRequest, 2), (std::vector<unsigned char>{0, 0}));
        EXPECT_EQ(fileBlockBytes(para::kCurrentMode, 2),
                  (std::vector<unsigned char>{static_cast<unsigned char>(slot + 1), 0}));

        // The page's later Save of that slot.
        ParaWriteLock().block()[2500] = 0x80;
        g_mainwindow->busy = 0;
        g_mode_select = static_cast<unsigned char>(slot);
        g_mainwindow->on_Button_mode_save_clicked();
        sync->para_sync(1);
        EXPECT_EQ(p->mode_user_para[slot][2 + 2500 - 896], 0x80);
        EXPECT_EQ(fileByte(slot), 0x80);
    }
}

TEST_F(Persist, CodeTwoRewritesSavedSlotsAndDeletesEmptyOnes)
{
    writeFile(hostPath("/data/modes/custom_mode1"), std::string(4096, '\x01'));
    writeFile(hostPath("/data/modes/custom_mode2"), std::string(4096, '\x02'));
    writeFile(hostPath("/data/modes/custom_mode3"), std::string(4096, '\x03'));
    ParaWriteLock().slot(0)[0] = 0xAA;     // rewritten: one 0xAA and no 0xFF
    ParaWriteLock().slot(0)[1] = 0x00;
    ParaWriteLock().slot(0)[100] = 0x55;
    ParaWriteLock().slot(1)[0] = 0xAA;     // deleted: an 0xFF marker byte
    ParaWriteLock().slot(1)[1] = 0xFF;
    ParaWriteLock().slot(2)[0] = 0x00;     // left alone
    ParaWriteLock().slot(2)[1] = 0x00;
    setLe16(ParaWriteLock().block(), para::kModeSaveRequest, 0);
    flagTwo();

    const auto one = fileBytes("/data/modes/custom_mode1");
    ASSERT_EQ(one.size(), 4096u);
    EXPECT_EQ(one[0], 0xAA);
    EXPECT_EQ(one[1], 0xAA);
    EXPECT_EQ(one[100], 0x55);
    EXPECT_FALSE(exists(hostPath("/data/modes/custom_mode2")));
    EXPECT_EQ(p->mode_user_para[1][0], 0xFF);
    EXPECT_EQ(fileBytes("/data/modes/custom_mode3"), std::vector<unsigned char>(4096, 3));
}

// A PC marks user mode 16 saved (AA AA) and raises flag 2, then empties it
// (FF FF) and raises flag 2 again. Whenever its second write lands against
// the first flag's rewrite (before the list of files, between the list and
// the files, after the files), the slot ends empty and its file gone; the
// marker is never set back over the PC's. The same for the other pair: a
// slot the PC fills while the refresh deletes its file keeps its marker and
// its file is written by the next flag 2. And a save request (block 868)
// for a slot the PC empties before the save's file is written.
TEST_F(Persist, ASlotThePcEmptiesOrFillsWhileARewriteRunsFollowsItsLastMarker)
{
    const std::string file16 = "/data/modes/custom_mode16";
    auto pcMarks = [this](unsigned char b) {
        unsigned char marker[2] = {b, b};
        ASSERT_EQ(p->ZdrModeUserRamParaDeal(marker, 2, 0x10000), 0);   // mode 16, offset 0
    };
    auto pcFills = [this](unsigned char b) {
        std::vector<unsigned char> image(4096, b);
        image[0] = image[1] = 0xAA;
        ASSERT_EQ(p->ZdrModeUserRamParaDeal(image.data(), 4096, 0x10000), 0);
    };
    enum When { kBeforeTheList, kBetweenTheListAndTheFiles, kAfterTheFiles };
    for (When when : {kBeforeTheList, kBetweenTheListAndTheFiles, kAfterTheFiles}) {
        SCOPED_TRACE(when);
        // Emptied against a rewrite.
        pcFills(0x16);
        if (when == kBeforeTheList)
            pcMarks(0xFF);
        if (when == kBetweenTheListAndTheFiles)
            SyncUpdate::mode_files_listed_hook = [&] { pcMarks(0xFF); };
        flagTwo();
        SyncUpdate::mode_files_listed_hook = nullptr;
        if (when != kAfterTheFiles) {
            EXPECT_EQ(p->mode_user_para[15][0], 0xFF) << "the PC's marker is kept";
            EXPECT_EQ(p->mode_user_para[15][1], 0xFF);
        }
        if (when == kAfterTheFiles)
            pcMarks(0xFF);
        flagTwo();   // the PC's second flag
        EXPECT_EQ(p->mode_user_para[15][0], 0xFF);
        EXPECT_EQ(p->mode_user_para[15][1], 0xFF);
        EXPECT_EQ(p->ZdrUserModeSaved(15), 0);
        EXPECT_FALSE(exists(hostPath(file16)));
        flagTwo();   // and it stays so
        EXPECT_EQ(p->ZdrUserModeSaved(15), 0);
        EXPECT_FALSE(exists(hostPath(file16)));

        // Filled against a delete.
        ASSERT_EQ(p->mode_user_para[15][0], 0xFF);
        if (when == kBeforeTheList)
            pcFills(0x61);
        if (when == kBetweenTheListAndTheFiles)
            SyncUpdate::mode_files_listed_hook = [&] { pcFills(0x61); };
        flagTwo();
        SyncUpdate::mode_files_listed_hook = nullptr;
        if (when != kAfterTheFiles) {
            EXPECT_EQ(p->ZdrUserModeSaved(15), 1) << "the PC's marker is kept";
            EXPECT_EQ(p->mode_user_para[15][100], 0x61);
        }
        if (when == kAfterTheFiles)
            pcFills(0x61);
        flagTwo();
        EXPECT_EQ(p->ZdrUserModeSaved(15), 1);
        const auto written = fileBytes(file16);
        ASSERT_EQ(written.size(), 4096u);
        EXPECT_EQ(written[0], 0xAA);
        EXPECT_EQ(written[1], 0xAA);
        EXPECT_EQ(written[100], 0x61);

        // Leave the slot empty for the next round.
        pcMarks(0xFF);
        flagTwo();
        ASSERT_FALSE(exists(hostPath(file16)));
    }

    // A save request for mode 16 (block 868), the slot emptied by the PC
    // before the save's file is written: the empty marker stands.
    setLe16(ParaWriteLock().block(), para::kModeSaveRequest, 16);
    SyncUpdate::mode_files_listed_hook = [&] { pcMarks(0xFF); };
    flagTwo();
    SyncUpdate::mode_files_listed_hook = nullptr;
    EXPECT_EQ(p->mode_user_para[15][0], 0xFF);
    EXPECT_EQ(p->mode_user_para[15][1], 0xFF);
    flagTwo();
    EXPECT_EQ(p->ZdrUserModeSaved(15), 0);
    EXPECT_FALSE(exists(hostPath(file16)));
}

// A later act on a slot replaces the one waiting there: a save of mode 3,
// its delete, a save of mode 3 again with another picture, carried out
// together, end at the last save, one act waiting; a PC raising flag 2
// again and again adds no act after the first for each slot.
TEST_F(Persist, ALaterActOnASlotReplacesTheOneWaitingAndARepeatedFlagTwoWaitsOnce)
{
    {
        ParaWriteLock lock;
        lock.block()[2500] = 0x31;
        ModeSaves::take_save(lock, 2);
        ASSERT_TRUE(ModeSaves::take_delete(lock, 2));
        lock.block()[2500] = 0x32;
        ModeSaves::take_save(lock, 2);
        lock.block()[2500] = 0x33;   // after the take: not the mode's
    }
    EXPECT_EQ(ModeSaves::waiting(), 1u) << "one act per slot";
    EXPECT_EQ(ModeSaves::carry_out(*p), 2);
    EXPECT_EQ(fileBytes("/data/modes/custom_mode3").at(2 + 2500 - 896), 0x32);

    for (int flag = 0; flag < 5; ++flag)
        ParaWriteLock().raise(2);
    EXPECT_EQ(ModeSaves::waiting(), 16u) << "one act per slot";
    ModeSaves::carry_out(*p);
    EXPECT_EQ(fileBytes("/data/modes/custom_mode3").at(2 + 2500 - 896), 0x32);
    EXPECT_EQ(ModeSaves::waiting(), 0u);
}

// Every sequence of three acts on mode 3 (a save with the OSD on or off, the
// page's delete, a flag 2), carried out after each act or once at the end
// (one act waiting for the slot): its file and its menu copy end the same.
TEST_F(Persist, ActsFoldedIntoOneASlotLeaveTheFilesAsEachCarriedOutInTurn)
{
    auto file = [&](const std::string& path) { return exists(hostPath(path)) ? readFile(hostPath(path)) : "none"; };
    auto run = [&](const std::string& acts, bool each) {
        writeFile(hostPath("/data/modes/custom_mode3"), std::string(4096, '\xAA'));
        writeFile(hostPath("/data/modes/MO03.json"), "old");
        writeFile(hostPath("/data/configs/omenu.json"), "menu");
        unsigned char picture = 1;
        {
            ParaWriteLock lock;
            std::memset(lock.slot(2), 0xAA, ZdrRamPara::kSlotSize);
            setLe16(lock.slot(2), para::kOsdOn - para::kModeStart + 2, 1);   // saved with the OSD on
        }
        for (char act : acts) {
            {
                ParaWriteLock lock;
                lock.block()[2500] = picture++;
                setLe16(lock.block(), para::kOsdOn, act == 'S' ? 1 : 0);
                if (act == 'S' || act == 's')
                    ModeSaves::take_save(lock, 2);
                else if (act == 'D')
                    ModeSaves::take_delete(lock, 2);
                else
                    lock.raise(2);
            }
            if (each)
                ModeSaves::carry_out(*p);
        }
        ModeSaves::carry_out(*p);
        return file("/data/modes/custom_mode3") + " | " + file("/data/modes/MO03.json");
    };
    const std::string kinds = "SsDR";
    for (char a : kinds)
        for (char b : kinds)
            for (char c : kinds) {
                const std::string acts{a, b, c};
                EXPECT_EQ(run(acts, false), run(acts, true)) << acts;
            }
}

TEST_F(Persist, TheHomePageTipIsShownOnceWhilePending)
{
    g_page_focus = 1;
    g_mainwindow->tip_flag = 1;
    sync->last_tip = 0;
    sync->para_sync(1);
    EXPECT_EQ(sync->last_tip, 1);
    EXPECT_EQ(g_mainwindow->tip_flag, 0);
    sync->last_tip = 0;
    sync->para_sync(1);
    EXPECT_EQ(sync->last_tip, 0);
}

// Changes raised from another thread faster than the GUI thread refreshes:
// one refresh is queued; it takes the latest block once, with code 2 if any
// change asked for it (the user-mode files are rewritten).
TEST_F(Persist, ChangesRaisedWhileARefreshIsQueuedAreServedByItOnce)
{
    writeFile(hostPath("/data/modes/custom_mode1"), std::string(4096, '\x01'));
    writeFile(hostPath("/data/modes/custom_mode2"), std::string(4096, '\x02'));
    ParaWriteLock().slot(0)[0] = 0xAA;
    ParaWriteLock().slot(0)[1] = 0x00;
    ParaWriteLock().slot(0)[100] = 0x55;
    setLe16(ParaWriteLock().block(), para::kModeSaveRequest, 0);
    const QMetaObject::Connection c =
        QObject::connect(p, &ZdrRamPara::sig_update_para, sync, &SyncUpdate::update_para, Qt::DirectConnection);
    std::thread chip([this] {
        for (int i = 1; i <= 50; ++i) {
            {
                ParaWriteLock lock;
                setLe16(lock.block(), 2182, static_cast<uint16_t>(i));
                lock.raise(i % 2 == 1 ? 2 : 1);
            }
            p->test_signal(i % 2 == 1 ? 2 : 1);
        }
    });
    chip.join();
    QCoreApplication::processEvents();
    auto stored = [this] {
        const auto file = fileBytes("/data/ram_device_info");
        return file.size() == 4096u ? le16(file.data(), 2 + 2182 - 768) : -1;
    };
    EXPECT_EQ(stored(), 50);
    EXPECT_EQ(fileBytes("/data/modes/custom_mode1")[100], 0x55) << "code 2 kept";
    EXPECT_EQ(count("rm  -rf  /data/modes/custom_mode2"), 1) << "one refresh with code 2";
    EXPECT_FALSE(exists(hostPath("/data/modes/custom_mode2")));

    // The next change queues a refresh of its own, with its own code.
    shell().clearLog();
    std::thread later([this] {
        {
            ParaWriteLock lock;
            setLe16(lock.block(), 2182, 51);
        }
        p->test_signal(1);
    });
    later.join();
    QCoreApplication::processEvents();
    QObject::disconnect(c);
    EXPECT_EQ(stored(), 51);
    EXPECT_EQ(count("sync"), 1);
    EXPECT_EQ(count("rm  -rf  /data/modes/custom_mode2"), 0);
}
