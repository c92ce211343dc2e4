// Clock, on/off schedule and power control of the FPGA thread: the time
// record read from the system clock, the clock set by the PC, the daily
// on/off times and the power sequence fields of the multi-function card.
#include "sendcard/fpga_manage.h"

#include "core/calendar.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstring>

namespace {

std::time_t systemNow()
{
    return std::time(nullptr);
}

// A BCD byte as a number; -1 when a nibble is not a decimal digit.
int fromBcd(unsigned char b)
{
    if ((b >> 4) > 9 || (b & 0x0F) > 9)
        return -1;
    return (b >> 4) * 10 + (b & 0x0F);
}

constexpr unsigned kOnOffRecordRead = 50;


} // namespace

std::atomic<std::time_t (*)()> fpga_manage::clock_now{systemNow};

int fpga_manage::IT8563WE_Get(TimeRealType* t)
{
    if (!t)
        return 0;
    QString text;
    {
        QMutexLocker lock(&Utils::_system_mutex);
        const std::time_t now = clock_now.load()();
        std::tm tm{};
        localtime_r(&now, &tm);
        char buf[64];
        std::strftime(buf, sizeof(buf), "%Y/%m/%d/%H/%M/%S/%a", &tm);
        text = QString::fromLatin1(buf);
    }
    const QStringList f = text.split('/');
    if (f.size() < 6)
        return 0;
    t->year = static_cast<unsigned short>(f[0].toInt());
    t->month = static_cast<unsigned char>(f[1].toInt());
    t->day = static_cast<unsigned char>(f[2].toInt());
    t->hour = static_cast<unsigned char>(f[3].toInt());
    t->minute = static_cast<unsigned char>(f[4].toInt());
    t->second = static_cast<unsigned char>(f[5].toInt());
    return 0;
}

// Read whatever the FPGAs are doing: the schedule acts on every FPGA that
// is up while another one retries its link.
void fpga_manage::Record_Time_Deal()
{
    if (Utils::getTimeSpace(g_change.time_read_time) < 26)
        return;
    // The acts recorded before this read came before the minute it reads.
    time_read_seq = screen_acts.recorded();
    IT8563WE_Get(&time_real);
    time_known = true;
    g_change.time_read_time = G_timeTicks;
}

namespace {

// A date of the calendar from 2000 to 2099 and a time of the day.
bool clock_valid(int year, int month, int day, int hour, int minute, int second)
{
    if (year < calendar::kFirstYear || year > calendar::kLastYear || day < 1)
        return false;
    return day <= calendar::days_in_month(year, month) && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
           second >= 0 && second <= 59;
}

} // namespace

fpga_manage::ClockSet fpga_manage::set_clock(int year, int month, int day, int hour, int minute, int second,
                                             const char* who)
{
    const QString date = QString("%1-%2-%3").arg(year).arg(month).arg(day);
    const QString time = QString("%1:%2:%3").arg(hour).arg(minute).arg(second);
    const std::string said = std::string("clock set by ") + who + " to " + (date + " " + time).toStdString();
    if (!clock_valid(year, month, day, hour, minute, second)) {
        writeLogMsg(WARNING, said + " refused: not a date and time from 2000 to 2099");
        return ClockSet::Refused;
    }
    // One command line: the system clock is set, then written to the
    // hardware clock; its status is the hardware clock's.
    int status = 0;
    if (Utils::system_mutex("date \"" + date + " " + time + "\";hwclock -wu", &status) != 0) {
        writeLogMsg(ERROR, said + " failed: the clock command returned " + std::to_string(status));
        return ClockSet::Failed;
    }
    return ClockSet::Done;
}

void fpga_manage::Checktime(const unsigned char* p)
{
    const int yy = fromBcd(p[8]), cc = fromBcd(p[9]);
    // A byte that is no BCD number is no date: it is refused as one.
    const int year = yy < 0 || cc < 0 ? -1 : cc * 100 + yy;
    if (set_clock(year, fromBcd(p[10]), fromBcd(p[11]), fromBcd(p[12]), fromBcd(p[13]), fromBcd(p[14]),
                  "the command page") == ClockSet::Done &&
        p_fpga_manage)
        clock_record.dealwith_record_timing();
}

void fpga_manage::OnOff_time(const unsigned char* page)
{
    onoff_load(page);
}

void fpga_manage::onoff_load(const unsigned char* page)
{
    unsigned char count = page[8];
    if (count > 4)
        count = 4;
    onoff_count = count;
    std::memset(on_pending, 0, sizeof(on_pending));
    std::memset(off_pending, 0, sizeof(off_pending));
    for (unsigned k = 0; k < count; ++k) {
        const unsigned char* e = page + 9 + 4 * k;
        const int onH = fromBcd(e[0]), onM = fromBcd(e[1]), offH = fromBcd(e[2]), offM = fromBcd(e[3]);
        // An entry outside the day never matches a time: it is left unarmed.
        if (onH < 0 || onH > 23 || onM < 0 || onM > 59 || offH < 0 || offH > 23 || offM < 0 || offM > 59) {
            writeLogMsg(WARNING, "on/off schedule: entry " + std::to_string(k) + " is not a valid time");
            on_hour[k] = on_minute[k] = off_hour[k] = off_minute[k] = 0xFF;
            continue;
        }
        on_hour[k] = static_cast<unsigned char>(onH);
        on_minute[k] = static_cast<unsigned char>(onM);
        off_hour[k] = static_cast<unsigned char>(offH);
        off_minute[k] = static_cast<unsigned char>(offM);
        on_pending[k] = 1;
        off_pending[k] = 1;
    }
}

void fpga_manage::record_onoff_time(unsigned char chip)
{
    if (chip != 2 && MCU_REG_func[0][80] != 3)
        return;
    // Read into a page of its own: the command page is the PCs'.
    unsigned char record[kOnOffRecordRead];
    fpga_flash_access();
    if (!drv->FPGA_SPI_FLASH_VBYONE_READ(2, kOnOffRecord, sizeof(record), record)) {
        writeLogMsg(ERROR, "on/off schedule: the stored record cannot be read");
        return;
    }
    if (record[0] != 0xAA)
        return;
    if (record[1] != 2 || record[2] != 0xAA) {
        writeLogMsg(WARNING, "on/off schedule: the stored record is damaged");
        return;
    }
    // The schedule in force read again at a bring-up: each entry keeps what
    // it has done today, so that a reset in the minute of a time does not
    // act it a second time over what the PC set since.
    auto times = [this](unsigned k) {
        return uint32_t(on_hour[k]) << 24 | uint32_t(on_minute[k]) << 16 | off_hour[k] << 8 | off_minute[k];
    };
    const unsigned char countWas = onoff_count;
    uint32_t timesWas[4];
    unsigned char onWas[4], offWas[4];
    for (unsigned k = 0; k < 4; ++k)
        timesWas[k] = times(k);
    std::memcpy(onWas, on_pending, sizeof(onWas));
    std::memcpy(offWas, off_pending, sizeof(offWas));
    onoff_load(record);
    bool same = onoff_count == countWas;
    for (unsigned k = 0; k < onoff_count; ++k)
        same = same && times(k) == timesWas[k];
    if (same) {
        std::memcpy(on_pending, onWas, sizeof(onWas));
        std::memcpy(off_pending, offWas, sizeof(offWas));
    }
    set_reg_image(0, 66, 1);
}

void fpga_manage::schedule_deal()
{
    RecordHold records(*this);
    if (take_back_seq != 0)
        take_back_blackout();
    // Until the clock has been read the time record is no time of day.
    if (time_known && reg_image(0, 66) == 1)
        dealwith_onoff();
}

void fpga_manage::take_back_blackout()
{
    // The word is the system's own state from here (no change pass acts on
    // it, and it is no act): the PC reads back 0. A write of the word since
    // the on time is later than it and stays: an act on the word, or the
    // PC's RAM write waiting for its flag (applied at the flag, later than
    // the on time). The check and the write are in one hold of the block:
    // a write of the word records its act, or its note, before it gives
    // the block back.
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store) {
        take_back_seq = 0;
        return;
    }
    const bool held = C331ParaLock::held();
    if (!held && !C331ParaLock::try_acquire())
        return;   // the next pass tries again
    const bool written = screen_acts.word_last().seq == take_back_seq && !store->blackout_written_pending() &&
                         store->block_word(para::kBlackout) != 0 &&
                         c331_manage::write_back_word(SystemWord::kBlackout, 0, true);
    if (!held)
        C331ParaLock::release();
    take_back_seq = 0;
    if (written)
        store->test_signal(1);
}

void fpga_manage::dealwith_onoff()
{
    const TimeRealType& t = time_real;
    const long long now = 1440LL * calendar::days_from_1970(t.year, t.month, t.day) + 60 * t.hour + t.minute;
    // The acts recorded before the schedule's last look came before every
    // minute it looks at now.
    const uint64_t lookSeq = onoff_look_seq;
    onoff_look_seq = time_read_seq;
    bool acted = false;
    // A minute's on and off times act in the screen record as of that
    // minute: an act that came after it began stays.
    auto actMinute = [&](long long minute) {
        const unsigned did = onoff_minute(static_cast<unsigned char>(minute % 1440 / 60),
                                          static_cast<unsigned char>(minute % 60));
        ScreenActs::Act act;
        act.wall = minute * 60;
        if (did & kMinuteOn) {
            // The off period ends, and so does a black-out the PC set before
            // (word 2116): the screen lights.
            act.kind = ScreenActs::Kind::OnTime;
            act.dark = false;
            uint64_t seq = 0;
            if (screen_acts.record(act, ScreenActs::kScreen | ScreenActs::kWord, lookSeq, &seq) & ScreenActs::kWord)
                take_back_seq = seq;
        }
        if (did & kMinuteOff) {
            act.kind = ScreenActs::Kind::OffTime;
            act.dark = true;
            screen_acts.record(act, ScreenActs::kScreen, lookSeq);
        }
        acted |= did != 0;
    };
    // Minutes the schedule did not look at (an FPGA retrying its link, a
    // long job, an upgrade) act now, in order, a day back at most: the
    // screen ends as the last of their times left it, unless the PC acted
    // after it. A clock set back acts nothing again.
    if (onoff_minute_known && now > onoff_last_minute + 1) {
        for (long long m = std::max(onoff_last_minute + 1, now - 1439); m < now; ++m) {
            if (m % 1440 == 0) {
                onoff_rearm();
                onoff_last_day = t.day;   // the rest of the span is today
            }
            actMinute(m);
        }
    }
    onoff_minute_known = true;
    onoff_last_minute = now;
    actMinute(now);
    if (acted) {
        if (take_back_seq != 0)
            take_back_blackout();
        show_screen_record();
        Power_ctrl_reset();
    }
    if (t.day != onoff_last_day) {
        onoff_rearm();
        onoff_last_day = t.day;
    }
}

unsigned fpga_manage::onoff_minute(unsigned char hour, unsigned char minute)
{
    unsigned did = 0;
    for (unsigned k = 0; k < onoff_count && k < 4; ++k) {
        if (on_pending[k] == 1 && hour == on_hour[k] && minute == on_minute[k]) {
            on_pending[k] = 0;
            screen_off_state = 0;
            did |= kMinuteOn;
        }
    }
    for (unsigned k = 0; k < onoff_count && k < 4; ++k) {
        if (off_pending[k] == 1 && hour == off_hour[k] && minute == off_minute[k]) {
            off_pending[k] = 0;
            screen_off_state = 1;
            did |= kMinuteOff;
        }
    }
    return did;
}

void fpga_manage::onoff_rearm()
{
    for (unsigned k = 0; k < onoff_count && k < 4; ++k) {
        // Entries that are no valid time stay unarmed.
        if (on_hour[k] == 0xFF)
            continue;
        on_pending[k] = 1;
        off_pending[k] = 1;
    }
}

// Start: no sequence pending. A scheduled switch: the sequence is to start
// again from channel 1. Both clear its timing.
void fpga_manage::Power_ctrl_init()
{
    Power_ctrl_reset();
    power_pending_start = 0;
}

void fpga_manage::Power_ctrl_reset()
{
    power_started = 0;
    power_pending_start = 1;
    power_channel = 1;
    power_step_time = 0;
    power_wait_time = 0;
}
