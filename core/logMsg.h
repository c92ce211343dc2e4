// The engine log: one time-stamped, levelled line per call appended to
// /data/velmokq/log/prqEnglneLog, echoed to the console by level.
#pragma once

#include <string>

enum _LogType {
    CRITICAL = 0,
    ERROR = 1,
    WARNING = 2,
    INFO = 3,
    DEBUG = 4,
};

// Path of the log file on the device (mapped under the board root).
extern const char* const kEngineLogPath;
// The file is deleted once it reaches this size; the next line starts anew.
constexpr long kEngineLogLimit = 0xA00000;

void writeLogMsg(_LogType level, std::string message);
