// The control link on loopback.
// - Round trip of a RAM read, against a bare echo over the same kind of
//   socket measured in the same run: each iteration makes one request to
//   the control link and one to the echo server; the counters give both
//   medians (microseconds) and their ratio.
// - Many PCs at once (1 and 8), each in a closed loop of RAM reads (the next
//   sent when the reply came): the counter replies_per_s is the replies all
//   PCs got per second.
#include "core/config_engine.h"
#include "core/global.h"
#include "core/zdrrampara.h"
#include "link/message_deal.h"
#include "link/networkmanage.h"
#include "link/udpnetmanage.h"
#include "pcclient/pc_client.h"
#include "platform/platform.h"
#include "sim/board.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace pcclient;

namespace {

bool ready()
{
    return true;
}

// A bare echo server on 127.0.0.1 (UDP or TCP, one connection).
class EchoServer {
public:
    explicit EchoServer(bool tcp)
        : m_tcp(tcp)
    {
        m_fd = ::socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(a);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        if (tcp)
            ::listen(m_fd, 4);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~EchoServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    unsigned short port = 0;

private:
    void run()
    {
        unsigned char buf[65536];
        int conn = -1;
        while (!m_stop) {
            const int fd = m_tcp ? (conn >= 0 ? conn : m_fd) : m_fd;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            if (m_tcp && conn < 0) {
                conn = ::accept(m_fd, nullptr, nullptr);
                continue;
            }
            sockaddr_in from{};
            socklen_t len = sizeof(from);
            const ssize_t n = ::recvfrom(fd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n <= 0) {
                if (m_tcp) {
                    ::close(conn);
                    conn = -1;
                }
                continue;
            }
            if (m_tcp)
                (void)!::send(conn, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
            else
                (void)!::sendto(fd, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
        if (conn >= 0)
            ::close(conn);
    }
    bool m_tcp;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The simulated board with the parameter store, in a temporary folder.
struct Board {
    Board()
    {
        char tmpl[] = "/tmp/zdr-bench-XXXXXX";
        dir = ::mkdtemp(tmpl);
        g_debugSwitch = 0;   // no console tracing
        platform::selectBackend(platform::Backend::Sim);
        sim::Board::instance().reset(dir + "/root");
        sim::Board::instance().prepareFileSystem();
        ConfigEngine::pInstance();
        ZdrRamPara::pInstance();
        message_deal::services_ready = &ready;
    }
    ~Board()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string dir;
};

Board& board()
{
    static Board b;
    return b;
}

double median(std::vector<double>& v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

template <typename LinkT>
void roundTrips(benchmark::State& state, LinkT& device, LinkT& echo)
{
    const Bytes request = frameBody(buildBody(kProcessor, 0x61, ramReadPayload(2176, 16)));
    std::vector<double> deviceUs, echoUs;
    unsigned char buf[4096];
    for (auto _ : state) {
        Reply r;
        auto t0 = std::chrono::steady_clock::now();
        if (!device.request(kProcessor, 0x61, ramReadPayload(2176, 16), r) || r.status != 0) {
            state.SkipWithError("no reply from the control link");
            return;
        }
        auto t1 = std::chrono::steady_clock::now();
        size_t got = 0;
        echo.sendRaw(request);
        while (got < request.size()) {
            const long n = echo.receiveRaw(buf, sizeof(buf), 3000);
            if (n <= 0) {
                state.SkipWithError("no echo");
                return;
            }
            got += static_cast<size_t>(n);
        }
        auto t2 = std::chrono::steady_clock::now();
        deviceUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        echoUs.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
    }
    const double d = median(deviceUs), e = median(echoUs);
    state.counters["link_median_us"] = d;
    state.counters["echo_median_us"] = e;
    state.counters["ratio"] = e > 0 ? d / e : 0;
}

void BM_UdpRamReadVsEcho(benchmark::State& state)
{
    board();
    udpnetManage udp(0, 0);
    EchoServer echoServer(false);
    UdpLink device, echo;
    device.open("127.0.0.1", udp.control_port());
    echo.open("127.0.0.1", echoServer.port);
    roundTrips(state, device, echo);
}
BENCHMARK(BM_UdpRamReadVsEcho)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

void BM_TcpRamReadVsEcho(benchmark::State& state)
{
    board();
    networkManage tcp(0);
    EchoServer echoServer(true);
    TcpLink device, echo;
    device.open("127.0.0.1", tcp.port());
    echo.open("127.0.0.1", echoServer.port);
    roundTrips(state, device, echo);
}
BENCHMARK(BM_TcpRamReadVsEcho)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

// The context switches of this process's threads whose names begin with
// prefix (the link's workers: "udp-", "tcp-"): voluntary (a worker waited;
// the counter switches_per_reply) and in all (also preempted, as when the
// PC it woke runs on its core; all_switches_per_reply). Which of the two a
// round trip costs depends on where the scheduler puts the PC's thread;
// their sum does not.
struct Switches {
    long voluntary = 0;
    long all = 0;
};

Switches workerSwitches(const std::string& prefix)
{
    Switches sum;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (!std::getline(comm, name) || name.rfind(prefix, 0) != 0)
            continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            const bool voluntary = line.rfind("voluntary_ctxt_switches:", 0) == 0;
            if (voluntary || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                const long n = std::stol(line.substr(line.find(':') + 1));
                sum.all += n;
                sum.voluntary += voluntary ? n : 0;
            }
        }
    }
    return sum;
}

// state.range(0) PCs, each on its own link and thread, make `each` RAM
// reads per iteration, pauseMs apart (0: back to back); the workers' context
// switches per reply are counted too.
template <typename LinkT>
void manyPcs(benchmark::State& state, unsigned short port, const std::string& workers, int each = 200, int pauseMs = 0)
{
    const int pcs = static_cast<int>(state.range(0));
    std::vector<std::unique_ptr<LinkT>> links;
    for (int i = 0; i < pcs; ++i) {
        links.push_back(std::make_unique<LinkT>());
        links.back()->open("127.0.0.1", port);
    }
    std::atomic<bool> failed{false};
    double seconds = 0;
    int64_t replies = 0;
    const Switches before = workerSwitches(workers);
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        std::vector<std::thread> threads;
        for (auto& link : links)
            threads.emplace_back([&failed, each, pauseMs, l = link.get()] {
                for (int n = 0; n < each && !failed; ++n) {
                    if (n > 0 && pauseMs > 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
                    Reply r;
                    if (!l->request(kProcessor, 0x61, ramReadPayload(2176, 16), r) || r.status != 0)
                        failed = true;
                }
            });
        for (std::thread& t : threads)
            t.join();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        replies += int64_t{pcs} * each;
        if (failed) {
            state.SkipWithError("no reply from the control link");
            return;
        }
    }
    state.counters["replies_per_s"] = seconds > 0 ? static_cast<double>(replies) / seconds : 0;
    const Switches after = workerSwitches(workers);
    const auto perReply = [replies](long n) { return replies > 0 ? static_cast<double>(n) / static_cast<double>(replies) : 0; };
    state.counters["switches_per_reply"] = perReply(after.voluntary - before.voluntary);
    state.counters["all_switches_per_reply"] = perReply(after.all - before.all);
}

void BM_UdpManyPcs(benchmark::State& state)
{
    board();
    udpnetManage udp(0, 0);
    manyPcs<UdpLink>(state, udp.control_port(), "udp-");
}
BENCHMARK(BM_UdpManyPcs)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

void BM_TcpManyPcs(benchmark::State& state)
{
    board();
    networkManage tcp(0);
    manyPcs<TcpLink>(state, tcp.port(), "tcp-");
}
BENCHMARK(BM_TcpManyPcs)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

// One PC polling: a RAM read every 20 ms (what the workers cost per request
// when requests come one at a time).
void BM_UdpPollingPc(benchmark::State& state)
{
    board();
    udpnetManage udp(0, 0);
    manyPcs<UdpLink>(state, udp.control_port(), "udp-", 50, 20);
}
BENCHMARK(BM_UdpPollingPc)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_TcpPollingPc(benchmark::State& state)
{
    board();
    networkManage tcp(0);
    manyPcs<TcpLink>(state, tcp.port(), "tcp-", 50, 20);
}
BENCHMARK(BM_TcpPollingPc)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
