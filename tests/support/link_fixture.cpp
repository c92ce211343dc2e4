#include "support/link_fixture.h"

#include "core/config_engine.h"
#include "link/link_global.h"
#include "link/link_transport.h"
#include "link/service_line.h"
#include "sim/board.h"
#include "sim/shell_model.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

bool alwaysReady()
{
    return true;
}

} // namespace

void LinkTest::SetUp()
{
    StoreTest::SetUp();
    ConfigEngine::resetForTest();
    writeParaFile(defaultFile());
    ConfigEngine::pInstance();
    store = load();
    message_deal::services_ready = &alwaysReady;
    g_zdr_file_deal_para = ZdrFileDealPara();
    g_app_reset_flag = 0;
    g_osd_update = 0;
    pc_cmd_valid = 0;
    sim::Board::instance().shell().clearLog();
}

void LinkTest::TearDown()
{
    message_deal::services_ready = &message_deal::default_services_ready;
    g_zdr_file_deal_para = ZdrFileDealPara();
    g_app_reset_flag = 0;
    g_osd_update = 0;
    ConfigEngine::resetForTest();
    StoreTest::TearDown();
}

message_deal::Origin LinkTest::defaultOrigin()
{
    message_deal::Origin o;
    o.transport = 3;
    o.peer = 1;
    return o;
}

pcclient::Reply LinkTest::call(uint16_t dest, unsigned char command, const pcclient::Bytes& payload,
                               unsigned char port, message_deal::Origin origin)
{
    const pcclient::Bytes body = pcclient::buildBody(dest, command, payload, port);
    const int n = deal.message_group_deal(body.data(), static_cast<int>(body.size()), origin);
    if (n <= 0)
        return pcclient::Reply();
    return pcclient::parseReply(deal.reply(), n);
}

std::vector<std::string> LinkTest::shellCommands() const
{
    return sim::Board::instance().shell().commands();
}

bool LinkTest::ranCommand(const std::string& command) const
{
    const std::vector<std::string> c = shellCommands();
    return std::find(c.begin(), c.end(), command) != c.end();
}

int readsBeforeTheWrite(pcclient::Link& pc1, pcclient::Link& pc2, bool eachApart,
                        const std::function<bool()>& meanwhile)
{
    using namespace pcclient;
    const Bytes read = frameBody(buildBody(kProcessor, 0x61, ramReadPayload(0, 1024)));
    Bytes reads;
    for (int i = 0; i < 64; ++i)
        reads.insert(reads.end(), read.begin(), read.end());
    {
        const ParaWriteLock held;
        for (int i = 0; i < (eachApart ? 64 : 1); ++i)
            if (!pc1.sendRaw(eachApart ? read : reads))
                return -1;
        // PC 1's first read is being served once it waits for the store.
        if (!meanwhile() || !waitFor([] { return link_requests_in_service() > 0; }, 5000))
            return -1;
        // While it is, PC 1's stream takes no place, so the next place any
        // line gives is the write's: the hold ends once the write has it
        // (or, when the line does not take it during the read, after 5 s,
        // and the count below shows where the write went).
        const uint64_t places = ServiceLine::placesGiven();
        if (!pc2.sendRaw(frameBody(buildBody(kProcessor, 0x60, ramWritePayload(100, Bytes{0xEE})))))
            return -1;
        waitFor([places] { return ServiceLine::placesGiven() > places; }, 5000);
    }
    Reply r;
    int before = 0;
    for (int i = 0; i < 64; ++i) {
        if (!pc1.receive(r, 3000))
            return -1;
        before += r.data.size() > 100 && r.data[100] == 0xA1 ? 1 : 0;
    }
    return pc2.receive(r, 3000) ? before : -1;
}
