// libFuzzer target over the control link's reassembly and dispatch. Each
// input is fed to a protocol_phy as a byte stream (in pieces whose sizes
// come from the input) and every frame it yields goes to message_deal; the
// input is also handed to the dispatcher as one body with a correct check
// byte and a device address, so that the handlers see arbitrary payloads.
// Everything runs on a simulated board in a temporary folder.
#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "link/link_global.h"
#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "platform/platform.h"
#include "sim/board.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string g_root;

bool ready()
{
    return true;
}

void removeRoot()
{
    std::error_code ec;
    if (!g_root.empty())
        std::filesystem::remove_all(std::filesystem::path(g_root).parent_path(), ec);
}

void setUp()
{
    char tmpl[] = "/tmp/zdr-fuzz-XXXXXX";
    const char* dir = ::mkdtemp(tmpl);
    if (!dir)
        std::abort();
    g_root = std::string(dir) + "/root";
    std::atexit(removeRoot);
    g_debugSwitch = 0;   // no console tracing
    platform::selectBackend(platform::Backend::Sim);
    sim::Board::instance().reset(g_root);
    if (!sim::Board::instance().prepareFileSystem())
        std::abort();
    ConfigEngine::pInstance();
    ZdrRamPara::pInstance();
    message_deal::services_ready = &ready;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool once = (setUp(), true);
    (void)once;
    static protocol_phy phy;
    static message_deal deal;
    if (size == 0)
        return 0;

    message_deal::Origin origin;
    origin.transport = static_cast<unsigned char>(data[0] & 3) + 1;
    origin.peer = data[0] >> 2;

    // 1. The stream, in pieces: the first byte gives the piece size.
    const size_t piece = (data[0] % 37) + 1;
    phy.reset();
    for (size_t off = 1; off < size; off += piece) {
        const size_t n = std::min(piece, size - off);
        phy.push(data + off, n, [&](const unsigned char* body, int length) {
            if (!link_frame::isPassThrough(body, length))
                deal.message_group_deal(body, length, origin);
        });
    }

    // 2. The input as one body addressed to the device, check byte fixed.
    if (size >= 12 && size - 1 <= static_cast<size_t>(protocol_phy::kMaxBody)) {
        std::vector<unsigned char> body(data + 1, data + size);
        body[0] = (data[0] & 0x80) ? 0x00 : 0x01;   // the sending card or the processor
        body[1] = 0xF0;
        body.back() = Utils::BCC(body.data(), static_cast<unsigned>(body.size() - 1));
        deal.message_group_deal(body.data(), static_cast<int>(body.size()), origin);
    }

    // 3. The un-escaping of the raw bytes.
    std::vector<unsigned char> out(size);
    protocol_phy::data_transf_meaning(out.data(), data, static_cast<int>(size));
    return 0;
}
