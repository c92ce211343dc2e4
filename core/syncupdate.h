// Page refresh and persistence: the GUI-thread slot that every para sync
// code and USB event reaches. It redraws the page in focus, shows the tip
// the page calls for, runs a pending user-mode save, rewrites the user-mode
// files on code 2, and persists the parameter block when it differs from
// the shadow copy. The block is persisted nowhere else.
#pragma once

#include <QObject>
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

public slots:
    void para_sync(int code);

private:
    SyncUpdate();
    // Calls the refresh of the page in focus; false when that page is not
    // open (then nothing is refreshed and no tip is shown).
    bool refresh_page(int focus, int code);
    void store_changes(bool rewrite);
    int take_pending_mode();
    std::vector<std::pair<int, bool>> take_mode_rewrites();
    void persist(const unsigned char* block);
};
