// Process-wide state of the core services, with the start values it has
// before any file is read.
#pragma once

#include <QString>
#include <atomic>
#include <string>
#include <vector>

// Console tracing: 254 turns all trace printing on; also selects which log
// levels are echoed.
extern unsigned char g_debugSwitch;
// Count of 10 ms ticks of the board's monotonic clock since
// Utils::start_tick_thread(); advanced only by the tick thread (see there),
// whatever the GUI thread is doing.
extern std::atomic<unsigned int> G_timeTicks;

// Display language (block byte 768): 0 Chinese, 1 English, 2 Russian,
// 3 Vietnamese; any other value shows English.
extern unsigned char g_language;

// Device id: 32 lower-case hexadecimal characters derived from the SoC's
// unique id; empty (all zero bytes) until it has been read.
extern char g_pid[32];
// 1 when the launch line in /data/configs/led_load_config.ini is the
// standard one.
extern unsigned char g_update_status;

// Settings loaded from /data/configs/tcpip.ini by Utils::getIPAddress,
// owned by Utils::_settings_mutex (read them with Utils::settings_copy).
extern QString g_usb_grade_path;
extern QString g_check_edid;
extern QString g_imagelayoutpassword;
extern int g_check_source;
extern unsigned int g_zdr_max_pixel;
extern QString g_eVoq_cloudserverip;
extern int g_eVoq_cloudserverport;
extern QString g_eVoq_clouduserid;
extern QString g_eVoq_controllername;
extern unsigned char g_eVoq_cloud;

// Factory-ageing log lines and their count.
extern std::vector<std::string> factoryage_log;
extern unsigned int factoryage_log_num;

// Tracing helper: true while console tracing is on.
inline bool traceOn() { return g_debugSwitch == 254; }
