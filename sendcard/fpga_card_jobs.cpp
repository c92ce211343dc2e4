// The mapping wizard's card jobs, one step per pass of the FPGA thread:
// the cards' positions on the screen (job 1), saving the cards' parameters
// (job 3) and the cards' mapping switch (job 4).
#include "sendcard/fpga_manage.h"

#include "core/global.h"
#include "core/utils.h"

#include <cstdio>

namespace {

void trace(const char* text)
{
    if (traceOn())
        std::printf("%s", text);
}

// Scan order of a route: by rows or by columns; the first row at the
// bottom or the first column at the right ("far"); the direction within
// even and odd rows (right to left) or columns (bottom to top) reversed.
struct Route {
    bool columns, far, evenReversed, oddReversed;
};

const Route kRoutes[17] = {
    {false, false, false, false},   // 0: none
    {false, true, true, false},     // 1
    {false, true, false, true},     // 2
    {false, false, true, false},    // 3
    {false, false, false, true},    // 4
    {true, true, true, false},      // 5
    {true, true, false, true},      // 6
    {true, false, false, true},     // 7
    {true, false, true, false},     // 8
    {false, true, true, true},      // 9
    {false, false, false, false},   // 10
    {false, true, false, false},    // 11
    {true, false, false, false},    // 12: its own rule below
    {true, true, true, true},       // 13
    {true, false, false, false},    // 14
    {true, false, true, true},      // 15
    {true, true, false, false},     // 16
};

} // namespace

void fpga_manage::get_rcvcard_x_y(unsigned int index, unsigned short* x, unsigned short* y)
{
    const SmartMappingLineType lt = line_type;
    const unsigned R = lt.rows;
    const unsigned K = lt.columns;
    if (lt.route == 0 || lt.route > 16 || index >= R * K)
        return;
    const Route& route = kRoutes[lt.route];
    const unsigned outer = route.columns ? index / R : index / K;   // row or column of the route
    const unsigned inner = route.columns ? index % R : index % K;   // place within it
    const bool reversed = (outer % 2 == 0) ? route.evenReversed : route.oddReversed;
    unsigned px;
    unsigned py;
    if (!route.columns) {
        py = (route.far ? R - 1 - outer : outer) * lt.height;
        px = (reversed ? K - 1 - inner : inner) * lt.width;
    } else {
        px = (route.far ? K - 1 - outer : outer) * lt.width;
        py = (reversed ? R - 1 - inner : inner) * lt.height;
    }
    if (lt.route == 12) {
        // Columns from the left, the height counted from the column count;
        // a place beyond it starts at the top.
        py = inner < K ? (K - 1 - inner) * lt.height : 0;
    }
    // A place beyond what the frame's 16-bit position carries is held at
    // its largest, never wrapped onto another card's place.
    *x = static_cast<unsigned short>(px > 0xFFFF ? 0xFFFF : px);
    *y = static_cast<unsigned short>(py > 0xFFFF ? 0xFFFF : py);
}

void fpga_manage::SmartMapping_deal()
{
    if (card_job_paused(true))
        return;
    SendParaRequest& sp = g_send_para;
    const unsigned char fpga = sp.port_index >= 16 ? 1 : 0;
    const unsigned short port = static_cast<unsigned short>(sp.port_index >= 16 ? sp.port_index - 16 : sp.port_index);
    unsigned char frame[kMaxPortFrame];
    switch (sp.step.load()) {
    case 0:
        sp.target_card = 0;
        sp.port_index = line_type.port;
        sp.step = 1;
        trace("\n start send rcv card smartmapping!!! ");
        break;
    case 1:
        sp.card_count = get_port_card_num(sp.port_index);
        if (sp.card_count == 0) {
            sp.step = 4;
        } else if (sp.target_card >= sp.card_count) {
            sp.step = 5;
            sp.port_index = line_type.port;
            trace("\n no card to send rcv card smartmapping!!! write reg  ");
        } else {
            sp.step = 2;
            if (traceOn())
                std::printf("\n send rcv card port : %d, index : %d!!! \n", sp.port_index, sp.target_card);
        }
        break;
    case 2:
        rcv_card_cmd_create(frame, port);
        Send_to_port(frame, 23, port, fpga);
        ++sp.target_card;
        sp.step = 3;
        sp.step_time = G_timeTicks.load();
        card_job_progress(1, 100 * sp.target_card / (sp.card_count + 1));
        g_change.job_time = G_timeTicks.load();
        g_change.progress = 0;
        break;
    case 3:
    case 6:
        if (sp.flag.load() == 1) {
            sp.flag = 0;
            sp.step = sp.step == 3 ? 1 : 5;
            trace("\n rcv message back!!! ");
        } else if (Utils::getTimeSpace(sp.step_time) > 1200) {
            sp.step = sp.step == 3 ? 1 : 5;
            trace("\n timeout!!! ");
        }
        card_job_ticker(1);
        break;
    case 4:
        sp.step = 9;
        card_job_progress(1, 90);
        sp.step_time = G_timeTicks.load();
        trace("\n send rcv card smartmapping over!!! ");
        break;
    case 5:
        if (sp.target_card != sp.card_count) {
            sp.step = 4;
            break;
        }
        ram_reset_cmd_create(frame, 1, 0xFFFF, port);
        Send_to_port(frame, sp.frame_len, port, fpga);
        card_job_progress(1, 100 * sp.target_card / (sp.card_count + 1));
        ++sp.target_card;
        sp.step = 6;
        sp.step_time = G_timeTicks.load();
        g_change.job_time = G_timeTicks.load();
        g_change.progress = 0;
        break;
    case 9:
        if (Utils::getTimeSpace(sp.step_time) >= 201) {
            card_job_progress(1, 100);
            card_job_end();
            trace("\n send rcv card smartmapping ending !!! ");
        }
        break;
    default:
        break;
    }
}

void fpga_manage::card_port_job(unsigned char job)
{
    if (card_job_paused(true))
        return;
    SendParaRequest& sp = g_send_para;
    const bool save = job == 3;
    switch (sp.step.load()) {
    case 0:
        sp.port_index = 0;
        sp.step = 1;
        trace("\n start send save para!!! ");
        break;
    case 1:
        if (sp.port_index > 31) {
            sp.step = 4;
            break;
        }
        sp.card_count = get_port_card_num(sp.port_index);
        if (sp.card_count != 0) {
            sp.step = 2;
            if (traceOn())
                std::printf(save ? "\n send rcv card port : %d,%d!!! \n" : "\n send rcv card port : %d,card_num =%d!!! \n",
                            sp.port_index, sp.card_count);
        } else {
            ++sp.port_index;
            trace(save ? "\n no card to send save para!!! " : "\n no card to send mapping enable para!!! ");
        }
        break;
    case 2: {
        const unsigned char fpga = sp.port_index >= 16 ? 1 : 0;
        const unsigned short port =
            static_cast<unsigned short>(sp.port_index >= 16 ? sp.port_index - 16 : sp.port_index);
        unsigned char frame[kMaxPortFrame];
        if (save) {
            save_para_cmd_create(frame, port);
            Send_to_port(frame, 13, port, fpga);
        } else {
            mapping_enable_cmd_create(port, frame);
            Send_to_port(frame, 15, port, fpga);
        }
        card_job_progress(job, 100 * sp.port_index / 33);
        ++sp.port_index;
        g_change.progress = 0;
        sp.step = 3;
        g_change.job_time = G_timeTicks.load();
        sp.step_time = G_timeTicks.load();
        break;
    }
    case 3: {
        const unsigned int limit = save ? 100u * sp.card_count + 1200u : 1200u;
        if (sp.flag.load() == 1) {
            sp.flag = 0;
            sp.step = 1;
            trace("\n rcv message back!!! ");
        } else if (Utils::getTimeSpace(sp.step_time) > limit) {
            sp.step = 1;
            trace("\n timeout!!! ");
        }
        card_job_ticker(job);
        break;
    }
    case 4:
        sp.step = 9;
        card_job_progress(job, 95);
        sp.step_time = G_timeTicks.load();
        trace(save ? "\n send save para over!!! " : "\n send mapping over!!! \n send mapping para over!!! ");
        break;
    case 9:
        if (Utils::getTimeSpace(sp.step_time) >= 201) {
            card_job_progress(job, 100);
            card_job_end();
        }
        break;
    default:
        break;
    }
}

void fpga_manage::save_para_deal()
{
    card_port_job(3);
}

void fpga_manage::mapping_enable_deal()
{
    card_port_job(4);
}
