#include "videochip/c331_manage.h"

c331_manage* c331_manage::p_c331_manage = nullptr;
pthread_mutex_t c331_manage::c331_mutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<unsigned char> c331_manage::para_change_flag{0};
std::atomic<unsigned char> c331_manage::font_status{0};

c331_manage::c331_manage() = default;

c331_manage* c331_manage::pInstance()
{
    if (!p_c331_manage)
        p_c331_manage = new c331_manage();
    return p_c331_manage;
}

std::atomic<unsigned int> g_fpga_c331_start{0};
std::atomic<unsigned char> g_force_bkcolor{1};
std::atomic<unsigned int> g_osd_update{0};
