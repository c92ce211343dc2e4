// RS-485 transport of the control link (/dev/ttyS2, g_BPS baud).
#pragma once

#include "core/published.h"
#include "link/serial_modules.h"
#include "platform/nodes.h"

class Kq_uart_inout : public serial_modules {
public:
    static constexpr const char* kNode = platform::nodes::kRs485;

    // Creates the transport on the first call (port and receive thread) and
    // returns it.
    static Kq_uart_inout* pInstance();
    static Published<Kq_uart_inout> p_uart_inout;

    Kq_uart_inout();
    ~Kq_uart_inout() override;

protected:
    void run_thread() override { receive_thread(); }

private:
    void receive_thread() { receive_loop(); }
};
