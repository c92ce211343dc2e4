#include "sendcard/rcv_recovery_file.h"

#include "platform/board_root.h"

#include <QDir>

int rcvRecovery::check_file_dir(const QString& dir)
{
    const QString path = platform::boardPath(dir);
    if (QDir(path).exists())
        return 0;
    return QDir().mkpath(path) ? 1 : 0;
}
