// The screen's last act: every way the screen is lit or darkened on purpose
// is recorded here when it happens, and the FPGA thread shows what the
// record says on every FPGA that is up, and on every FPGA it brings up.
#include "sendcard/fpga_manage.h"

#include "core/calendar.h"

#include <mutex>

namespace {

struct ScreenRecord {
    std::mutex mutex;
    fpga_manage::ScreenAct fpga[2];   // what each FPGA is to show
    fpga_manage::ScreenAct word;      // the last act on word 2116
    // The PC's RAM write of the word applied by its flag since that act
    // (seq 0: none), an act or not.
    fpga_manage::ScreenAct applied;
    uint64_t count = 0;               // acts recorded (the latest seq)
};

ScreenRecord& record()
{
    static ScreenRecord r;
    return r;
}


} // namespace

long long fpga_manage::local_seconds(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    return 86400LL * calendar::days_from_1970(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                                              static_cast<unsigned>(tm.tm_mday)) +
           3600LL * tm.tm_hour + 60LL * tm.tm_min + tm.tm_sec;
}

// The rule: the latest act decides, ordered by when each act happened. An
// act happening now (the PC's, start-up) is the latest there is. An act of
// the schedule happened at its minute, however late the FPGA thread gets
// round to it: it does not replace an act that came after that minute
// began, and that came after the schedule's look at the minute before (a
// clock set back makes no earlier act later). The schedule's own acts are
// in the order of their minutes (an on and an off time of one minute: on,
// then off). The PC's RAM write of word 2116, applied by its flag, is an
// act there when it sets the word otherwise than the last act on it did,
// compared again with an on time that the FPGA thread reaches after the
// flag but that happened before it.
unsigned fpga_manage::record_screen_act(ScreenAct act, unsigned targets, uint64_t lookSeq, uint64_t* seq)
{
    ScreenRecord& r = record();
    std::lock_guard<std::mutex> hold(r.mutex);
    if (lookSeq == kActNow)
        act.wall = local_seconds(clock_now.load()());
    auto later = [&](const ScreenAct& e) {
        const bool scheduled = e.kind == ScreenActKind::OnTime || e.kind == ScreenActKind::OffTime;
        return lookSeq == kActNow || e.seq <= lookSeq || e.wall < act.wall || (scheduled && e.wall == act.wall);
    };
    unsigned replaced = 0;
    for (unsigned bit : {kActFpga0, kActFpga1, kActWord})
        if ((targets & bit) && later(bit == kActWord ? r.word : r.fpga[bit == kActFpga0 ? 0 : 1]))
            replaced |= bit;
    if (replaced == 0)
        return 0;
    act.seq = ++r.count;
    if (seq)
        *seq = act.seq;
    if (replaced & kActFpga0)
        r.fpga[0] = act;
    if (replaced & kActFpga1)
        r.fpga[1] = act;
    if (replaced & kActWord)
        r.word = act;
    if ((replaced & kActWord) && lookSeq == kActNow)
        r.applied = ScreenAct();
    // An on time reached late, over a RAM write the PC's flag applied after
    // its minute: the write was compared with the act before the on time,
    // and is an act after it when it sets the word otherwise.
    const ScreenAct& ram = r.applied;
    if ((replaced & kActWord) && lookSeq != kActNow && ram.seq > lookSeq && ram.wall >= act.wall &&
        ram.dark != act.dark) {
        ScreenAct after = ram;
        after.seq = ++r.count;
        r.fpga[0] = r.fpga[1] = r.word = after;
        r.applied = ScreenAct();
    }
    return replaced;
}

void fpga_manage::blackout_word_act(bool dark)
{
    ScreenAct act;
    act.kind = ScreenActKind::BlackoutWord;
    act.dark = dark;
    record_screen_act(act, kActScreen | kActWord);
}

void fpga_manage::blackout_word_applied(bool dark)
{
    ScreenRecord& r = record();
    std::lock_guard<std::mutex> hold(r.mutex);
    // Happening now: the latest there is (see record_screen_act).
    ScreenAct act;
    act.kind = ScreenActKind::BlackoutWord;
    act.dark = dark;
    act.wall = local_seconds(clock_now.load()());
    act.seq = ++r.count;
    if (r.word.dark == dark) {
        r.applied = act;   // what the last act on the word set already
        return;
    }
    r.fpga[0] = r.fpga[1] = r.word = act;
    r.applied = ScreenAct();
}

fpga_manage::ScreenAct fpga_manage::screen_act_of(unsigned char fpga)
{
    ScreenRecord& r = record();
    std::lock_guard<std::mutex> hold(r.mutex);
    return r.fpga[fpga & 1];
}

fpga_manage::ScreenAct fpga_manage::blackout_word_last_act()
{
    ScreenRecord& r = record();
    std::lock_guard<std::mutex> hold(r.mutex);
    return r.word;
}

uint64_t fpga_manage::screen_acts_recorded()
{
    ScreenRecord& r = record();
    std::lock_guard<std::mutex> hold(r.mutex);
    return r.count;
}

void fpga_manage::reset_screen_record()
{
    ScreenRecord& r = record();
    std::lock_guard<std::mutex> hold(r.mutex);
    r.fpga[0] = r.fpga[1] = r.word = r.applied = ScreenAct();
    r.count = 0;
}

void fpga_manage::show_screen_record(bool force)
{
    // While the screen is dark for an LED request, the reset that ends it
    // shows the record.
    if (led_request_dark.load() != 0)
        return;
    for (unsigned char i = 0; i < 2; ++i) {
        if (!fpga_up(i))
            continue;
        const ScreenAct act = screen_act_of(i);
        if (!force && act.seq == screen_shown_seq[i])
            continue;
        // Not answered: the FPGA is reset and its bring-up shows the record.
        if (write_to_register(kRegScreen, kScreenBlackout, act.dark ? kScreenBlackout : 0x00, i))
            screen_shown_seq[i] = act.seq;
    }
}
