// A store made while the parameter file is being written must reach the
// file on the next refresh: the shadow copy records what was written, not
// what the block holds when the write is over.
#include "support/store_fixture.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/syncupdate.h"
#include "sim/board.h"
#include "sim/shell_model.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

class PersistRace : public StoreTest {};

TEST_F(PersistRace, AStoreDuringTheWriteIsWrittenByTheNextRefresh)
{
    writeParaFile(defaultFile());
    ZdrRamPara* p = load();
    g_page_focus = 0;
    sim::ShellModel& shell = sim::Board::instance().shell();
    shell.clearLog();

    setLe16(ParaWriteLock().block(), para::kContrast, 30);
    std::thread gui([] { SyncUpdate::pInstance()->para_sync(1); });
    // The refresh runs "sync" right after writing the file and then waits:
    // the page's store lands in that wait.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        const auto all = shell.commands();
        if (std::count(all.begin(), all.end(), "sync") > 0 || std::chrono::steady_clock::now() > until)
            break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    {
        ParaWriteLock lock;
        setLe16(lock.block(), para::kSaturation, 80);
    }
    gui.join();
    EXPECT_EQ(le16(p->ram_para_shadow, para::kContrast), 30);

    // The refresh that follows the store writes it.
    SyncUpdate::pInstance()->para_sync(1);
    const auto file = fileBytes("/data/ram_device_info");
    ASSERT_GE(file.size(), 2u + para::kPersistSize);
    EXPECT_EQ(le16(file.data(), 2 + para::kContrast - para::kPersistStart), 30);
    EXPECT_EQ(le16(file.data(), 2 + para::kSaturation - para::kPersistStart), 80);
    EXPECT_EQ(le16(p->ram_para_shadow, para::kSaturation), 80);
}

} // namespace
