// 4G-module transport of the control link (/dev/ttyS1).
#pragma once

class Kq_uart_inout_4G {
public:
    static Kq_uart_inout_4G* pInstance();
    static Kq_uart_inout_4G* p_uart_inout_4G;

private:
    Kq_uart_inout_4G();
};
