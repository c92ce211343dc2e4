// 4G-module transport of the control link (/dev/ttyS1, g_BPS baud). Its
// pass-through code is its own, so that the cards' answers come back here.
#pragma once

#include "core/published.h"
#include "link/serial_modules.h"
#include "platform/nodes.h"

class Kq_uart_inout_4G : public serial_modules {
public:
    static constexpr const char* kNode = platform::nodes::kModem4G;

    // Creates the transport on the first call (port and receive thread) and
    // returns it.
    static Kq_uart_inout_4G* pInstance();
    static Published<Kq_uart_inout_4G> p_uart_inout_4G;

    Kq_uart_inout_4G();
    ~Kq_uart_inout_4G() override;

protected:
    void run_thread() override { receive_thread_4G(); }

private:
    void receive_thread_4G() { receive_loop(); }
};
