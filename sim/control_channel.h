// The simulated board's control channel: a line protocol on the Unix socket
// <root>/sim/control.sock. Each request is one line, "command arg...";
// the answer is zero or more lines of text followed by a line "ok" or
// "error <reason>". Models register their commands by name.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

class ControlChannel {
public:
    // A handler fills the reply text (lines without the final ok) and returns
    // true, or sets it to the reason and returns false.
    using Handler = std::function<bool(const std::vector<std::string>& args, std::string& reply)>;
    // The handler of a command that takes no arguments: the channel refuses
    // a request with words after the command, with its usage.
    using Query = std::function<bool(std::string& reply)>;

    ~ControlChannel();

    void add(const std::string& command, const std::string& help, Handler handler);
    void add(const std::string& command, const std::string& help, Query query);
    // Runs one request line as a client would see it (answer incl. "ok").
    std::string execute(const std::string& line);

    // Serves the socket in a thread of its own, each client in a thread of
    // its own. False when the path does not fit a Unix socket address or
    // the socket cannot be made. A socket left by an earlier run is replaced.
    bool start(const std::string& socketPath);
    // Closes the socket and every client connection and waits for the
    // threads. Safe to call when not started.
    void stop();
    bool running() const { return running_.load(); }
    const std::string& socketPath() const { return path_; }

private:
    void serve();
    void serveClient(int fd);

    struct Client {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    struct Command {
        std::string help;
        Handler handler;
    };
    std::mutex mutex_;
    std::map<std::string, Command> commands_;
    std::string path_;
    int listenFd_ = -1;
    int wakeFd_ = -1;        // readable once stop() has been asked
    std::atomic<bool> running_{false};
    std::mutex lifeMutex_;   // start() against stop()
    std::thread thread_;
    std::vector<Client> clients_;   // touched by the serving thread only
};

// Splits a request line into words; "double" or 'single' quotes keep blanks
// together.
std::vector<std::string> splitWords(const std::string& line);

// The numbers of a request, read strictly: digits of the base only (no
// sign, no blank, nothing after them), within the range given; false for
// anything else, out untouched then. Base 0 reads 0x.. as hex, 0.. as
// octal and the rest as decimal; base 16 takes hex digits with or without
// 0x.
bool parseUnsigned(const std::string& text, unsigned long long max, unsigned long long& out, int base = 0);
// The same with an optional leading '-'.
bool parseSigned(const std::string& text, long long min, long long max, long long& out, int base = 10);
// Pairs of hex digits into bytes ("0a1B" -> 0x0A 0x1B).
bool parseHexBytes(const std::string& text, std::vector<unsigned char>& out);

} // namespace sim
