#include "core/global.h"

unsigned char g_debugSwitch = 254;
std::atomic<unsigned int> G_timeTicks{0};
unsigned char g_language = 0;

char g_pid[32] = {};
unsigned char g_update_status = 0;

QString g_usb_grade_path;
QString g_check_edid;
QString g_imagelayoutpassword;
int g_check_source = 255;
unsigned int g_zdr_max_pixel = 19600000;
QString g_eVoq_cloudserverip;
int g_eVoq_cloudserverport = 0;
QString g_eVoq_clouduserid;
QString g_eVoq_controllername;
unsigned char g_eVoq_cloud = 0;

std::vector<std::string> factoryage_log;
unsigned int factoryage_log_num = 0;
