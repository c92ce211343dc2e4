#include "platform/platform.h"

#include "platform/backends.h"

#include <atomic>
#include <mutex>

namespace platform {
namespace {

std::atomic<Backend> g_backend{
#ifdef ZDR_DEVICE_BUILD
    Backend::Board
#else
    Backend::Sim
#endif
};

std::mutex g_rebootMutex;
std::function<void()> g_rebootHandler;

bool sim() { return g_backend.load() == Backend::Sim; }

} // namespace

Backend defaultBackend()
{
#ifdef ZDR_DEVICE_BUILD
    return Backend::Board;
#else
    return Backend::Sim;
#endif
}

Backend backend() { return g_backend.load(); }
void selectBackend(Backend b) { g_backend.store(b); }

Shell& shell() { return sim() ? simboard::shell() : board::shell(); }
Spi& spi() { return sim() ? simboard::spi() : board::spi(); }
I2c& i2c() { return sim() ? simboard::i2c() : board::i2c(); }
PhysMem& physMem() { return sim() ? simboard::physMem() : board::physMem(); }
Mtd& mtd() { return sim() ? simboard::mtd() : board::mtd(); }
Serial& serial() { return sim() ? simboard::serial() : board::serial(); }
TouchInput& touch() { return sim() ? simboard::touch() : board::touch(); }
Hotplug& hotplug() { return sim() ? simboard::hotplug() : board::hotplug(); }
const Net& net() { return sim() ? simboard::net() : board::net(); }
Clock& clock() { return sim() ? simboard::clock() : board::clock(); }

bool startForProgram()
{
    if (sim())
        return simboard::startForProgram();
    setBoardRoot("/");
    return true;
}

bool checkEnvironment(std::string& error)
{
    return !sim() || simboard::checkEnvironment(error);
}

void prepareGui()
{
    if (sim())
        simboard::prepareGui();
}

void programStarted()
{
    if (sim())
        simboard::programStarted();
}

void programEnding()
{
    if (sim())
        simboard::programEnding();
}

const char* simDefaultBoardRoot()
{
    return simboard::defaultBoardRoot();
}

unsigned settleDelayMs()
{
    if (!sim())
        return 3000;
    return simboard::settleDelayMs();
}

void setRebootHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(g_rebootMutex);
    g_rebootHandler = std::move(handler);
}

void requestReboot()
{
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> lock(g_rebootMutex);
        handler = g_rebootHandler;
    }
    if (handler)
        handler();
}

} // namespace platform
