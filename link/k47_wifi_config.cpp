#include "link/k47_wifi_config.h"

K47_WIFI_CONFIG* K47_WIFI_CONFIG::p_wifi_config = nullptr;

K47_WIFI_CONFIG::K47_WIFI_CONFIG() = default;

K47_WIFI_CONFIG* K47_WIFI_CONFIG::pInstance()
{
    if (!p_wifi_config)
        p_wifi_config = new K47_WIFI_CONFIG();
    return p_wifi_config;
}
