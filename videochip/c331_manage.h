// c331 video-processing chip manager: bring-up and the chip thread that
// applies every change of the parameter block.
#pragma once

#include <atomic>
#include <pthread.h>

class c331_manage {
public:
    static c331_manage* pInstance();
    static c331_manage* p_c331_manage;

    // The c331 manage mutex and the parameter-changed flag. Every writer of
    // the parameter block (pages, PC commands, the store's own operations)
    // locks the mutex, stores, sets the flag (1 apply, 2 apply and rewrite
    // the user-mode files) and unlocks; the chip thread compares and applies
    // under the same mutex. They exist before the chip object is made, so a
    // writer never finds them missing.
    static pthread_mutex_t c331_mutex;
    static std::atomic<unsigned char> para_change_flag;
    // OSD fonts found in the chip's flash: bit 0 the 32-pixel CJK font, bit 1
    // the 32-pixel ASCII font, bit 2 the 64-pixel CJK font, bit 3 the
    // 64-pixel ASCII font. Read by the factory settings page.
    static std::atomic<unsigned char> font_status;

private:
    c331_manage();
};

// A writer's hold of the c331 manage mutex: store while it lives, then
// raise() the flag before it ends.
class C331ParaLock {
public:
    C331ParaLock() { pthread_mutex_lock(&c331_manage::c331_mutex); }
    ~C331ParaLock() { pthread_mutex_unlock(&c331_manage::c331_mutex); }
    C331ParaLock(const C331ParaLock&) = delete;
    C331ParaLock& operator=(const C331ParaLock&) = delete;
    void raise(unsigned char value = 1) { c331_manage::para_change_flag = value; }
};

// Bring-up gate: the chip thread sets it to 1 once the chip is up; the FPGA
// thread starts its own bring-up only then.
extern std::atomic<unsigned int> g_fpga_c331_start;
// While 1 the chip's outputs show a forced background colour.
extern std::atomic<unsigned char> g_force_bkcolor;
// 1: the chip thread re-reads and applies the OSD menu file on its next
// change pass.
extern std::atomic<unsigned int> g_osd_update;
