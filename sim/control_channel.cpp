#include "sim/control_channel.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace sim {
namespace {

constexpr size_t kMaxRequest = 64 * 1024;

bool sendAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string oneLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    for (char& c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

// The refusal of a command that takes no arguments but got some.
std::string noArguments(const std::string& command)
{
    return "usage: " + command + " (no arguments)";
}

} // namespace

bool ArgReader::note(const std::string& fault)
{
    if (fault_.empty())
        fault_ = fault;
    return false;
}

bool ArgReader::present(size_t index, const char* name)
{
    return index < args_.size() || note(std::string(name) + " is missing");
}

bool ArgReader::count(size_t least, size_t most)
{
    if (args_.size() >= least && args_.size() <= most)
        return true;
    std::string takes = std::to_string(least);
    if (most == SIZE_MAX)
        takes = "at least " + takes;
    else if (most != least)
        takes += most == least + 1 ? " or " + std::to_string(most) : " to " + std::to_string(most);
    return note("takes " + takes + " argument" + (most == 1 ? "" : "s") + ", not " + std::to_string(args_.size()));
}

bool ArgReader::number(size_t index, const char* name, unsigned long long min, unsigned long long max,
                       unsigned long long& out, int base)
{
    if (!present(index, name))
        return false;
    unsigned long long v = 0;
    if (parseUnsigned(args_[index], max, v, base) && v >= min) {
        out = v;
        return true;
    }
    auto show = [base](unsigned long long n) {
        if (base != 16)
            return std::to_string(n);
        char text[24];
        std::snprintf(text, sizeof(text), "0x%llX", n);
        return std::string(text);
    };
    return note(std::string(name) + " '" + oneLine(args_[index]) + "' is not a" + (base == 16 ? " hex" : "") +
                " number from " + show(min) + " to " + show(max));
}

bool ArgReader::signedNumber(size_t index, const char* name, long long min, long long max, long long& out, int base)
{
    if (!present(index, name))
        return false;
    if (parseSigned(args_[index], min, max, out, base))
        return true;
    return note(std::string(name) + " '" + oneLine(args_[index]) + "' is not a number from " + std::to_string(min) +
                " to " + std::to_string(max));
}

bool ArgReader::oneOf(size_t index, const char* name, const std::vector<std::string>& words)
{
    if (!present(index, name))
        return false;
    std::string all;
    for (const std::string& w : words) {
        if (args_[index] == w)
            return true;
        all += (all.empty() ? "" : "|") + w;
    }
    return note(std::string(name) + " '" + oneLine(args_[index]) + "' is not " + all);
}

bool ArgReader::hexBytes(size_t index, const char* name, std::vector<unsigned char>& out)
{
    if (!present(index, name))
        return false;
    if (parseHexBytes(args_[index], out))
        return true;
    return note(std::string(name) + " '" + oneLine(args_[index]) + "' is not pairs of hex digits");
}

bool ArgReader::fail(size_t index, const char* name, const std::string& why)
{
    if (!present(index, name))
        return false;
    return note(std::string(name) + " '" + oneLine(args_[index]) + "' " + why);
}

bool ArgReader::refuse(const std::string& usage, std::string& reply) const
{
    reply = "usage: " + usage + (fault_.empty() ? std::string() : "; " + fault_);
    return false;
}

std::vector<std::string> splitWords(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (char c : line) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

ControlChannel::~ControlChannel()
{
    stop();
}

void ControlChannel::add(const std::string& command, const std::string& help, Handler handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    commands_[command] = Command{help, std::move(handler)};
}

void ControlChannel::add(const std::string& command, const std::string& help, Query query)
{
    add(command, help, [command, query](const std::vector<std::string>& args, std::string& reply) {
        if (!args.empty()) {
            reply = noArguments(command);
            return false;
        }
        return query(reply);
    });
}

std::string ControlChannel::execute(const std::string& line)
{
    const std::vector<std::string> words = splitWords(line);
    if (words.empty())
        return "error empty request\n";
    const std::string& name = words[0];
    if ((name == "ping" || name == "help") && words.size() > 1)
        return "error " + noArguments(name) + "\n";
    if (name == "ping")
        return "ok\n";
    if (name == "help") {
        std::string text = "help: lists the commands\nping: answers ok\n";
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& c : commands_)
            text += c.first + ": " + c.second.help + "\n";
        return text + "ok\n";
    }
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = commands_.find(name);
        if (it == commands_.end() && programStarting_)
            return "error unknown command " + oneLine(name) +
                   " for now: the program is not ready yet (its commands, link-ports among them, answer once it "
                   "is; help lists the commands known now)\n";
        if (it == commands_.end())
            return "error unknown command " + oneLine(name) + " (help lists the commands)\n";
        handler = it->second.handler;
    }
    const std::vector<std::string> args(words.begin() + 1, words.end());
    std::string reply;
    bool ok = false;
    try {
        ok = handler(args, reply);
    } catch (const std::exception& e) {
        reply = e.what();
    }
    if (!ok) {
        reply = oneLine(reply);
        return "error " + (reply.empty() ? std::string("failed") : reply) + "\n";
    }
    if (!reply.empty() && reply.back() != '\n')
        reply += '\n';
    return reply + "ok\n";
}

bool ControlChannel::start(const std::string& socketPath)
{
    stop();
    std::lock_guard<std::mutex> life(lifeMutex_);
    sockaddr_un addr{};
    if (socketPath.empty() || socketPath.size() >= sizeof(addr.sun_path))
        return false;
    addr.sun_family = AF_UNIX;
    socketPath.copy(addr.sun_path, socketPath.size());

    struct stat st;
    if (::lstat(socketPath.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            return false;   // never replace anything but an old socket
        ::unlink(socketPath.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) < 0 || ::listen(fd, 8) < 0) {
        ::close(fd);
        return false;
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int reap = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0 || reap < 0) {
        if (wake >= 0)
            ::close(wake);
        if (reap >= 0)
            ::close(reap);
        ::close(fd);
        ::unlink(socketPath.c_str());
        return false;
    }
    listenFd_ = fd;
    wakeFd_ = wake;
    reapFd_ = reap;
    path_ = socketPath;
    running_ = true;
    thread_ = std::thread(&ControlChannel::serve, this);
    return true;
}

void ControlChannel::stop()
{
    std::lock_guard<std::mutex> life(lifeMutex_);
    if (!thread_.joinable())
        return;
    running_ = false;
    const uint64_t one = 1;
    // The event stays readable: every thread polling it sees the stop.
    if (::write(wakeFd_, &one, sizeof(one)) < 0) {
        // Cannot happen with a fresh counter; shutdown below still ends accept.
    }
    ::shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    ::close(listenFd_);
    ::close(wakeFd_);
    ::close(reapFd_);
    listenFd_ = -1;
    wakeFd_ = -1;
    reapFd_ = -1;
    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        ::unlink(path_.c_str());
}

void ControlChannel::serve()
{
    pthread_setname_np(pthread_self(), "sim-control");
    // Joins the client threads that have ended.
    auto reapClients = [this] {
        for (auto it = clients_.begin(); it != clients_.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = clients_.erase(it);
            } else {
                ++it;
            }
        }
        clientThreads_ = clients_.size();
    };
    while (running_) {
        pollfd p[3] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}, {reapFd_, POLLIN, 0}};
        const int r = ::poll(p, 3, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (p[1].revents || !running_)
            break;
        // A client thread has ended: it is joined at once, not when the
        // next client comes (which may be never: a program that leaves
        // without stopping the channel would leave it unjoined).
        if (p[2].revents) {
            uint64_t ended = 0;
            if (::read(reapFd_, &ended, sizeof(ended)) < 0) {
                // Nothing to read: another wake-up took it; reaping is harmless.
            }
            reapClients();
        }
        if (p[0].revents & (POLLERR | POLLNVAL))
            break;
        if (!(p[0].revents & POLLIN))
            continue;
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        reapClients();
        auto done = std::make_shared<std::atomic<bool>>(false);
        // Counted before its thread starts: the client may be answered
        // before this thread runs again.
        clients_.push_back(Client{});
        clients_.back().done = done;
        clientThreads_ = clients_.size();
        const int reapFd = reapFd_;
        clients_.back().thread = std::thread([this, client, done, reapFd] {
            pthread_setname_np(pthread_self(), "sim-probe");
            serveClient(client);
            done->store(true);
            const uint64_t one = 1;
            if (::write(reapFd, &one, sizeof(one)) < 0) {
                // The counter cannot overflow here; the next client reaps it anyway.
            }
        });
    }
    for (auto& c : clients_)
        c.thread.join();
    clients_.clear();
    clientThreads_ = 0;
}

void ControlChannel::serveClient(int fd)
{
    std::string pending;
    char buffer[4096];
    while (running_) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int r = ::poll(p, 2, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (p[1].revents)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t eol;
        bool alive = true;
        while (alive && (eol = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            alive = sendAll(fd, execute(line));
        }
        if (!alive)
            break;
        if (pending.size() > kMaxRequest) {
            sendAll(fd, "error request too long\n");
            break;
        }
    }
    ::close(fd);
}

} // namespace sim
