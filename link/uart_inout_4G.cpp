#include "link/uart_inout_4G.h"

Kq_uart_inout_4G* Kq_uart_inout_4G::p_uart_inout_4G = nullptr;

Kq_uart_inout_4G::Kq_uart_inout_4G() = default;

Kq_uart_inout_4G* Kq_uart_inout_4G::pInstance()
{
    if (!p_uart_inout_4G)
        p_uart_inout_4G = new Kq_uart_inout_4G();
    return p_uart_inout_4G;
}
