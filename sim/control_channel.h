// The simulated board's control channel: a line protocol on the Unix socket
// <root>/sim/control.sock. Each request is one line, "command arg...";
// the answer is zero or more lines of text followed by a line "ok" or
// "error <reason>". Models register their commands by name.
#pragma once

#include "sim/numbers.h"

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
    // While the program is starting (from the board's start for it until
    // the program has added its commands), a command the channel does not
    // know is answered as one the program does not answer yet.
    void setProgramStarting(bool starting) { programStarting_ = starting; }

    // Serves the socket in a thread of its own, each client in a thread of
    // its own. False when the path does not fit a Unix socket address or
    // the socket cannot be made. A socket left by an earlier run is replaced.
    bool start(const std::string& socketPath);
    // Closes the socket and every client connection and waits for the
    // threads. Safe to call when not started.
    void stop();
    bool running() const { return running_.load(); }
    // Client threads started and not yet joined (each is joined as soon as
    // its client has gone).
    size_t clientThreads() const { return clientThreads_.load(); }
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
    int reapFd_ = -1;        // readable once a client thread has ended
    std::atomic<bool> running_{false};
    std::atomic<bool> programStarting_{false};
    std::mutex lifeMutex_;   // start() against stop()
    std::thread thread_;
    std::vector<Client> clients_;   // touched by the serving thread only
    std::atomic<size_t> clientThreads_{0};   // clients_.size(), for a look from outside
};

// Reads the arguments of a request in turn and keeps the first fault, so
// that a refusal says which argument is wrong and what it takes:
//   ArgReader a(args);
//   if (!a.count(1, 1) || !a.number(0, "hz", 1, 1000, hz))
//       return a.refuse("c331-frame-hz <1..1000>", reply);
// answers "usage: c331-frame-hz <1..1000>; hz '0' is not a number from 1
// to 1000".
class ArgReader {
public:
    explicit ArgReader(const std::vector<std::string>& args) : args_(args) {}
    // From least to most arguments (SIZE_MAX: no most).
    bool count(size_t least, size_t most);
    // Argument index, named name, a number from min to max (read as
    // parseUnsigned reads it in that base; the range is shown in hex for
    // base 16).
    bool number(size_t index, const char* name, unsigned long long min, unsigned long long max,
                unsigned long long& out, int base = 0);
    // The same with an optional '-' (parseSigned). Like number, decimal by
    // default and 0x.. for hex.
    bool signedNumber(size_t index, const char* name, long long min, long long max, long long& out, int base = 0);
    // One of the words given ("on|off" -> "<name> 'x' is not on|off").
    bool oneOf(size_t index, const char* name, const std::vector<std::string>& words);
    // Pairs of hex digits (parseHexBytes), appended to out.
    bool hexBytes(size_t index, const char* name, std::vector<unsigned char>& out);
    // A fault the handler found itself ("<name> '<text>' <why>").
    bool fail(size_t index, const char* name, const std::string& why);
    // Sets reply to "usage: <usage>", with the first fault after "; ", and
    // returns false.
    bool refuse(const std::string& usage, std::string& reply) const;
    const std::string& fault() const { return fault_; }

private:
    bool present(size_t index, const char* name);
    bool note(const std::string& fault);

    const std::vector<std::string>& args_;
    std::string fault_;
};

// Splits a request line into words; "double" or 'single' quotes keep blanks
// together.
std::vector<std::string> splitWords(const std::string& line);

} // namespace sim
