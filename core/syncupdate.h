// Page refresh and persistence: the GUI-thread slot that every para sync
// code and USB event reaches. It redraws the page in focus, shows the tip
// the page calls for, carries out the user-mode saves and deletes taken
// (core/mode_saves.h; the user-mode files of a flag 2 were taken as it was
// raised), and persists the parameter block when it differs from the
// shadow copy. Besides it, only a writer that must have the file hold
// the block before it answers persists it (ZdrRamPara::persist_block), and
// a clean stop stores what the refresh still owed (flush_on_stop).
#pragma once

#include "core/zdrrampara.h"

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class SyncUpdate : public QObject {
    Q_OBJECT
public:
    static SyncUpdate* pInstance();
    static SyncUpdate* p_syncupdate;

    // The tip shown after the refresh of the page in focus for a code
    // (0 = none). homeTipPending is the home page's pending-tip byte.
    static int tip_for(int focus, int code, bool homeTipPending);

    // The last tip a refresh called for.
    int last_tip = 0;

    // Takes a para sync code in the thread that sends it (connected
    // directly): the GUI thread refreshes at once; another thread queues
    // the refresh into the GUI thread. A change code (1, or 2 when the
    // user-mode files are rewritten too) is not queued again while a
    // refresh for a change still waits: that one takes the latest state,
    // with the strongest code pending.
    void update_para(int code);

    // Tests: run by a refresh between the user-mode acts it takes (under the
    // lock) and the files.
    static std::function<void()> mode_files_listed_hook;
    // Tests: run by a refresh after the page in focus has taken its copy of
    // the block and redrawn, before the block is persisted.
    static std::function<void()> page_refreshed_hook;

    // In the GUI thread, once the event loop has ended for a clean stop:
    // stores what the refresh still owed (the user-mode acts taken, a save
    // request no flag took, the block) without waiting for the chip thread.
    void flush_on_stop();

public slots:
    void para_sync(int code);

private:
    SyncUpdate();
    // The queued refresh for the changes: runs the strongest code pending.
    void run_pending_change();
    // The change code a queued refresh will run, 0 when none is queued.
    std::atomic<int> change_pending_{0};
    // Calls the refresh of the page in focus; false when that page is not
    // open (then nothing is refreshed and no tip is shown).
    bool refresh_page(int focus, int code);
    // Takes a save request no flag took and carries out the user-mode acts
    // waiting (one a slot at most), then persists; true when a save was
    // among them.
    bool store_changes();
    void persist();
};
