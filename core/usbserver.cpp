#include "core/usbserver.h"

#include "core/global.h"
#include "core/gui_handoff.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "ui/shell/option.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>

UsbServer* UsbServer::p_usbserver = nullptr;

namespace {

const char kUsbStorage[] = "/proc/scsi/usb-storage";
constexpr size_t kMessageSize = 4096;

std::vector<std::string> split_path(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t slash = text.find('/', start);
        parts.push_back(text.substr(start, slash - start));
        if (slash == std::string::npos)
            return parts;
        start = slash + 1;
    }
}

void sleep_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

UsbServer::UsbServer(QObject* parent) : QObject(parent) {}

UsbServer* UsbServer::pInstance()
{
    if (!p_usbserver) {
        p_usbserver = new UsbServer();
        p_usbserver->initialize();
    }
    return p_usbserver;
}

int UsbServer::initialize()
{
    if (traceOn()) {
        std::printf("=========UsbServer::initialize()=========== ");
        std::printf("\n usb server getpid = %d \n", static_cast<int>(::getpid()));
    }
    if (open_source() != 0)
        return 255;
    if (pthread_create(&thread_, nullptr, &UsbServer::acceptThread, this) != 0) {
        if (traceOn())
            std::printf("UsbServer create accept thread failed");
        writeLogMsg(ERROR, "UsbServer create accept thread failed");
        return 255;
    }
    pthread_detach(thread_);
    return 0;
}

int UsbServer::open_source()
{
    fd_ = platform::hotplug().open();
    if (fd_ >= 0)
        return 0;
    if (traceOn())
        std::printf(" UsbServer  bind error:%m\n");
    writeLogMsg(ERROR, std::string("UsbServer bind error:") + std::strerror(errno));
    return 255;
}

void* UsbServer::acceptThread(void* arg)
{
    Utils::name_thread("usb-hotplug");
    UsbServer* self = static_cast<UsbServer*>(arg);
    for (;;) {
        // recvData() waits for a message itself; a failed source is looked
        // at again after a pause rather than in a tight loop.
        if (self->recvData() != 0)
            sleep_ms(100);
    }
    return nullptr;
}

int UsbServer::recvData()
{
    char buffer[kMessageSize + 1];
    std::memset(buffer, 0, sizeof(buffer));
    const ssize_t n = platform::hotplug().receive(fd_, buffer, kMessageSize, receive_wait_ms_);
    if (n < 0) {
        if (traceOn())
            std::printf("UsbServer select error:%m\n");
        return 255;
    }
    if (n > 0)
        deal_message(buffer, static_cast<size_t>(n));
    return 0;
}

bool UsbServer::names_partition(const std::vector<std::string>& parts, size_t i)
{
    if (parts[i] != "block" || i + 2 >= parts.size() || parts[i + 1] != "sda")
        return false;
    const std::string& p = parts[i + 2];
    return p.size() == 4 && p.compare(0, 3, "sda") == 0 && p[3] >= '0' && p[3] <= '9';
}

void UsbServer::deal_message(const char* buffer, size_t length)
{
    // The message is the text up to the first zero byte; the device path
    // in it is only compared, never used to reach a file.
    const std::string text(buffer, strnlen(buffer, length));
    const std::vector<std::string> parts = split_path(text);
    bool added = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] == "add@") {
            added = true;
            usb_signal(kUsbAdded);
        } else if (parts[i] == "remove@") {
            usb_signal(kUsbRemoved);
        } else if (added && names_partition(parts, i)) {
            // Only an added partition is waited for: a removed disk's
            // driver may never come back.
            if (!wait_partition_ready())
                continue;
            usb_signal(kUsbPartitionReady);
            // The settings menu gives way to the page that reads the disk.
            Option::request_close();
        }
    }
}

bool UsbServer::wait_partition_ready()
{
    const std::string storage = platform::boardPath(kUsbStorage);
    const unsigned int asked = G_timeTicks.load();
    while (!Utils::isFileExists(storage, false)) {
        if (Utils::getTimeSpace(asked) > kStorageWaitTicks) {
            writeLogMsg(WARNING, "USB partition without the USB storage driver");
            return false;
        }
        sleep_ms(10);
    }
    if (traceOn())
        std::printf("\n usb have mound ok ");
    const unsigned int found = G_timeTicks.load();
    while (Utils::getTimeSpace(found) <= kSettleTicks)
        sleep_ms(10);
    return true;
}

int UsbServer::usb_signal(int code)
{
    if (code >= kUsbAdded && code <= kUsbPartitionReady)
        ++emitted_[code - kUsbAdded];
    gui_handoff::posted();
    emit sig_usb_update(code);
    return 1;
}

unsigned int UsbServer::emitted(int code) const
{
    return code >= kUsbAdded && code <= kUsbPartitionReady ? emitted_[code - kUsbAdded].load() : 0;
}
