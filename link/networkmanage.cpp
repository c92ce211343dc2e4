#include "link/networkmanage.h"

networkManage* networkManage::p_networkManage = nullptr;

networkManage::networkManage() = default;

networkManage* networkManage::pInstance()
{
    if (!p_networkManage)
        p_networkManage = new networkManage();
    return p_networkManage;
}
