#include "link/link_global.h"

#include "core/md5.h"

unsigned int g_port = 5005;
unsigned int g_int_tcp_port = 5005;
unsigned int g_BPS = 115200;
unsigned int g_dataLen = 32;
unsigned char g_udpnetmode = 1;
unsigned char g_networkMode = 1;
std::atomic<unsigned char> g_passby_trans_port{0xFF};

QString g_str_ip = "192.168.1.199";
QString g_srt_mask = "255.255.255.0";
QString g_str_gateway = "192.168.1.1";
QString g_str_mac = "FF:FF:FF:FF:FF:FF";
QString g_str_barcode = " ";
QString g_str_wifi_ip = "192.168.22.101";

unsigned char fileBuf_velmo[kFileBufSize];
ZdrFileDealPara g_zdr_file_deal_para;
MD5 md5;
