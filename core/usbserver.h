// USB hot-plug events: kernel uevents turned into USB event codes 100
// (added), 101 (removed) and 102 (disk partition ready).
#pragma once

#include <QObject>
#include <atomic>
#include <cstddef>
#include <pthread.h>
#include <string>
#include <vector>

class UsbServer : public QObject {
    Q_OBJECT
public:
    enum : int { kUsbAdded = 100, kUsbRemoved = 101, kUsbPartitionReady = 102 };

    // The program's object: made and started on the first call.
    static UsbServer* pInstance();
    static UsbServer* p_usbserver;

    // Objects of tests run no thread; they are fed with deal_message().
    explicit UsbServer(QObject* parent = nullptr);

    // Opens the hot-plug source and starts the listening thread: 0, or 255
    // when either fails (no USB events are reported then).
    int initialize();
    void unInitialize() {}
    void delete_clinetSocket(int) {}

    // Opens the hot-plug source: 0, or 255 when it cannot be opened.
    int open_source();
    // Waits a while for one message and handles it: 0, or 255 when the
    // source failed.
    int recvData();
    // How long one look at the source waits for a message, in ms.
    void set_receive_wait(int ms) { receive_wait_ms_ = ms; }
    // Handles one kernel message (the text up to its first zero byte).
    void deal_message(const char* buffer, size_t length);
    // Emits the code; 1.
    int usb_signal(int code);

    // Whether the parts of a device path, from index i, name a partition
    // sda0 to sda9: "block", "sda", "sdaN".
    static bool names_partition(const std::vector<std::string>& parts, size_t i);

    // Codes emitted so far, per code (100..102).
    unsigned int emitted(int code) const;
    // True while the hot-plug source is open.
    bool listening() const { return fd_ >= 0; }

    // How long a ready partition waits for the USB storage driver, and how
    // long after it the disk is given to settle, in ticks.
    static constexpr unsigned int kStorageWaitTicks = 1000;
    static constexpr unsigned int kSettleTicks = 300;

signals:
    void sig_usb_update(int code);

private:
    static void* acceptThread(void* arg);
    // Waits for the USB storage driver and lets the disk settle; false when
    // the driver never shows.
    bool wait_partition_ready();

    int fd_ = -1;
    int receive_wait_ms_ = 500;
    pthread_t thread_{};
    std::atomic<unsigned int> emitted_[3] = {};
};
