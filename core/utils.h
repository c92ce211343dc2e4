// Static helpers shared by every subsystem: check bytes and CRCs, shell
// commands one at a time, the network settings, MTD erase and write, the
// tick arithmetic, and the process-wide mutexes with their lock order.
//
// Lock order: where a thread holds one lock and takes another, the first
// comes earlier in these chains; a lock is never taken while one named
// after it in its chain is held.
// - _test_signal_mutex (one emission of the store's refresh signal at a
//   time; the GUI thread's refresh runs inside it), then the c331 manage
//   mutex, then the chain below; or _file_deal_mutex, then _system_mutex.
// - The c331 manage mutex (c331_manage::c331_mutex, taken through
//   C331ParaLock, C331ParaAccess and ParaWriteLock; the chip thread holds
//   it across its whole change pass, SPI programming included, the FPGA
//   thread only tries it), then any one of the short holds: the parameter
//   store's ParaBytesLock (bytes copied by a reader alone, or stored by a
//   writer through ParaWriteLock, which takes the manage mutex first),
//   _led_para_init_mutex or
//   _bri_set_mutex (a flag posted), _source_hdminfo_mutex or
//   _check_nosig_mutex (input records copied); or the chip's register
//   chain: the chip flash mutex (c331_manage::sfl_mutex, one flash or OSD
//   drawing command), then _c331_bnk_mutex, then _spi_mutex.
// - The FPGA record mutex (the PC's command page against the FPGA
//   thread's brightness and schedule work), then _test_signal_mutex (the
//   brightness work under it raises a refresh: fpga_cards.cpp's
//   Extension_function -> Brightness_hand_dealwith -> test_signal(1)), or
//   _file_deal_mutex (the PC's stored brightness record has the parameter
//   file hold its percent first), or the pass-through chain's FPGA locks
//   below (the c331 manage mutex only tried), or the FPGA flashes' lock.
// - The FPGA flashes' lock (fpga_drv's flash_mutex_: one flash operation,
//   held across the flash's busy waits), then _spi_mutex (held for each
//   transfer and poll only: never across a busy wait).
// - A pass-through in service (the PC links' requests to the receiving
//   cards are served one at a time, in the order they took their tickets
//   in the pass-through line, link/passthrough_line.h: the request whose
//   ticket is up is served until the cards answer or its wait ends), then
//   the FPGA link mutex, then the port hold (sendcard/port_pairs.h: a
//   frame's fill and start, an answer's read-out; the FPGA record mutex
//   before it too, when the light sensor reads), then one of
//   card_result_mutex, the pass-through
//   open request's mutex (fpga_manage::passby_open_mutex),
//   _fpga_multicast_mutex, _system_mutex, the FPGA image mutex or
//   _spi_mutex (also only tried, to see whether a chip write holds the
//   bus). The FPGA image mutex is never held together with _spi_mutex.
// - _settings_mutex, then the settings engine's mutex.
// - Leaves, each taken with nothing after it: ParaBytesLock (in the
//   lock-check builds a lock taken while it is held ends the program:
//   core/lock_check.h), _spi_mutex,
//   _system_mutex, _usleep_mutex, _source_init_mutex, card_result_mutex,
//   the pass-through open request's mutex,
//   the GUI hand-off's queue lock, the pass-through line's own lock, the
//   WiFi thread's job and file locks, the UDP link's address lock, the
//   running-time record's lock, the packed-file list lock, the factory
//   result and file load locks, and the platform's board-root and reboot
//   locks.
#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>

class Utils {
public:
    static QMutex _system_mutex;
    static QMutex _usleep_mutex;
    static QMutex _led_para_init_mutex;
    static QMutex _bri_set_mutex;
    static QMutex _spi_mutex;
    static QMutex _fpga_multicast_mutex;
    static QMutex _c331_bnk_mutex;
    static QMutex _file_deal_mutex;
    static QMutex _source_init_mutex;
    static QMutex _check_nosig_mutex;
    static QMutex _source_hdminfo_mutex;
    static QMutex _test_signal_mutex;
    // Owns the settings globals that getIPAddress fills from the settings
    // file: the network strings and ports (g_str_ip, g_srt_mask,
    // g_str_gateway, g_str_mac, g_str_barcode, g_str_wifi_ip, g_port,
    // g_int_tcp_port) and the others it loads (g_imagelayoutpassword,
    // g_usb_grade_path, ...). The link threads, the WiFi thread, the FPGA
    // thread and the pages touch them only through the helpers below.
    static QMutex _settings_mutex;

    // Ticks elapsed from the stamp t to G_timeTicks, across the wrap.
    static unsigned int getTimeSpace(unsigned int t);

    // The count of G_timeTicks: one tick per 10 ms of the board's
    // monotonic clock, however late the counting thread wakes.
    struct TickCount {
        static constexpr uint64_t kTickUs = 10000;
        // The whole ticks from the time counted so far to nowUs (1 at the
        // first count); the rest of a tick is counted the next time.
        unsigned int due(uint64_t nowUs);
        bool started = false;
        uint64_t countedUs = 0;
    };
    // Counts G_timeTicks from now on, on a thread of its own: a thread that
    // is busy (the GUI thread storing a change, with its 10 ms timer) holds
    // no wait of another back, nor lets one pass early by a late jump.
    static void start_tick_thread();
    // Calls watch(arg) on the tick thread at every tick (about every 10 ms)
    // until unwatch_ticks(): a look that must happen now and then whatever
    // the others do, at no wake of its own. The tick thread starts for it
    // if need be (it counts G_timeTicks only once start_tick_thread() was
    // called). A watch returns at once and takes no lock. Once
    // unwatch_ticks() returns, no call of that watch runs.
    static void watch_ticks(void (*watch)(void*), void* arg);
    static void unwatch_ticks(void (*watch)(void*), void* arg);

    static unsigned char BCC(const unsigned char* data, unsigned int len);
    static unsigned int calcCRC32(const unsigned char* data, unsigned int len);
    static unsigned short calcCRC16(const unsigned char* data, unsigned int len);
    static unsigned short ruvoCalcCRC16(const unsigned char* data, unsigned int len);
    static unsigned short prq1CRC16Code(const unsigned char* data, unsigned int len);

    // Runs one shell command under _system_mutex; 0 when it returned 0,
    // else 255. status (when not null) receives the raw status the shell
    // runner reports.
    static int system_mutex(const QString& command, int* status = nullptr);

    // Reloads the settings globals from the settings file (one step under
    // _settings_mutex).
    static int getIPAddress();
    static int initIPAddress();

    // The network settings as device information reports them, copied
    // together under _settings_mutex.
    struct NetworkSettings {
        QString ip;
        QString mask;
        QString gateway;
        QString mac;
        QString wifiIp;
        unsigned int tcpPort = 0;
    };
    static NetworkSettings network_settings();
    // A copy of one of the settings globals, taken under _settings_mutex.
    template <typename T>
    static T settings_copy(const T& global)
    {
        QMutexLocker lock(&_settings_mutex);
        return global;
    }
    // A new WiFi address: stored in the settings file (when it is loaded)
    // and in g_str_wifi_ip as one step, so that a reload in between cannot
    // bring back the old one.
    static void set_wifi_ip(const QString& ip);
    // A dotted IPv4 quad such as "192.168.1.199" (no other text).
    static bool isDottedQuad(const QString& text);

    static int non_region_erase(int fd, int offset, int length, int unlock);
    static int non_region_write(int fd, const unsigned char* buf, int size, int offset);

    static int stringToInt(const std::string& text);
    static std::string intToString(int value);
    static int usleep_mutex(unsigned int us);
    static int msleep_mutex(unsigned int ms);
    // Names the calling thread (at most 15 characters), as top -H, gdb and
    // the sanitizers show it.
    static void name_thread(const char* name);
    static bool isFileExists(const std::string& path, bool regularOnly);
    static bool isDirExists(const std::string& path);
    static void get_file_list_smartpath(QStringList& list, const QString& dir, const QString& suffix);
    static void change_file_formt(const std::string& path);
    // One iconv conversion; 0 or -1. outUsed (when not null) receives the
    // number of bytes written to out (UCS-2 text holds zero bytes).
    static int ChangeCode(const char* from, const char* to, const char* in, size_t inLen,
                          char* out, size_t outLen, size_t* outUsed = nullptr);
    static int GB2312ToUTF8(std::string& text);
    static int GB2312ToUnicode(std::string& text);
    static int UTF8ToUnicode(std::string& text);
    static int UnicodeToUTF8(std::string& text);
    static int UTF8ToGB2312(std::string& text);
    static int UnicodeToGB2312(std::string& text);
};
