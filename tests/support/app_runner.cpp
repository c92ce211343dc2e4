#include "support/app_runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#ifndef ZDR_APP_PATH
#define ZDR_APP_PATH "zdrK47N"
#endif

AppRunner::AppRunner()
    : dir_(std::make_unique<QTemporaryDir>())
{
    root_ = dir_->path().toStdString() + "/root";
    work_ = dir_->path().toStdString() + "/cwd";
    QDir().mkpath(QString::fromStdString(root_));
    QDir().mkpath(QString::fromStdString(work_));
}

AppRunner::~AppRunner()
{
    stop();
}

bool AppRunner::start(int timeoutMs)
{
    if (!launch(timeoutMs))
        return false;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        if (process_.state() != QProcess::Running)
            return false;
        // The program's own probes are registered last, once its windows
        // and connections exist: then it is up.
        if (control("ticks", 500).rfind("error", 0) != 0)
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool AppRunner::launch(int timeoutMs)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZDR_BOARD_ROOT", QString::fromStdString(root_));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", QString::fromStdString(work_));
    env.remove("ZDR_SIM_SETTLE_MS");
    // Free ports for the control link, so that programs can run side by side.
    env.insert("ZDR_SIM_EPHEMERAL_PORTS", "1");
    for (const auto& e : extraEnv_)
        env.insert(QString::fromStdString(e.first), QString::fromStdString(e.second));
    // A program built with a sanitizer writes its reports into the runner's
    // folder (checked when it stops), whatever else its options say.
    QDir().mkpath(QString::fromStdString(reportDir()));
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const QString opts = env.value(name);
        env.insert(name, (opts.isEmpty() ? QString() : opts + ":") + "log_path=" +
                             QString::fromStdString(reportDir() + "/" + name));
    }
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(QString::fromStdString(work_));
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(ZDR_APP_PATH, QStringList());
    if (!process_.waitForStarted(timeoutMs)) {
        std::fprintf(stderr, "cannot start %s: %s\n", ZDR_APP_PATH, process_.errorString().toLocal8Bit().constData());
        return false;
    }
    return true;
}

void AppRunner::stop()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    checkSanitizerReports();
}

std::string AppRunner::reportDir() const
{
    return dir_->path().toStdString() + "/sanitizer";
}

void AppRunner::checkSanitizerReports()
{
    const QDir dir(QString::fromStdString(reportDir()));
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files)) {
        QFile file(f.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray report = file.readAll();
        file.close();
        QFile::remove(f.filePath());
        if (report.trimmed().isEmpty())
            continue;
        ADD_FAILURE() << "the program under test reported (" << f.fileName().toStdString() << "):\n"
                      << report.toStdString();
        // Kept for the sanitizer run's summary as well.
        const QByteArray keep = qgetenv("ZDR_SANITIZER_REPORTS");
        if (!keep.isEmpty()) {
            QDir().mkpath(QString::fromLocal8Bit(keep));
            QFile out(QString::fromLocal8Bit(keep) + "/program." + f.fileName() + "." +
                      QString::number(QCoreApplication::applicationPid()) + "." +
                      QString::number(reinterpret_cast<quintptr>(this), 16));
            if (out.open(QIODevice::WriteOnly))
                out.write(report);
        }
    }
}

bool AppRunner::running() const
{
    return process_.state() != QProcess::NotRunning;
}

int AppRunner::waitForExit(int timeoutMs)
{
    if (!process_.waitForFinished(timeoutMs))
        return -1;
    return process_.exitCode();
}

QString AppRunner::output()
{
    return QString::fromLocal8Bit(process_.readAll());
}

unsigned short AppRunner::linkPort(const std::string& name)
{
    std::istringstream in(control("link-ports"));
    std::string word;
    unsigned port = 0;
    while (in >> word >> port)
        if (word == name)
            return static_cast<unsigned short>(port);
    return 0;
}

std::string AppRunner::control(const std::string& line, int timeoutMs)
{
    const std::string path = root_ + "/sim/control.sock";
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return "error socket";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        ::close(fd);
        return "error socket path too long";
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return "error connect";
    }
    std::string request = line + "\n";
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return "error write";
    }
    std::string reply;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // The answer ends with a line "ok" or "error ...".
        size_t lineStart = reply.rfind('\n', reply.size() >= 2 ? reply.size() - 2 : 0);
        lineStart = (lineStart == std::string::npos) ? 0 : lineStart + 1;
        if (!reply.empty() && reply.back() == '\n') {
            std::string last = reply.substr(lineStart, reply.size() - lineStart - 1);
            if (last == "ok") {
                ::close(fd);
                reply.erase(lineStart);
                if (!reply.empty() && reply.back() == '\n')
                    reply.pop_back();
                return reply;
            }
            if (last.rfind("error", 0) == 0) {
                ::close(fd);
                return last;
            }
        }
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        until - std::chrono::steady_clock::now()).count());
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            break;
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n <= 0)
            break;
        reply.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return "error no answer";
}

bool AppRunner::waitFor(const std::function<bool()>& pred, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        QCoreApplication::processEvents();
        output();
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() > until || !running())
            return false;
        QThread::msleep(20);
    }
}
