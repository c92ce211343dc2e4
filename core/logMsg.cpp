#include "core/logMsg.h"

#include "core/global.h"
#include "platform/board_root.h"

#include <cstdio>
#include <cstring>
#include <ctime>

const char* const kEngineLogPath = "/data/velmokq/log/prqEnglneLog";

namespace {

constexpr size_t kLineBuffer = 512;

// Appends text to the line as far as the line stays within 511 characters.
void appendLimited(char* line, size_t& used, const char* text)
{
    const size_t room = kLineBuffer - 1 - used;
    size_t n = strlen(text);
    if (n > room)
        n = room;
    memcpy(line + used, text, n);
    used += n;
    line[used] = '\0';
}

bool echoed(_LogType level)
{
    switch (level) {
    case ERROR:
        return g_debugSwitch != 0;
    case WARNING:
    case INFO:
        return g_debugSwitch > 2;
    case DEBUG:
        return g_debugSwitch > 3;
    default:
        return false;
    }
}

const char* levelTag(_LogType level)
{
    switch (level) {
    case CRITICAL:
        return " [ENGINEASSEMBLY] [CRITICAL] ";
    case ERROR:
        return " [ENGINEASSEMBLY] [ERROR   ] ";
    case WARNING:
        return " [ENGINEASSEMBLY] [WARNING ] ";
    case INFO:
        return " [ENGINEASSEMBLY] [INFO    ] ";
    case DEBUG:
        return " [ENGINEASSEMBLY] [DEBUG   ] ";
    default:
        return "";
    }
}

} // namespace

void writeLogMsg(_LogType level, std::string message)
{
    message += "\n";

    // The text is printed as it is, never used as a format.
    if (echoed(level))
        fputs(message.c_str(), stdout);

    char line[kLineBuffer];
    line[0] = '\0';
    size_t used = 0;

    char stamp[64];
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) && strftime(stamp, sizeof stamp, "[%Y-%m-%d %X]", &local) > 0)
        appendLimited(line, used, stamp);
    appendLimited(line, used, levelTag(level));
    appendLimited(line, used, "# RUVOMSG # ");
    appendLimited(line, used, message.c_str());

    const std::string path = platform::boardPath(kEngineLogPath);
    FILE* f = fopen(path.c_str(), "a+");
    if (!f)
        return;
    fputs(line, f);
    fflush(f);
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    fclose(f);
    if (size >= kEngineLogLimit)
        remove(path.c_str());
}
