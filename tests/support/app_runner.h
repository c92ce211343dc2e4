// Starts the real program on a temporary simulated board and speaks to its
// control channel, as an end-to-end test does.
#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class AppRunner {
public:
    AppRunner();
    ~AppRunner();

    // An environment variable of the program (set before start()), e.g.
    // ZDR_SIM_START_COMMANDS with control commands to run at power-on.
    void setEnv(const std::string& name, const std::string& value) { extraEnv_.emplace_back(name, value); }
    void clearEnv() { extraEnv_.clear(); }

    // Runs the program on another runner's board root (set before start()),
    // as a second program started on a board in use.
    void useRoot(const std::string& root) { root_ = root; }

    // Starts the program; waits until its control channel answers with the
    // program's own probes.
    bool start(int timeoutMs = 20000);
    // Starts the program without waiting for its control channel (the
    // channel may be another program's).
    bool launch(int timeoutMs = 20000);
    // The process id of the program, 0 when none runs.
    long long pid() const { return process_.processId(); }
    // Ends it (SIGTERM, then SIGKILL) if it still runs.
    void stop();
    bool running() const;
    // Waits for the program to leave; its exit code, or -1 on time-out.
    int waitForExit(int timeoutMs);

    // One control-channel request; the reply without the final "ok" line,
    // or "error ..." when it failed.
    std::string control(const std::string& line, int timeoutMs = 5000);
    // A port of the control link ("udp", "tcp" or "at") as the control
    // channel's link-ports reports it; 0 when it names none.
    unsigned short linkPort(const std::string& name);
    struct LinkPorts {
        unsigned short udp = 0, tcp = 0, at = 0;
    };
    LinkPorts linkPorts() { return LinkPorts{linkPort("udp"), linkPort("tcp"), linkPort("at")}; }

    // Polls until pred holds (true) or the time is up or the program has
    // left (false); the program's console output is drained meanwhile, so
    // that it never blocks on a full pipe.
    bool waitFor(const std::function<bool()>& pred, int timeoutMs = 20000);

    const std::string& root() const { return root_; }
    const std::string& workDir() const { return work_; }
    std::string hostPath(const std::string& systemPath) const { return root_ + systemPath; }
    QString output();

private:
    // Where a program built with a sanitizer writes its reports; any report
    // fails the running test when the program stops.
    std::string reportDir() const;
    void checkSanitizerReports();

    std::unique_ptr<QTemporaryDir> dir_;
    std::string root_;
    std::string work_;
    QProcess process_;
    std::vector<std::pair<std::string, std::string>> extraEnv_;
};
