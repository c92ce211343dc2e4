// Fixture for tests of the control link on a fresh simulated board: the
// parameter store loaded, the handlers' services taken as present, and a
// message_deal to send requests to.
#pragma once

#include "support/store_fixture.h"
#include "support/wait_for.h"

#include "link/message_deal.h"
#include "pcclient/pc_client.h"

#include <functional>
#include <string>
#include <vector>

// RAM 100 holds 0xA1. PC 1 sends 64 reads of RAM 0 to 1023 (in one send,
// or one each) while the store is held, so that PC 1's first read, once
// it is served, waits where it copies the store; after what `meanwhile`
// waits for, and once that read is being served, PC 2 writes RAM 100. The
// hold ends once the write has its place in line (5 s at most). How many
// of PC 1's 64 replies show RAM 100 as before the write, or -1 when a send
// failed, the read was not served or a reply did not come.
int readsBeforeTheWrite(pcclient::Link& pc1, pcclient::Link& pc2, bool eachApart,
                        const std::function<bool()>& meanwhile);

class LinkTest : public StoreTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Sends one request body to the dispatcher; the parsed reply (status
    // 0xFF and an empty body when there was none).
    pcclient::Reply call(uint16_t dest, unsigned char command, const pcclient::Bytes& payload,
                         unsigned char port = 0, message_deal::Origin origin = defaultOrigin());
    pcclient::Reply callProcessor(unsigned char command, const pcclient::Bytes& payload)
    {
        return call(pcclient::kProcessor, command, payload);
    }
    static message_deal::Origin defaultOrigin();

    // Shell commands the board recorded since the test began.
    std::vector<std::string> shellCommands() const;
    bool ranCommand(const std::string& command) const;

    ZdrRamPara* store = nullptr;
    message_deal deal;
};
