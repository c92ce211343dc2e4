#include "sendcard/screen_acts.h"

#include "core/calendar.h"

long long ScreenActs::local_seconds(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    return 86400LL * calendar::days_from_1970(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                                              static_cast<unsigned>(tm.tm_mday)) +
           3600LL * tm.tm_hour + 60LL * tm.tm_min + tm.tm_sec;
}

unsigned ScreenActs::record(Act act, unsigned targets, uint64_t lookSeq, uint64_t* seq)
{
    std::lock_guard<std::mutex> hold(mutex_);
    if (lookSeq == kNow)
        act.wall = local_seconds(now_.load()());
    // The schedule's own acts are in the order of their minutes (an on and
    // an off time of one minute: on, then off); a clock set back makes no
    // earlier act later.
    auto later = [&](const Act& e) {
        const bool scheduled = e.kind == Kind::OnTime || e.kind == Kind::OffTime;
        return lookSeq == kNow || e.seq <= lookSeq || e.wall < act.wall || (scheduled && e.wall == act.wall);
    };
    unsigned replaced = 0;
    for (unsigned bit : {kFpga0, kFpga1, kWord})
        if ((targets & bit) && later(bit == kWord ? word_ : fpga_[bit == kFpga0 ? 0 : 1]))
            replaced |= bit;
    if (replaced == 0)
        return 0;
    act.seq = ++count_;
    if (seq)
        *seq = act.seq;
    if (replaced & kFpga0)
        fpga_[0] = act;
    if (replaced & kFpga1)
        fpga_[1] = act;
    if (replaced & kWord)
        word_ = act;
    if ((replaced & kWord) && lookSeq == kNow)
        applied_ = Act();
    // An on time reached late, over a RAM write the PC's flag applied after
    // its minute: the write was compared with the act before the on time,
    // and is an act after it when it sets the word otherwise.
    if ((replaced & kWord) && lookSeq != kNow && applied_.seq > lookSeq && applied_.wall >= act.wall &&
        applied_.dark != act.dark) {
        Act after = applied_;
        after.seq = ++count_;
        fpga_[0] = fpga_[1] = word_ = after;
        applied_ = Act();
    }
    return replaced;
}

void ScreenActs::register0_written(unsigned char fpga, bool dark)
{
    // It stays through that FPGA's resets and bring-ups until a later act.
    Act act;
    act.kind = Kind::Register0;
    act.dark = dark;
    record(act, (fpga & 1) == 0 ? kFpga0 : kFpga1);
}

void ScreenActs::word_written(bool dark)
{
    Act act;
    act.kind = Kind::BlackoutWord;
    act.dark = dark;
    record(act, kScreen | kWord);
}

void ScreenActs::word_applied(bool dark)
{
    std::lock_guard<std::mutex> hold(mutex_);
    // Happening now: the latest there is.
    Act act;
    act.kind = Kind::BlackoutWord;
    act.dark = dark;
    act.wall = local_seconds(now_.load()());
    act.seq = ++count_;
    if (word_.dark == dark) {
        applied_ = act;   // what the last act on the word set already
        return;
    }
    fpga_[0] = fpga_[1] = word_ = act;
    applied_ = Act();
}

ScreenActs::Act ScreenActs::of(unsigned char fpga)
{
    std::lock_guard<std::mutex> hold(mutex_);
    return fpga_[fpga & 1];
}

ScreenActs::Act ScreenActs::word_last()
{
    std::lock_guard<std::mutex> hold(mutex_);
    return word_;
}

uint64_t ScreenActs::recorded()
{
    std::lock_guard<std::mutex> hold(mutex_);
    return count_;
}
