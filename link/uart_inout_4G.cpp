#include "link/uart_inout_4G.h"

#include "link/link_global.h"

Published<Kq_uart_inout_4G> Kq_uart_inout_4G::p_uart_inout_4G;

Kq_uart_inout_4G::Kq_uart_inout_4G()
    : serial_modules(kNode, kPassby4G)
{
}

Kq_uart_inout_4G::~Kq_uart_inout_4G()
{
    stop();
}

Kq_uart_inout_4G* Kq_uart_inout_4G::pInstance()
{
    if (!p_uart_inout_4G) {
        p_uart_inout_4G = new Kq_uart_inout_4G();
        p_uart_inout_4G->start(g_BPS);
    }
    return p_uart_inout_4G;
}
