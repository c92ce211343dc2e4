// What the touch pages ask of the FPGA manager, answered from the manager's
// own state (GUI thread).
#include "sendcard/fpga_manage.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

// The file of the last job 2, written before the job is posted and read by
// the FPGA thread when the job looks for it. Guarded by g_load_file_mutex
// (a leaf lock).
QMutex g_load_file_mutex;
QString g_load_file;

} // namespace

unsigned int fpga_wlan_state()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m ? m->get_wlan_state() : 0;
}

bool fpga_both_running()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m && m->reg_image(0, 80) == 3 && m->reg_image(1, 80) == 3;
}

unsigned char fpga_card_job()
{
    return g_send_para.code.load();
}

bool fpga_post_card_job(unsigned char job, unsigned char loaderSubStep)
{
    // The loader's sub-step belongs to the card jobs, which set it up
    // themselves when they start.
    (void)loaderSubStep;
    if (g_send_para.code.load() != 0)
        return false;
    g_send_para.post(job);
    return true;
}

bool fpga_post_load_job(const QString& file)
{
    if (g_send_para.code.load() != 0)
        return false;
    {
        QMutexLocker lock(&g_load_file_mutex);
        g_load_file = file;
    }
    g_send_para.post(2);
    return true;
}

QString fpga_posted_load_file()
{
    QMutexLocker lock(&g_load_file_mutex);
    return g_load_file;
}

bool fpga_card_job_failed()
{
    return g_send_para.failed.load();
}

void fpga_end_card_job()
{
    // The step first: once the code reads 0 a page may post the next job,
    // whose step 0 must not be overwritten.
    g_send_para.step = 255;
    g_send_para.code = 0;
}

unsigned short fpga_card_reply()
{
    return g_send_para.card_reply.load();
}
