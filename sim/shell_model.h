// The simulated board's shell. File commands (rm, cp, mv, chmod, chattr,
// sync) act inside the board root and nowhere else; the commands that would
// touch the machine (ifconfig, route, date, hwclock, reboot, the WiFi
// daemons, kill, pidof, ...) are recorded with their exit status and never
// run; anything else is refused. Nothing is ever handed to /bin/sh.
//
// A command is split into words ("double" and 'single' quotes keep blanks);
// trailing ">/dev/null", "2>/dev/null", "&>/dev/null", "2>&1" and a trailing
// "&" are dropped. A command with | && ` $ < \ or any other redirection is
// refused (127 << 8). A list "a;b" of machine commands (in the foreground)
// is recorded as one command with the last one's status; a list holding
// anything else is refused. File commands take absolute paths only; a relative
// path, one that climbs above "/" or one that leads out of the root through
// a link refuses the whole command (1 << 8) before anything is done. An
// unquoted * ? [ in a path is expanded inside the root, as the shell would.
// A command sent to the background ("... &") returns 0 as the shell does.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class ShellModel {
public:
    enum class Kind { File, Recorded, Refused };
    struct Entry {
        Kind kind;
        int status;        // as system() returns it
        std::string command;
    };

    explicit ShellModel(std::string logPath);

    // Runs one command as the board's shell would and returns system()'s
    // value. Every command is appended to the log as one line
    // "<file|recorded|refused>\t<status>\t<command>".
    int run(const std::string& command, std::string* output = nullptr);

    // The exit code (0..255) a recorded command gets; the longest matching
    // prefix wins. The prefix is matched against the command's words joined
    // by single blanks, without redirections. Default 0.
    void setExitCode(const std::string& commandPrefix, int exitCode);
    // Standard output a recorded command prints (for capture()).
    void setOutput(const std::string& commandPrefix, const std::string& output);
    // Whether the interface eth0 exists ("ifconfig eth0" succeeds). Default yes.
    void setEthernetPresent(bool present);

    // The log kept in memory is its last kLogTail commands (the file keeps
    // them all): a board that runs for hours does not grow without end.
    static constexpr size_t kLogTail = 10000;
    std::vector<Entry> entries() const;
    std::vector<std::string> commands() const;     // the kept commands, in order
    void clearLog();
    const std::string& logPath() const { return logPath_; }

    static const char* kindName(Kind kind);
    static std::string logLine(const Entry& entry);

    struct Word {
        std::string text;
        bool quoted = false;
    };

private:
    // Runs a file command; sets refused when a path was not acceptable.
    int runFileCommand(const std::vector<Word>& words, bool& refused);
    // The exit code (and output) a machine command gets.
    int recordedExitCode(const std::vector<Word>& words, std::string& output) const;
    // Runs a list of commands separated by ";": recorded as one command
    // when every one of them is a machine command, refused otherwise.
    int runList(const std::string& command, const std::vector<std::string>& list, std::string* output);
    template <typename T>
    const T* lookup(const std::map<std::string, T>& table, const std::string& command) const;
    void log(Kind kind, int status, const std::string& command);

    mutable std::mutex mutex_;
    std::string logPath_;
    std::deque<Entry> entries_;
    std::map<std::string, int> exitCodes_;
    std::map<std::string, std::string> outputs_;
    bool ethernetPresent_ = true;
};

} // namespace sim
