// Receiving-card check (job 5), restore (job 6) and the load of a scan
// file (job 2): one step machine over the packed parameter file, one step
// per pass of the FPGA thread.
#include "sendcard/fpga_manage.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "sendcard/rcv_recovery_file.h"
#include "ui/shell/advancedoption.h"

#include <cstdio>

namespace {

constexpr unsigned short kNoReply = 65535;
constexpr unsigned short kAllSound = 255;

void trace(const char* text)
{
    if (traceOn())
        std::printf("%s", text);
}

void paraSync(int code)
{
    if (ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config)
        store->test_signal(code);
}

int percentOfStep(int n)
{
    return 100 * n / 35;
}

int share(unsigned i, unsigned n)
{
    return static_cast<int>((100 + 100 * i) / (n + 1));
}

} // namespace

void fpga_manage::rcv_recovery_check_deal(RCV_CHECK_OR_RECOVERY mode)
{
    const unsigned char job = mode == RCV_LOAD_FILE ? 2 : mode == RCV_CHECK ? 5 : 6;
    const bool bare = mode == RCV_LOAD_FILE;
    if (card_job_paused(true))
        return;
    rcvRecovery& r = *rcv_recovery;
    SendParaRequest& sp = g_send_para;
    const QString& path = r.file_path;
    const int T = static_cast<int>(100 * Utils::getTimeSpace(g_change.job_time) / 500);
    // The failure end (steps 34 and 35); the pages learn that the job did
    // not do all of its work before they see its end.
    auto fail = [&](const char* text) {
        trace(text);
        sp.failed = true;
        sp.step = 34;
    };
    // A port of the file beyond the 32 output ports.
    auto badPort = [&](unsigned ledx) {
        if (ledx < 32)
            return false;
        fail("\n net port out of range ");
        return true;
    };
    // Steps 3 to 11 and 13 to 15 report to the advanced settings page.
    auto toAdvanced = [&](int v) { card_job_progress(5, v); };
    // One pass of the load of the operate records (steps 12 and 19): the
    // record at operate_index goes on to the cards; once it is loaded, the
    // next record is read at readStep, or true when it was the last one.
    auto recordsLoaded = [&](unsigned char readStep, const char* nextText) {
        if (load_rcv_xy_operate(path, r.operate_data_offset, bare) == 0) {
            card_job_ticker(job);
            return false;
        }
        if (sp.record_failed) {
            fail("\n operate record not loaded ");
            return false;
        }
        if (sp.operate_index + 1u < r.rcv_operate_times) {
            ++sp.operate_index;
            sp.loader_step = 20;
            sp.step = readStep;
            trace(nextText);
            return false;
        }
        return true;
    };

    if (sp.step > 0 && sp.step < 33 && Utils::getTimeSpace(sp.job_start) > kCardJobTicks)
        fail("\n the job took too long ");

    switch (sp.step.load()) {
    case 0:
        // A reply of an earlier check must not count for this job.
        check_port = -1;
        sp.card_reply = kNoReply;
        sp.failed = false;
        sp.net_unanswered = false;
        if (get_fpga_status() != 1) {
            fail("\n there is a error about fpga!!! ");
            break;
        }
        sp.step = 1;
        g_change.job_time = G_timeTicks.load();
        sp.job_start = G_timeTicks.load();
        card_job_progress(job, 0);
        trace("\n check rcv.... ");
        break;
    case 1:
        if (Utils::getTimeSpace(g_change.job_time) > 239)
            sp.step = 2;
        if (Utils::getTimeSpace(g_change.job_time) >= 80)
            card_job_progress(job, T);
        break;
    case 2:
        if (job == 2) {
            int res = r.get_dir_file("/data/smartmapping");
            if (res != 0 || r.smart_files().isEmpty())
                res = r.get_dir_file("/mnt/usb1/");
            if (res != 0) {
                fail("\n check file error ");
            } else if (r.smart_files().isEmpty()) {
                trace("\n more file error ");
                sp.failed = true;
                sp.step = 33;
            } else {
                r.init_para();
                r.file_path = fpga_posted_load_file();
                sp.step = 17;
                g_change.job_time = G_timeTicks.load();
                card_job_progress(job, T);
            }
        } else {
            if (r.get_dir_file("/data/rcvrecovery") != 0) {
                fail("\n check file error ");
            } else if (r.recovery_files().size() != 1) {
                trace("\n more file error ");
                sp.failed = true;
                sp.step = 33;
            } else {
                r.file_path = "/data/rcvrecovery/KQFX";
                if (r.get_rcvPackedFileNum(r.file_path) != 0) {
                    fail("\n check file error ");
                    break;
                }
                sp.step = 3;
                g_change.job_time = G_timeTicks.load();
                card_job_progress(job, T);
            }
        }
        break;
    case 3:
        for (unsigned i = 0; i < r.held_sections(); ++i) {
            if (r.get_rcvPackedFileInfo(path, static_cast<unsigned char>(i)) != 0) {
                fail("\n no file type error ");
                return;
            }
        }
        sp.step = 4;
        g_change.job_time = G_timeTicks.load();
        toAdvanced(T);
        break;
    case 4:
        sp.card_reply = kNoReply;
        if (r.section_count() == 0 || r.has_section(rcvRecovery::kScreenFile)) {
            sp.step = 5;
            toAdvanced(T);
        } else {
            fail("\n no file type error ");
        }
        break;
    case 5:
        if (r.update_rcvScreenHead(path) != 0) {
            fail("\n check screen net error ");
            break;
        }
        if (job == 5) {
            sp.screen_index = 0;
        } else {
            sp.screen_index = restore_screen;
            toAdvanced(percentOfStep(5));
        }
        sp.step = 6;
        break;
    case 6:
        if (r.update_rcvScreenIDinfo(path, sp.screen_index) != 0) {
            fail("\n check screen id error ");
            break;
        }
        if (job == 5) {
            sp.step = 8;
            toAdvanced(share(sp.screen_index, r.screen_head.screen_num));
        } else {
            sp.step = 7;
            trace("\n now start to check file ....");
        }
        break;
    case 7: {
        const bool noTable = r.section_count() == 0;
        if (r.screen_info.rcv_para_len == 0) {
            if (r.screen_info.rcv_xy_len == 0)
                fail("\n screen file all len  error ");
            else if (noTable || r.has_section(rcvRecovery::kRcvXyFile))
                sp.step = 8;
            else
                fail("\n no rcv xy file error ");
        } else if (noTable || r.has_section(rcvRecovery::kSmartDebugFile)) {
            sp.step = 17;
        } else {
            fail("\n no smart debuging file error ");
        }
        break;
    }
    case 8:
        if (r.update_rcvXYscreenNetnum(path) != 0) {
            fail("\n rcv xy file screen_net num error ");
            break;
        }
        // A restore works on the net where the check found the card.
        sp.net_index = job == 5 ? 0 : restore_net;
        toAdvanced(percentOfStep(8));
        sp.step = 9;
        break;
    case 9:
        sp.card_reply = kNoReply;
        if (r.update_rcvXYscreenNetpara(path, sp.net_index) != 0) {
            fail("\n rcv xy file screen_net para error ");
            break;
        }
        if (badPort(r.net_para.net_ledx))
            break;
        if (job == 5) {
            sp.step = 13;
            toAdvanced(share(sp.net_index, r.screen_net_num));
        } else if (restore_card >= r.net_para.net_rcv_num) {
            fail("\n restore card not on the net ");
        } else {
            sp.card_index = restore_card;
            sp.step = 10;
            toAdvanced(percentOfStep(10));
        }
        break;
    case 10:
        if (r.update_rcvXYrcvOperateTimes(path, sp.card_index, bare) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        sp.operate_index = 0;
        // A card without records has nothing to restore.
        sp.step = r.rcv_operate_times == 0 ? 33 : 11;
        break;
    case 11: {
        if (r.update_rcvXYrcvOperatepara(path, sp.operate_index, bare) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        const uint64_t at = uint64_t(r.section_base(rcvRecovery::kRcvXyFile)) + r.screen_info.rcv_xy_offset +
                            r.net_para.net_para_offset + r.operate.offset;
        if (at > 0xFFFFFFFFull) {
            fail("\n rcv xy file operate data error ");
            break;
        }
        r.operate_data_offset = static_cast<uint32_t>(at);
        sp.loader_step = 20;
        sp.step = 12;
        toAdvanced(share(sp.operate_index, r.rcv_operate_times));
        g_change.job_time = G_timeTicks.load();
        g_change.progress = 0;
        break;
    }
    case 12:
        if (recordsLoaded(11, ""))
            sp.step = 33;
        break;
    case 13: {
        const unsigned ledx = r.net_para.net_ledx;
        const unsigned char fpga = ledx < 16 ? 0 : 1;
        const unsigned short port = static_cast<unsigned short>(ledx < 16 ? ledx : ledx - 16);
        check_config_id = r.screen_info.config_id;
        sp.card_reply = kNoReply;
        check_port = static_cast<int>(ledx);
        check_error_rcv_search_card_cmd(port, fpga, r.screen_info.config_id, 0,
                                        r.recovery_files().isEmpty() ? 0 : 1);
        toAdvanced(percentOfStep(13));
        sp.step = 14;
        sp.step_time = G_timeTicks.load();
        g_change.job_time = G_timeTicks.load();
        g_change.progress = 0;
        break;
    }
    case 14: {
        // A net that does not answer counts as sound (nothing is restored
        // to it), but the check has not seen all of the cards.
        const unsigned short reply = sp.card_reply.load();
        if (Utils::getTimeSpace(sp.step_time) > 500) {
            trace("\n timeout!!! ");
            sp.net_unanswered = true;
            sp.step = 15;
        } else if (reply < kNoReply) {
            if (traceOn())
                std::printf("\n rcv back info ...%#x\n", reply);
            sp.step = reply == kAllSound ? 15 : 33;
        }
        // The net's wait is over: its answer, when it comes later, names
        // no card.
        if (sp.step.load() != 14)
            check_port = -1;
        card_job_ticker(job);
        break;
    }
    case 15:
        if (sp.net_index + 1u < r.screen_net_num) {
            ++sp.net_index;
            sp.step = 9;
            break;
        }
        sp.net_index = 0;
        ++sp.screen_index;
        if (traceOn())
            std::printf("\n current_screen_index = %#x , screen_num = %#x \n", sp.screen_index,
                        r.screen_head.screen_num);
        sp.step = sp.screen_index < r.screen_head.screen_num ? 6 : 33;
        break;
    case 17:
        if (r.update_smartDebugingOperateTimes(path, bare) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        sp.operate_index = 0;
        if (job == 2) {
            r.net_para.net_ledx = line_type.port;
            if (get_port_card_num(line_type.port) == 0) {
                fail("\n no card on the port ");
                break;
            }
        } else {
            r.net_para.net_ledx = restore_port;
            sp.card_index = restore_card;
            const unsigned short cards = get_port_card_num(restore_port);
            if (cards == 0 || sp.card_index >= cards) {
                fail("\n no card to restore on the port ");
                break;
            }
        }
        if (r.rcv_operate_times == 0)
            sp.step = job == 2 ? 33 : 8;
        else
            sp.step = 18;
        break;
    case 18: {
        if (r.update_smartDebugingOperatepara(path, sp.operate_index, bare) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        const uint64_t at = uint64_t(r.screen_info.rcv_para_offset) + r.operate.offset +
                            (job == 2 ? rcvRecovery::kBareHeadSize : r.section_base(rcvRecovery::kSmartDebugFile));
        if (at > 0xFFFFFFFFull) {
            fail("\n smart debuging operate data error ");
            break;
        }
        r.operate_data_offset = static_cast<uint32_t>(at);
        sp.step = 19;
        sp.loader_step = 20;
        card_job_progress(job, share(sp.operate_index, r.rcv_operate_times));
        g_change.job_time = G_timeTicks.load();
        g_change.progress = 0;
        break;
    }
    case 19:
        if (!recordsLoaded(18, "\n start to set net para operate "))
            break;
        sp.operate_index = 0;
        if (job == 2) {
            sp.step = 33;
        } else {
            sp.step = 8;
            trace("\n start to set point xy ");
        }
        break;
    case 33: {
        trace("\n over!!! ");
        const unsigned short reply = sp.card_reply.load();
        // A check that found no faulty card while a net gave no answer
        // did not check every card: it ends as not completed.
        if (job == 5 && sp.net_unanswered && (reply == kAllSound || reply == kNoReply))
            sp.failed = true;
        if (sp.failed) {
            // No file to work on, or frames no card confirmed: the faulty
            // card found last stays listed.
            paraSync(1);
        } else if (reply == kAllSound || reply == kNoReply) {
            if (job == 6 && AdvancedOption::restore_finished())
                paraSync(99);
        } else {
            // The card found becomes the one to restore only when the page
            // lists it: the restore button restores what its list shows.
            if (AdvancedOption::check_found(AdvancedOption::result_line(sp.screen_index, r.net_para.net_ledx, reply,
                                                                        r.net_para.net_rcv_num))) {
                restore_screen = sp.screen_index;
                restore_port = static_cast<unsigned char>(r.net_para.net_ledx);
                restore_card = reply;
                restore_net = sp.net_index;
            }
            paraSync(1);
        }
        card_job_end();
        card_job_progress(job, 100);
        break;
    }
    case 34:
        card_job_progress(job, 100);
        sp.step = 35;
        g_change.job_time = G_timeTicks.load();
        break;
    case 35:
        if (Utils::getTimeSpace(g_change.job_time) >= 101) {
            card_job_end();
            g_change.job_time = G_timeTicks.load();
            paraSync(1);
        }
        break;
    default:
        break;
    }
}
