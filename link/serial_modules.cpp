#include "link/serial_modules.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "link/link_global.h"
#include "link/link_io.h"
#include "platform/platform.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kPollMs = 200;

} // namespace

serial_modules::serial_modules(std::string node, unsigned char passbyCode)
    : m_node(std::move(node))
    , m_passbyCode(passbyCode)
{
}

serial_modules::~serial_modules()
{
    stop();
}

bool serial_modules::start(uint32_t baud)
{
    stop();
    fd = platform::serial().open(m_node, baud);
    if (fd < 0) {
        writeLogMsg(ERROR, "serial port " + m_node + " cannot be opened");
        return false;
    }
    m_stop = false;
    m_endpoint.reset();
    m_thread = std::thread(&serial_modules::run_thread, this);
    return true;
}

void serial_modules::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (fd >= 0)
        platform::serial().close(fd);
    fd = -1;
}

int serial_modules::send_uart_data(const SendRecord& record)
{
    if (record.length > sizeof(record.data))
        return 255;
    return link_write_all(static_cast<int>(record.descriptor), record.data, record.length) ? 0 : 255;
}

bool serial_modules::reply_list_ready()
{
    return !uart_send_list.empty();
}

void serial_modules::send_reply_list()
{
    for (const SendRecord& r : uart_send_list)
        send_uart_data(r);
    uart_send_list.clear();
}

void serial_modules::receive_loop()
{
    Utils::name_thread(m_passbyCode == kPassbyRs485 ? "rs485-rx" : "4g-rx");
    unsigned char buffer[4096];
    while (!m_stop) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, kPollMs);
        if (r <= 0 || !(p.revents & POLLIN)) {
            if (r > 0 && (p.revents & (POLLERR | POLLNVAL)))
                ::usleep(kPollMs * 1000);   // a port in error: do not spin
            continue;
        }
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n <= 0)
            continue;
        m_endpoint.receive(buffer, static_cast<size_t>(n), 0, [this](const unsigned char* data, int length) {
            link_write_all(fd, data, static_cast<size_t>(length));
        });
    }
}

void serial_modules::queue_reply(const unsigned char* framed, int length)
{
    link_replace_reply(uart_send_list, framed, length).descriptor = static_cast<uint32_t>(fd);
}
