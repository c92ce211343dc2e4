#include "link/uart_inout.h"

#include "link/link_global.h"

Published<Kq_uart_inout> Kq_uart_inout::p_uart_inout;

Kq_uart_inout::Kq_uart_inout()
    : serial_modules(kNode, kPassbyRs485)
{
}

Kq_uart_inout::~Kq_uart_inout()
{
    stop();
}

Kq_uart_inout* Kq_uart_inout::pInstance()
{
    if (!p_uart_inout) {
        p_uart_inout = new Kq_uart_inout();
        p_uart_inout->start(g_BPS);
    }
    return p_uart_inout;
}
