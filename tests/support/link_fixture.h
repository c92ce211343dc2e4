// Fixture for tests of the control link on a fresh simulated board: the
// parameter store loaded, the handlers' services taken as present, and a
// message_deal to send requests to.
#pragma once

#include "support/store_fixture.h"
#include "support/wait_for.h"

#include "link/message_deal.h"
#include "pcclient/pc_client.h"

#include <string>
#include <vector>

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
