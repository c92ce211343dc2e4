#include "link/uart_inout.h"

Kq_uart_inout* Kq_uart_inout::p_uart_inout = nullptr;

Kq_uart_inout::Kq_uart_inout() = default;

Kq_uart_inout* Kq_uart_inout::pInstance()
{
    if (!p_uart_inout)
        p_uart_inout = new Kq_uart_inout();
    return p_uart_inout;
}
