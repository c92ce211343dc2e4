// The functions of the other device parts that the PC commands reach. Each
// one answers "not available" until its part exists on this device build:
// wiring one in is a change of its body only.
#include "core/logMsg.h"
#include "link/message_deal.h"

#include <atomic>

namespace link_services {

namespace {

unsigned char notAvailable(const char* what)
{
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        writeLogMsg(WARNING, std::string("control link: not available: ") + what);
    return link_frame::kNotAvailable;
}

} // namespace

unsigned char sendcard_write_ram(int, uint32_t, const unsigned char*, int)
{
    return notAvailable("sending-card RAM write");
}

unsigned char sendcard_read_ram(int, uint32_t, unsigned char*, int)
{
    return notAvailable("sending-card RAM read");
}

unsigned char sendcard_write_register(int, unsigned, unsigned char, unsigned char)
{
    return notAvailable("sending-card register write");
}

unsigned char sendcard_read_register(int, unsigned, unsigned char*)
{
    return notAvailable("sending-card register read");
}

unsigned char c331_font_update()
{
    return notAvailable("c331 font reload");
}

unsigned char c331_print()
{
    return notAvailable("c331 register print");
}

void clock_set_record_timing() {}

} // namespace link_services
