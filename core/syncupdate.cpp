#include "core/syncupdate.h"

#include "core/atomic_file.h"
#include "core/global.h"
#include "core/gui_handoff.h"
#include "core/gui_post.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/mode_saves.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "sendcard/fpga_manage.h"
#include "platform/platform.h"
#include "ui/picture/inputcut.h"
#include "ui/screen/outputset.h"
#include "ui/screen/linkoption.h"
#include "ui/screen/smartmapping.h"
#include "ui/picture/edidset.h"
#include "ui/picture/inputchoose.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/imagequality.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/lockwindow.h"
#include "ui/picture/custommode.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/tip.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

SyncUpdate* SyncUpdate::p_syncupdate = nullptr;
std::function<void()> SyncUpdate::mode_files_listed_hook;
std::function<void()> SyncUpdate::page_refreshed_hook;

SyncUpdate::SyncUpdate() = default;

SyncUpdate* SyncUpdate::pInstance()
{
    if (!p_syncupdate)
        p_syncupdate = new SyncUpdate();
    return p_syncupdate;
}

namespace {

template <typename Page>
Page* openPage(Page* page)
{
    return page;
}

template <typename Page>
Page* openPage(const QPointer<Page>& page)
{
    return page.data();
}

// A page's refresh, given the code where it takes one.
template <typename Page>
auto refreshWith(Page* page, int code, int) -> decltype(page->syncUpdate(code))
{
    return page->syncUpdate(code);
}

template <typename Page>
void refreshWith(Page* page, int, long)
{
    page->syncUpdate();
}

// Refreshes the page the global points to; false when it is not open.
template <auto& page>
bool refreshOpen(int code)
{
    auto* open = openPage(page);
    if (!open)
        return false;
    refreshWith(open, code, 0);
    return true;
}

int noTip(int, bool) { return 0; }
int tipOne(int, bool) { return 1; }
int homeTip(int, bool pending) { return pending ? 1 : 0; }
// The USB events on the pages that list a stick's files: 3 in, 4 out, 5
// for code 102.
int usbTip(int code, int otherwise)
{
    switch (code) {
    case 100: return 3;
    case 101: return 4;
    case 102: return 5;
    default: return otherwise;
    }
}
int linkTip(int code, bool) { return usbTip(code, code == 104 ? 0 : 1); }
int mappingTip(int code, bool) { return usbTip(code, 0); }

// Each page in focus: its refresh (false when it is not open) and the tip
// shown after it.
struct PageRefresh {
    int focus;
    bool (*refresh)(int code);
    int (*tip)(int code, bool homeTipPending);
};

const PageRefresh kPages[] = {
    {kFocusIdle, refreshOpen<g_lockwindow>, noTip},
    {kFocusHome, refreshOpen<g_mainwindow>, homeTip},
    {kFocusMachineState, refreshOpen<g_machinestate>, noTip},
    {kFocusCustomMode, refreshOpen<g_custommode>, tipOne},
    {kFocusInputChoose, refreshOpen<g_inputchoose>, noTip},
    {kFocusEdid, refreshOpen<g_edidset>, noTip},
    {kFocusOption, refreshOpen<g_option>, noTip},
    {kFocusOutputSet, refreshOpen<g_outputset>, tipOne},
    {kFocusInputCut, refreshOpen<g_inputcut>, noTip},
    {kFocusImageLayout, refreshOpen<g_imagelayout>, tipOne},
    {kFocusImageQuality, refreshOpen<g_imagequality>, noTip},
    {kFocusLinkOption, refreshOpen<g_linkoption>, linkTip},
    {kFocusSmartMapping, refreshOpen<g_smartmapping>, mappingTip},
    {kFocusAdvanced, refreshOpen<g_advancedoption>, tipOne},
};

const PageRefresh* pageFor(int focus)
{
    for (const PageRefresh& page : kPages)
        if (page.focus == focus)
            return &page;
    return nullptr;
}

} // namespace

int SyncUpdate::tip_for(int focus, int code, bool homeTipPending)
{
    const PageRefresh* page = pageFor(focus);
    return page ? page->tip(code, homeTipPending) : 0;
}

bool SyncUpdate::refresh_page(int focus, int code)
{
    if (const PageRefresh* page = pageFor(focus))
        return page->refresh(code);
    // The pages without a refresh of their own (test patterns and others)
    // only follow the language.
    ZdrRamPara::pInstance()->ZdrLanguageChanged();
    return false;
}

void SyncUpdate::update_para(int code)
{
    if (QThread::currentThread() == thread()) {
        para_sync(code);
        return;
    }
    if (code == 1 || code == 2) {
        // A PC dragging a slider raises the change flag many times a
        // second, and a refresh that stores the block costs a sync and
        // 100 ms: one queued refresh serves every change made before it
        // runs, so the GUI thread never falls behind.
        int pending = change_pending_.load();
        while (!change_pending_.compare_exchange_weak(pending, std::max(pending, code))) {
        }
        if (pending != 0)
            return;
        gui_post([this] { run_pending_change(); });
        return;
    }
    gui_post([this, code] { para_sync(code); });
}

void SyncUpdate::run_pending_change()
{
    // Taken before the refresh reads the block: a change made from here on
    // queues a refresh of its own.
    const int code = change_pending_.exchange(0);
    if (code != 0)
        para_sync(code);
}

void SyncUpdate::para_sync(int code)
{
    gui_handoff::received();
    const int focus = g_page_focus.load();
    if (refresh_page(focus, code)) {
        if ((focus == kFocusLinkOption || focus == kFocusSmartMapping) && traceOn()) {
            if (code == 100)
                std::printf("\n yes ,got the usb in");
            else if (code == 101)
                std::printf("\n yes ,got the usb out");
        }
        const bool homeTip = focus == kFocusHome && g_mainwindow->tip_flag;
        const int tip = tip_for(focus, code, homeTip);
        if (focus == kFocusHome)
            g_mainwindow->tip_flag = 0;
        if (tip) {
            last_tip = tip;
            if (g_tip)
                g_tip->tip_create(tip);
        }
    }

    if (page_refreshed_hook)
        page_refreshed_hook();

    // A user-mode save runs after the refresh: the page in focus (the home
    // page's panel and its current mode among them) is shown again with the
    // slot saved.
    if (store_changes())
        refresh_page(focus, code);
}

// The user-mode acts and the persistence touch the block, which the other
// threads write under the c331 manage mutex: a save request no flag took is
// taken under a ParaWriteLock, the files are written after it has been
// released (a change pass is not held up by a file). A refresh with nothing
// to take does not take the block: the GUI thread does not wait for a
// change pass to carry out the acts already taken, nor to read. The files
// of a flag 2 were taken where it was raised (ParaWriteLock::raise), with
// the slots of that moment: code 2 carries them out and takes nothing
// again. A refresh carries out only the acts waiting as it begins (one a
// slot at most), then stores the block: an act taken meanwhile is left to
// the next refresh, so the block never waits behind a flood of saves.
bool SyncUpdate::store_changes()
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    // A request the PC wrote at 868 is taken at its flag; one no flag has
    // taken yet is taken here, with the block as it stands.
    if (store->block_word(para::kModeSaveRequest) != 0) {
        ParaWriteLock lock;
        ModeSaves::take_request(lock);
    }
    if (mode_files_listed_hook)
        mode_files_listed_hook();
    const int saved = ModeSaves::carry_out(*store);
    persist();
    return saved > 0;
}

void SyncUpdate::persist()
{
    ZdrRamPara::pInstance()->persist_block(100);
}

void SyncUpdate::flush_on_stop()
{
    // A clean stop (SIGTERM, a reboot) stores what it answered, whatever
    // the chip thread is doing: a chip pass may hold the manage mutex for
    // seconds, so nothing here takes it. The user-mode acts taken are
    // carried out; a save request no flag took is taken from one copy of
    // the store, taken under its short lock, and the block is written from
    // that copy (the store itself is left as it is: the program is
    // leaving). No page is drawn again.
    ZdrRamPara* store = ZdrRamPara::pInstance();
    std::vector<unsigned char> block(para::kBlockSize);
    std::vector<unsigned char> slotBytes(size_t(ZdrRamPara::kSlotCount) * ZdrRamPara::kSlotSize);
    auto* images = reinterpret_cast<unsigned char(*)[ZdrRamPara::kSlotSize]>(slotBytes.data());
    store->snapshot_store(block.data(), images);
    ModeSaves::take_request(block.data(), images);
    ModeSaves::carry_out(*store);
    store->persist_block(0, block.data());
    // So is a brightness record owed to the flash (a cut may end at it or
    // at the record before).
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage)
        if (!fpga->bri_store_owed_at_stop())
            writeLogMsg(ERROR, "brightness: the record owed to the flash was not stored at the stop");
}
