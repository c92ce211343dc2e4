#include "core/usbserver.h"

UsbServer* UsbServer::p_usbserver = nullptr;

UsbServer::UsbServer() = default;

UsbServer* UsbServer::pInstance()
{
    if (!p_usbserver)
        p_usbserver = new UsbServer();
    return p_usbserver;
}
