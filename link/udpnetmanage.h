// UDP transport of the control link: control frames on port 5008 and the
// WiFi AT-command channel on port 13769.
#pragma once

class udpnetManage {
public:
    static udpnetManage* pInstance();
    static udpnetManage* p_udpnetManage;

private:
    udpnetManage();
};
