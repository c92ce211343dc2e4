// Receiving-card search and the card jobs of the FPGA thread.
#include "sendcard/fpga_manage.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"

// The idle job: with both FPGAs up and the PC quiet (sendcard/pc_activity.h),
// the link relock, the card search, the brightness and schedule work and
// the port link report; the pass the PC's activity runs out in, the search's
// sent ports are forgotten.
void fpga_manage::Check_search_card()
{
    const PcActivity pc = pc_activity();
    if (pc == PcActivity::Quiet && get_fpga_status() == 1) {
        const unsigned char relock0 = check_vbo_status(0);
        const unsigned char relock1 = check_vbo_status(1);
        if (relock0 < 2 && relock1 < 2)
            Search_Card_Cmd();
        {
            RecordHold records(*this);
            Extension_function();
        }
        check_wlanonline_state();
    } else if (pc == PcActivity::RanOut) {
        search_sent_mask = 0;
    }
}

void fpga_manage::Search_Card_Cmd()
{
    if ((reg_image(0, 0) & 0x08) || (reg_image(1, 0) & 0x08)) {
        g_change.job_time = G_timeTicks.load();
        return;
    }
    // One link bit per port of an FPGA that runs, else 0.
    auto portMask = [this](unsigned char i) {
        return reg_image(i, 80) == 3 ? static_cast<uint32_t>(reg_image(i, 128) | (reg_image(i, 144) << 8)) : 0u;
    };
    uint32_t mask[2] = {portMask(0), portMask(1)};
    if (Utils::getTimeSpace(g_change.job_time) > 79) {
        for (unsigned char i = 0; i < 2; ++i) {
            read_from_register(128, i);
            read_from_register(144, i);
            mask[i] = portMask(i);
        }
        if (g_change.search_gate != 15 || (mask[0] == 0 && mask[1] == 0)) {
            g_change.search_active = 0;
            g_change.job_time = G_timeTicks.load();
            return;
        }
        g_change.search_active = 1;
    } else if (!g_change.search_active) {
        return;
    }
    const bool oddFirst = (g_change.search_count & 1) != 0;
    ++g_change.search_count;
    CHECK_search_cmd_status();
    // A PC request taken meanwhile waits behind no more than the frame
    // being sent: the rest of the sweep waits for the next one.
    for (unsigned char i = 0; i < 2 && !PcRequest::open(); ++i) {
        for (unsigned p = 0; p < 8 && !PcRequest::open(); ++p) {
            const unsigned first = oddFirst ? 2 * p + 1 : 2 * p;
            const unsigned second = oddFirst ? 2 * p : 2 * p + 1;
            unsigned port;
            if (mask[i] & (1u << first))
                port = first;
            else if (mask[i] & (1u << second))
                port = second;
            else
                continue;
            // check_error_rcv_search_card_cmd clears the pair's bit in
            // register 131 or 147 before it sends.
            check_error_rcv_search_card_cmd(static_cast<unsigned short>(port), i, 0, 0, 0);
            search_sent_mask |= 1u << (port + 16u * i);
            if (oddFirst)
                search_answer_mask |= 0xC0000000u;
        }
    }
    g_change.search_active = 0;
    g_change.job_time = G_timeTicks.load();
}

void fpga_manage::CHECK_search_cmd_status()
{
    const uint32_t answers = search_answer_mask.load();
    const uint32_t sent = search_sent_mask.load();
    if ((answers & 0xC0000000u) == 0xC0000000u) {
        for (unsigned char i = 0; i < 2; ++i) {
            for (unsigned p = 0; p < 8; ++p) {
                if (answers & (1u << (p + 8u * i)))
                    continue;
                unsigned port;
                if (sent & (1u << (2 * p + 1 + 16u * i)))
                    port = 2 * p + 1;
                else if (sent & (1u << (2 * p + 16u * i)))
                    port = 2 * p;
                else
                    continue;
                const unsigned c = kCardCountOffset[port];
                change_page_image(i, c, port < 4 ? 5 : 3, true, [&](unsigned char* page) {
                    page[c] = 0;
                    page[c + 1] = 0;
                    page[kCardStatusOffset[port]] = 0;
                });
            }
        }
    }
    search_sent_mask = 0;
    search_answer_mask = 0;
    total_card_num = static_cast<unsigned short>(check_netport_card(0) + check_netport_card(1));
}

int fpga_manage::deal_with_search_concurrent(unsigned char fpga)
{
    const unsigned char i = fpga == 0 ? 0 : 1;
    // Read out under the port hold, as every receive channel is.
    const PortPairs::Hold hold(port_pairs);
    if (!hold.held())
        return 0;
    unsigned char* reg = MCU_REG_func[i];
    for (unsigned r : {129u, 25u, 145u, 153u})
        read_from_register(r, i);
    int taken = 0;
    unsigned char f[kMaxPortFrame];
    for (unsigned c = 0; c < 8; ++c) {
        const unsigned statusReg = c < 4 ? 129 : 145;
        const unsigned char bit = static_cast<unsigned char>(1u << (c & 3));
        if (!(reg[statusReg] & (1u << (2 * (c & 3)))))
            continue;
        const unsigned lenReg = c < 4 ? (c == 0 ? 24 : 131 + 2 * c) : 145 + c;
        const unsigned highReg = c < 4 ? 25 : 153;
        read_from_register(lenReg, i);
        const unsigned length = (reg[lenReg] | (((reg[highReg] >> (2 * (c & 3))) & 3) << 8)) + 1;
        if (!read_fpga_ram(f, 0, static_cast<int>(length), 2 + 2 * c, i))
            continue;
        if (length < 11 || f[9] != 0x10 || (f[0] | (f[1] << 8)) != kAddrSelf)
            continue;   // left in its channel for Rcv_data_from_eth
        if (Utils::BCC(f, length - 1) == f[length - 1]) {
            search_answer_mask |= 1u << (c + 8u * i);
            if (length > 13 && f[10] == 0)
                Search_concurrent_back_result(f, static_cast<unsigned char>(c >> 1), i, length);
            taken = 1;
            read_from_register(statusReg, i);
        }
        write_to_register(c < 4 ? 130 : 146, bit, bit, i);
        write_to_register(c < 4 ? 131 : 147, bit, 0, i);
    }
    return taken;
}

void fpga_manage::Search_concurrent_back_result(unsigned char* frame, unsigned char group, unsigned char fpga,
                                                unsigned int length)
{
    // Bytes 11 to 13 carry the count and status.
    if (length < 15)
        return;
    if (frame[7] == 0)
        frame[7] = static_cast<unsigned char>(group * 4 + ((frame[3] >> 4) & 3) + 1);
    const unsigned port = frame[7] - 1u;
    if (port > 15)
        return;
    // A card check's answer carries the checked screen's config id (low
    // byte) and the result. It counts only for the port being checked, as
    // the port it arrived on (its group's channel and the place in the
    // group its source names) says: a net of the same screen that answers
    // after its own wait was over would else be taken for the next net.
    const unsigned arrived = group * 4u + ((frame[3] >> 4) & 3u);
    if (length > 22 && frame[18] == static_cast<unsigned char>(check_config_id.load()) && port == arrived &&
        check_port.load() == static_cast<int>(port + 16u * (fpga == 0 ? 0 : 1)))
        g_send_para.card_reply = frame[22];
    update_eth_rcv_num(frame, static_cast<unsigned short>(port), fpga);
}
