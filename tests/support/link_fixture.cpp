#include "support/link_fixture.h"

#include "core/config_engine.h"
#include "link/link_global.h"
#include "sim/board.h"
#include "sim/shell_model.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <algorithm>

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
