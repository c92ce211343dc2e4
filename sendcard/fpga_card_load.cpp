// The loader of one operate record to the receiving cards, and what all
// card jobs share: progress, the PC pause, the end of a job.
#include "sendcard/fpga_manage.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "sendcard/rcv_recovery_file.h"
#include "ui/shell/advancedoption.h"

#include <cstdio>

SmartMappingLineType line_type;
QString g_kqfile_name;
std::atomic<void (*)(int)> g_smartmapping_progress{nullptr};

namespace {

constexpr unsigned kPacket = 1000;

void trace(const char* text)
{
    if (traceOn())
        std::printf("%s", text);
}

void traceFrame(const char* in, const unsigned char* f, unsigned n, const char* out)
{
    if (!traceOn())
        return;
    std::printf("%s", in);
    for (unsigned i = 0; i < n; ++i)
        std::printf(" 0x%02x ", f[i]);
    std::printf("%s", out);
}

} // namespace

void fpga_manage::card_job_progress(unsigned char job, int value)
{
    job_progress = value;
    if (job == 5 || job == 6) {
        AdvancedOption::report_progress(value);
    } else if (void (*report)(int) = g_smartmapping_progress.load()) {
        report(value);
    }
}

void fpga_manage::card_job_ticker(unsigned char job)
{
    if (Utils::getTimeSpace(g_change.job_time) <= 100)
        return;
    if (++g_change.progress > 99)
        g_change.progress = 1;
    g_change.job_time = G_timeTicks.load();
    card_job_progress(job, static_cast<int>(g_change.progress));
}

bool fpga_manage::card_job_paused(bool clearSearch)
{
    const PcActivity pc = pc_activity();
    if (pc == PcActivity::Quiet)
        return false;
    if (pc == PcActivity::RanOut && clearSearch)
        search_sent_mask = 0;
    g_change.job_time = G_timeTicks.load();
    g_send_para.step_time = G_timeTicks.load();
    return true;
}

void fpga_manage::card_job_end()
{
    fpga_end_card_job();
}

void fpga_manage::loader_send(const unsigned char* frame, unsigned short length)
{
    const unsigned ledx = rcv_recovery->net_para.net_ledx;
    const unsigned char fpga = ledx < 16 ? 0 : 1;
    const unsigned short port = static_cast<unsigned short>(ledx < 16 ? ledx : ledx - 16);
    Send_to_port(frame, length, port, fpga);
    g_send_para.loader_step = 31;
    g_send_para.step_time = G_timeTicks.load();
}

int fpga_manage::load_rcv_xy_operate(const QString& path, unsigned int dataPos, bool all)
{
    SendParaRequest& sp = g_send_para;
    rcvRecovery& r = *rcv_recovery;
    rcvRecovery::OperatePara& op = r.operate;
    const unsigned ledx = r.net_para.net_ledx;
    const unsigned short port = static_cast<unsigned short>(ledx < 16 ? ledx : ledx - 16);
    unsigned char data[kMaxPortFrame];
    unsigned char frame[kMaxPortFrame];

    // A record that cannot be carried out ends the loader at once and the
    // job through its failure end.
    auto damaged = [&](const std::string& why) {
        writeLogMsg(WARNING, "card parameter record " + std::to_string(sp.operate_index) + ": " + why);
        sp.record_failed = true;
        sp.loader_step = 32;
    };
    // Reads the record's data: true when read. Data outside the file is a
    // damaged record; a file that cannot be read is tried again on the
    // next pass, for kRecordReadTicks at most.
    auto readData = [&](uint64_t at, unsigned length) {
        if (length > sizeof(data) || at > 0xFFFFFFFFull) {
            damaged("data of " + std::to_string(length) + " bytes does not fit a frame");
            return false;
        }
        const int res = r.update_rcvOperatedata(path, static_cast<unsigned int>(at), data,
                                                static_cast<unsigned short>(length));
        if (res == rcvRecovery::kOutOfRange) {
            damaged("data outside the file");
            return false;
        }
        if (res != rcvRecovery::kOk) {
            if (!sp.read_failing) {
                sp.read_failing = true;
                sp.read_fail_time = G_timeTicks.load();
            } else if (Utils::getTimeSpace(sp.read_fail_time) > kRecordReadTicks) {
                damaged("the file cannot be read");
                return false;
            }
            sp.step_time = G_timeTicks.load();
            return false;
        }
        sp.read_failing = false;
        return true;
    };
    // Sends a frame its builder made; a builder that made none (the data
    // does not fit a port frame) leaves a damaged record.
    auto send = [&](unsigned length, const char* in, const char* out) {
        if (length == 0) {
            damaged("data of " + std::to_string(op.dataLen) + " bytes does not fit a frame");
            return;
        }
        traceFrame(in, frame, length, out);
        loader_send(frame, static_cast<unsigned short>(length));
    };
    // The packet this try sends: the next one, or the same again while a
    // retry runs. It counts as sent only once its data could be read, so a
    // read tried again on the next pass does not skip a packet.
    const unsigned short packet = static_cast<unsigned short>(sp.retry == 0 ? sp.packets_sent + 1 : sp.packets_sent);
    auto nextTry = [&]() { sp.packets_sent = packet; };

    switch (sp.loader_step) {
    case 20:
        sp.retry = 0;
        sp.record_failed = false;
        sp.read_failing = false;
        sp.loader_step = 21;
        return 0;
    case 21:
        sp.card_count = get_port_card_num(ledx);
        if (!all)
            sp.target_card = sp.card_index;
        else
            sp.target_card = sp.card_count ? static_cast<unsigned short>(sp.card_count - 1) : 0;
        sp.loader_step = 22;
        return 0;
    case 22:
        // Only a RAM write comes in several packets.
        sp.packet_count = 1;
        sp.packets_sent = 0;
        if (op.timeticks > kMaxRecordWaitMs) {
            damaged("a wait of " + std::to_string(op.timeticks) + " ms");
            return 0;
        }
        switch (op.type) {
        case 1:
            if (op.target == 1) {
                const uint32_t packets = op.dataLen / kPacket + 1;
                if (packets > 0xFFFF) {
                    damaged("RAM data of " + std::to_string(op.dataLen) + " bytes");
                    break;
                }
                sp.packet_count = static_cast<unsigned short>(packets);
                sp.loader_step = 23;
                if (traceOn())
                    std::printf("\n send load scan write step : write ram!!1!!!,packet=%d \n", sp.packet_count);
            } else if (op.target == 2) {
                sp.loader_step = 24;
                if (traceOn())
                    std::printf("\n send load scan write step : write register!!1!!!,packet=%d \n", sp.packet_count);
            } else {
                if (traceOn())
                    std::printf("\n send load scan write step : error!!1!!!,packet=%d \n", sp.packet_count);
                damaged("a write to target " + std::to_string(op.target));
            }
            break;
        case 2:
            op.timeticks += 1000u * sp.card_count;
            sp.loader_step = 26;
            break;
        case 3:
            sp.loader_step = 25;
            break;
        case 5:
            sp.loader_step = 27;
            break;
        case 6:
            sp.loader_step = 28;
            sp.step_time = G_timeTicks.load();
            break;
        case 7:
            sp.loader_step = 29;
            break;
        case 16:
            sp.loader_step = 30;
            break;
        default:
            // An operation the cards are not loaded with here (a card
            // firmware upgrade, type 4) or an unknown one.
            damaged("operation type " + std::to_string(op.type) + " is not loaded");
            break;
        }
        return 0;
    case 23: {
        const unsigned length = packet < sp.packet_count ? kPacket : op.dataLen % kPacket;
        const uint64_t index = packet ? packet - 1u : 0u;
        if (!readData(uint64_t(dataPos) + index * kPacket, length))
            return 0;
        nextTry();
        if (traceOn())
            std::printf("\n ram create in length = %d ,offset = %#x, send_len=%d\n", length,
                        static_cast<unsigned>(op.targetAddr + kPacket * index), length + 19);
        // A packet of at most 1000 bytes always fits a frame.
        load_write_ram_cmd_create(port, sp.target_card, static_cast<uint32_t>(op.targetAddr + kPacket * index), data,
                                  static_cast<unsigned short>(length), frame, all ? 1 : 0);
        send(sp.frame_len, "\n ram write in", "\n ram write out");
        return 0;
    }
    case 24:
        if (!readData(dataPos, op.dataLen))
            return 0;
        nextTry();
        send(load_write_reg_cmd_create(port, sp.target_card, data, static_cast<unsigned short>(op.dataLen), frame,
                                       all ? 1 : 0),
             "\n write reg in", "\n write reg out");
        return 0;
    case 25:
        if (!readData(dataPos, op.dataLen))
            return 0;
        nextTry();
        send(rcv_active_firmware_cmd_create(port, sp.target_card, data, static_cast<unsigned short>(op.dataLen), frame),
             "\n acitve firmware in", "\n acitve firmware out");
        return 0;
    case 26:
        nextTry();
        save_para2flash_cmd_create(port, sp.target_card, frame, all ? 1 : 0);
        loader_send(frame, 13);
        return 0;
    case 27:
        if (!readData(dataPos, op.dataLen)) {
            if (traceOn())
                std::printf("\n reconfig error length = %d\n", op.dataLen);
            return 0;
        }
        nextTry();
        send(rcv_reconfig_cmd_create(port, sp.target_card, data, static_cast<unsigned short>(op.dataLen), frame),
             "\n reconfig in", "\n reconfig out");
        return 0;
    case 28:
        if (Utils::getTimeSpace(sp.step_time) >= op.timeticks / 10)
            sp.loader_step = 32;
        return 0;
    case 29:
        if (!readData(dataPos, op.dataLen)) {
            trace("\n serach rxc error");
            return 0;
        }
        nextTry();
        send(load_search_rxc_cmd_create(port, data, static_cast<unsigned short>(op.dataLen), frame),
             "\n serach rxc in", "\n search rxc out");
        return 0;
    case 30:
        if (!readData(dataPos, op.dataLen))
            return 0;
        nextTry();
        send(load_write_user_defined_cmd_create(port, sp.target_card, data, static_cast<unsigned short>(op.dataLen),
                                                frame, all ? 1 : 0),
             "\n user defined in", "\n user defined out");
        return 0;
    case 31: {
        const bool perCard = op.type == 3 || op.type == 5;
        const unsigned char again = op.type == 3 ? 25 : 27;
        if (sp.flag.load() == 1) {
            sp.flag = 0;
            sp.retry = 0;
            trace("\n rcv message back!!! ");
            if (perCard) {
                if (all && sp.target_card != 0) {
                    --sp.target_card;
                    sp.loader_step = again;
                } else {
                    sp.loader_step = 32;
                }
            } else {
                sp.loader_step = sp.packets_sent < sp.packet_count ? 23 : 32;
            }
            return 0;
        }
        if (Utils::getTimeSpace(sp.step_time) <= op.timeticks / 10)
            return 0;
        trace("\n timeout!!! ");
        // A frame the cards never confirm is given up after its four tries
        // and the load goes on with the next card or packet, as with an
        // answer; the job is marked not completed (reported at its end).
        auto givenUp = [&]() {
            if (!sp.failed.load())
                writeLogMsg(WARNING, "card parameter record " + std::to_string(sp.operate_index) +
                                         ": no answer from the cards after four tries; the load goes on "
                                         "(later frames without answer in this job are not logged)");
            sp.failed = true;
            sp.retry = 0;
        };
        if (perCard) {
            if (sp.retry < 3) {
                ++sp.retry;
                sp.loader_step = again;
            } else if (all && sp.target_card != 0) {
                givenUp();
                --sp.target_card;
                sp.loader_step = again;
            } else {
                givenUp();
                sp.loader_step = 32;
            }
            return 0;
        }
        unsigned char back = 0;
        if (op.type == 1)
            back = op.target == 1 ? 23 : 24;
        else if (op.type == 2)
            back = 26;
        else if (op.type == 16)
            back = 30;
        if (back == 0) {
            sp.loader_step = 32;
        } else if (sp.retry < 3) {
            ++sp.retry;
            sp.loader_step = back;
        } else {
            givenUp();
            sp.loader_step = sp.packets_sent < sp.packet_count ? back : 32;
        }
        return 0;
    }
    case 32:
        return 1;
    default:
        return 0;
    }
}
