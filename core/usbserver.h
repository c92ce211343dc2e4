// USB hot-plug events: kernel uevents turned into USB event codes 100
// (added), 101 (removed) and 102 (disk partition ready).
#pragma once

#include <QObject>

class UsbServer : public QObject {
    Q_OBJECT
public:
    static UsbServer* pInstance();
    static UsbServer* p_usbserver;

signals:
    void sig_usb_update(int code);

private:
    UsbServer();
};
