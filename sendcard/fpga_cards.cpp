// Receiving-card search and the card jobs of the FPGA thread.
#include "sendcard/fpga_manage.h"

#include "core/logMsg.h"
#include "core/utils.h"

namespace {

// A job this build cannot run stays posted (nothing pretends it ran); it is
// reported once.
void jobUnavailable(unsigned char code)
{
    static std::atomic<unsigned int> said{0};
    const unsigned int bit = 1u << (code & 31);
    if (!(said.fetch_or(bit) & bit))
        writeLogMsg(WARNING, "receiving-card job " + std::to_string(code) + " is not available");
}

} // namespace

// The idle job: with both FPGAs up and no PC command in the last 80 ticks,
// the link relock, the card search, the brightness and schedule work and
// the port link report; otherwise the PC mark runs out.
void fpga_manage::Check_search_card()
{
    if (pc_cmd_valid.load() == 0 && get_fpga_status() == 1) {
        const unsigned char relock0 = check_vbo_status(0);
        const unsigned char relock1 = check_vbo_status(1);
        if (relock0 < 2 && relock1 < 2)
            Search_Card_Cmd();
        {
            FpgaMutexHold records(fpga_record_mutex);
            Extension_function();
        }
        check_wlanonline_state();
    } else if (Utils::getTimeSpace(pc_cmd_time.load()) > 80) {
        pc_cmd_valid = 0;
    }
}

// No search frames are sent yet.
void fpga_manage::Search_Card_Cmd() {}

void fpga_manage::SmartMapping_deal()
{
    jobUnavailable(1);
}

void fpga_manage::save_para_deal()
{
    jobUnavailable(3);
}

void fpga_manage::mapping_enable_deal()
{
    jobUnavailable(4);
}

void fpga_manage::rcv_recovery_check_deal(RCV_CHECK_OR_RECOVERY mode)
{
    jobUnavailable(mode == RCV_LOAD_FILE ? 2 : mode == RCV_CHECK ? 5 : 6);
}
