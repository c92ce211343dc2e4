#include "core/syncupdate.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
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

#include <QMutexLocker>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

SyncUpdate* SyncUpdate::p_syncupdate = nullptr;

SyncUpdate::SyncUpdate() = default;

SyncUpdate* SyncUpdate::pInstance()
{
    if (!p_syncupdate)
        p_syncupdate = new SyncUpdate();
    return p_syncupdate;
}

int SyncUpdate::tip_for(int focus, int code, bool homeTipPending)
{
    switch (focus) {
    case 1:
        return homeTipPending ? 1 : 0;
    case 4:
    case 6:
    case 9:
    case 12:
        return 1;
    case 10:
        switch (code) {
        case 100: return 3;
        case 101: return 4;
        case 102: return 5;
        case 104: return 0;
        default: return 1;
        }
    case 24:
        switch (code) {
        case 100: return 3;
        case 101: return 4;
        case 102: return 5;
        default: return 0;
        }
    default:
        return 0;
    }
}

bool SyncUpdate::refresh_page(int focus, int code)
{
    switch (focus) {
    case 0:
        if (!g_lockwindow)
            return false;
        g_lockwindow->syncUpdate();
        return true;
    case 1:
        if (!g_mainwindow)
            return false;
        g_mainwindow->syncUpdate();
        return true;
    case 2:
        if (!g_machinestate)
            return false;
        g_machinestate->syncUpdate(code);
        return true;
    case 4:
        if (!g_custommode)
            return false;
        g_custommode->syncUpdate();
        return true;
    case 3:
        if (!g_inputchoose)
            return false;
        g_inputchoose->syncUpdate(code);
        return true;
    case 8:
        if (!g_edidset)
            return false;
        g_edidset->syncUpdate();
        return true;
    case 5:
        if (!g_option)
            return false;
        g_option->syncUpdate();
        return true;
    case 6:
        if (!g_outputset)
            return false;
        g_outputset->syncUpdate();
        return true;
    case 7:
        if (!g_inputcut)
            return false;
        g_inputcut->syncUpdate(code);
        return true;
    case 9:
        if (!g_imagelayout)
            return false;
        g_imagelayout->syncUpdate();
        return true;
    case 11:
        if (!g_imagequality)
            return false;
        g_imagequality->syncUpdate();
        return true;
    case 10:
        if (!g_linkoption)
            return false;
        g_linkoption->syncUpdate(code);
        return true;
    case 24:
        if (!g_smartmapping)
            return false;
        g_smartmapping->syncUpdate(code);
        return true;
    case 12:
        if (!g_advancedoption)
            return false;
        g_advancedoption->syncUpdate(code);
        return true;
    default:
        // Pages that are not open, and the pages without a refresh of their
        // own (test patterns and others), only follow the language.
        ZdrRamPara::pInstance()->ZdrLanguageChanged();
        return false;
    }
}

void SyncUpdate::para_sync(int code)
{
    const int focus = g_page_focus.load();
    if (refresh_page(focus, code)) {
        if ((focus == 10 || focus == 24) && traceOn()) {
            if (code == 100)
                std::printf("\n yes ,got the usb in");
            else if (code == 101)
                std::printf("\n yes ,got the usb out");
        }
        const bool homeTip = focus == 1 && g_mainwindow->tip_flag;
        const int tip = tip_for(focus, code, homeTip);
        if (focus == 1)
            g_mainwindow->tip_flag = 0;
        if (tip) {
            last_tip = tip;
            if (g_tip)
                g_tip->tip_create(tip);
        }
    }

    save_pending_mode();
    if (code == 2)
        rewrite_mode_files();
    persist();
}

void SyncUpdate::save_pending_mode()
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    unsigned char* block = store->ram_para;
    const uint16_t request = le16(block, para::kModeSaveRequest);
    if (request == le16(store->ram_para_shadow, para::kModeSaveRequest) || request == 0)
        return;
    if (request > ZdrRamPara::kSlotCount) {
        // There are only 16 slots: a request beyond them is dropped.
        writeLogMsg(WARNING, "user mode save request " + std::to_string(request) + " ignored");
        setLe16(block, para::kModeSaveRequest, 0);
        return;
    }
    const int slot = request - 1;
    unsigned char* s = store->mode_user_para[slot];
    s[0] = 0xAA;
    s[1] = 0xAA;
    setLe16(block, para::kCurrentMode, request);
    std::memcpy(s + 2, block + para::kModeStart, para::kModeSize);
    if (g_mainwindow)
        g_mainwindow->mode_file_write(slot, 0);
    setLe16(block, para::kModeSaveRequest, 0);
    if (traceOn())
        std::printf("\n user mode save change ,%#x \n", s[0]);
}

void SyncUpdate::rewrite_mode_files()
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    for (int slot = 0; slot < ZdrRamPara::kSlotCount; ++slot) {
        const unsigned char* s = store->mode_user_para[slot];
        const bool empty = s[0] == 0xFF || s[1] == 0xFF;
        if (!empty && (s[0] == 0xAA || s[1] == 0xAA)) {
            if (g_mainwindow)
                g_mainwindow->mode_file_write(slot, 1);
        } else if (empty) {
            store->mode_file_deal(slot, 1);
            setLe16(store->ram_para, para::kModeSaveRequest, 0);
        }
    }
}

void SyncUpdate::persist()
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    if (std::memcmp(store->ram_para, store->ram_para_shadow, sizeof(store->ram_para)) == 0)
        return;
    if (traceOn())
        std::printf("\n ram_para diffrent !");
    // The shadow records what reached the file: a store made while the file
    // is written differs from it and is written by the next refresh.
    unsigned char written[sizeof(store->ram_para)];
    std::memcpy(written, store->ram_para, sizeof(written));
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        store->write_para_file();
        Utils::system_mutex("sync");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::memcpy(store->ram_para_shadow, written, sizeof(written));
}
