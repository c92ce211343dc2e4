// TCP transport of the control link (server on g_port).
#pragma once

class networkManage {
public:
    static networkManage* pInstance();
    static networkManage* p_networkManage;

private:
    networkManage();
};
