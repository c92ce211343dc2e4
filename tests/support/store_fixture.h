// Fixture for tests of the parameter store on a fresh simulated board.
#pragma once

#include "support/sim_board_test.h"

#include "core/default_para.h"
#include "core/zdrrampara.h"

class StoreTest : public SimBoardTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes /data/ram_device_info (default: the default image).
    void writeParaFile(const std::vector<unsigned char>& bytes);
    std::vector<unsigned char> defaultFile() const;
    // Loads the store from the board's files.
    ZdrRamPara* load();
    std::vector<unsigned char> fileBytes(const std::string& systemPath) const;
};
