#include "link/udpnetmanage.h"

udpnetManage* udpnetManage::p_udpnetManage = nullptr;

udpnetManage::udpnetManage() = default;

udpnetManage* udpnetManage::pInstance()
{
    if (!p_udpnetManage)
        p_udpnetManage = new udpnetManage();
    return p_udpnetManage;
}
