// WiFi access point and station manager.
#pragma once

class K47_WIFI_CONFIG {
public:
    static K47_WIFI_CONFIG* pInstance();
    static K47_WIFI_CONFIG* p_wifi_config;

private:
    K47_WIFI_CONFIG();
};
