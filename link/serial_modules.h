// A serial-port transport of the control link (RS-485 and the 4G module):
// the port opened raw 8N1 through the platform, a receive thread that
// waits on the port, and the send list the sending card queues the cards'
// answers on.
#pragma once

#include "link/link_transport.h"

#include <list>
#include <string>
#include <thread>

class serial_modules : public link_transport {
public:
    // A record of the send list: framed bytes and the port they go to.
    struct SendRecord {
        unsigned char data[65556];
        uint32_t descriptor = 0;
        uint32_t length = 0;
    };

    serial_modules(std::string node, unsigned char passbyCode);
    ~serial_modules() override;

    // Opens the port at the given rate and starts the receive thread; false
    // (logged) when the port cannot be opened.
    bool start(uint32_t baud);
    // Ends the thread and closes the port.
    void stop();

    // The port descriptor (-1 while closed).
    int fd = -1;
    std::list<SendRecord> uart_send_list;

    // Writes one record to its descriptor; 0 done, 255 failed.
    int send_uart_data(const SendRecord& record);

    unsigned char passby_code() const override { return m_passbyCode; }
    bool reply_list_ready() override;
    void send_reply_list() override;
    void queue_reply(const unsigned char* framed, int length) override;
    const std::string& node() const { return m_node; }

protected:
    // The receive loop; the two ports' threads run it under their names.
    void receive_loop();
    virtual void run_thread() = 0;

private:
    std::string m_node;
    unsigned char m_passbyCode;
    link_endpoint m_endpoint{*this};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
