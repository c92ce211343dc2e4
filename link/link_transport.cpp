#include "link/link_transport.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "link/link_global.h"

#include <atomic>

bool passthrough_to_cards(link_transport& transport, const unsigned char* frame, int length)
{
    // The sending card's port traffic is not part of this build: the frame
    // is dropped without an answer, as the cards would leave it.
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        writeLogMsg(WARNING, "control link: pass-through to the receiving cards is not available");
    (void)transport;
    (void)frame;
    (void)length;
    return false;
}

link_endpoint::link_endpoint(link_transport& transport)
    : m_transport(transport)
{
}

void link_endpoint::receive(const unsigned char* data, size_t length, uint64_t peer, const Sender& send)
{
    m_phy.push(data, length, [&](const unsigned char* body, int n) {
        pc_cmd_time = G_timeTicks.load();
        pc_cmd_valid = 1;
        if (link_frame::isPassThrough(body, n)) {
            passthrough_to_cards(m_transport, body, n);
            return;
        }
        message_deal::Origin origin;
        origin.transport = m_transport.passby_code();
        origin.peer = peer;
        const int r = m_deal.message_group_deal(body, n, origin);
        if (r <= 0)
            return;
        const int framed = protocol_phy::data_re_transf_meaning(m_framed, m_deal.reply(), r, nullptr);
        send(m_framed, framed);
    });
}
