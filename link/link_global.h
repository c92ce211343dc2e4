// Process-wide state of the control link, with its start values.
#pragma once

#include "sendcard/pc_activity.h"

#include <QString>
#include <atomic>
#include <cstdint>

class MD5;

// TCP listening port (from tcpip.ini item TcpPort) and the same as an
// integer setting that the PC's network command overwrites; owned by
// Utils::_settings_mutex like the network strings below.
extern unsigned int g_port;
extern unsigned int g_int_tcp_port;
// Baud rate and set-up value of the RS-485 and 4G serial ports.
extern unsigned int g_BPS;
extern unsigned int g_dataLen;
// Transport mode switches read by the UDP threads and the TCP server.
extern unsigned char g_udpnetmode;
extern unsigned char g_networkMode;
// Transport of the pending pass-through frame; 0xFF = none pending.
extern std::atomic<unsigned char> g_passby_trans_port;

// Pass-through transport codes kept in g_passby_trans_port.
constexpr unsigned char kPassbyRs485 = 1;
constexpr unsigned char kPassbyTcp = 2;
constexpr unsigned char kPassbyUdp = 3;
constexpr unsigned char kPassby4G = 4;
constexpr unsigned char kPassbyNone = 0xFF;

// PC activity (pc_cmd_valid, pc_cmd_time, from sendcard/pc_activity.h,
// its rule and owner): every request the link serves marks it.

// Network settings (refilled by Utils::getIPAddress), owned by
// Utils::_settings_mutex: read and written only through Utils (network_settings,
// settings_copy, set_wifi_ip, getIPAddress).
extern QString g_str_ip;
extern QString g_srt_mask;
extern QString g_str_gateway;
extern QString g_str_mac;
extern QString g_str_barcode;
extern QString g_str_wifi_ip;

// The one 5 MiB transfer buffer shared by the PC file transfers and the
// FPGA thread's upgrade and parameter-file work. Touched only under
// Utils::_file_deal_mutex; while g_zdr_file_deal_para.active is set a PC
// upload owns its contents between frames.
constexpr unsigned int kFileBufSize = 5u * 1024u * 1024u;
extern unsigned char fileBuf_velmo[kFileBufSize];

// State of the PC file upload in progress (guarded by
// Utils::_file_deal_mutex).
struct ZdrFileDealPara {
    bool active = false;
    unsigned char type = 0;       // file type number
    char name[5] = {0};           // four-character type tag ("ALIS", "MO0a", ...)
    unsigned int size = 0;        // declared size
    unsigned int received = 0;    // bytes received without a gap from 0
    unsigned char transport = 0;  // pass-through code of the owning transport
    uint64_t peer = 0;            // the owner's peer on that transport
    unsigned int stamp = 0;       // G_timeTicks of the last frame of the upload
};
extern ZdrFileDealPara g_zdr_file_deal_para;

// The process-wide MD5 object of the file transfers (used under
// Utils::_file_deal_mutex).
extern MD5 md5;
