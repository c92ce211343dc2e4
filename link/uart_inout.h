// RS-485 transport of the control link (/dev/ttyS2).
#pragma once

class Kq_uart_inout {
public:
    static Kq_uart_inout* pInstance();
    static Kq_uart_inout* p_uart_inout;

private:
    Kq_uart_inout();
};
