// Process-wide state of the control link, with its start values.
#pragma once

#include <QString>
#include <atomic>

// TCP listening port (from tcpip.ini item TcpPort) and the same as an
// integer setting that the PC's network command overwrites.
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

// Network settings (refilled by Utils::getIPAddress).
extern QString g_str_ip;
extern QString g_srt_mask;
extern QString g_str_gateway;
extern QString g_str_mac;
extern QString g_str_barcode;
extern QString g_str_wifi_ip;
