// Reader of the packed receiving-card parameter files (/data/rcvrecovery)
// and the bare scan files (/data/smartmapping), owned by the FPGA manager.
#pragma once

#include <QString>

class rcvRecovery {
public:
    // 0 when the folder exists; otherwise creates it: 1 created, 0 failed.
    int check_file_dir(const QString& dir);
};
