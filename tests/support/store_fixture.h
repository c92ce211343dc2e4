// Fixture for tests of the parameter store on a fresh simulated board.
#pragma once

#include "support/sim_board_test.h"

#include "core/default_para.h"
#include "core/zdrrampara.h"

// Test set-up only, for a test that fills the store's bytes over several
// statements while no other thread writes them: the writable bytes of the
// program's store, handed out under ParaWriteLock and used after it (the
// program itself writes them only while it holds the lock). A statement
// that stores once takes the lock itself: setLe16(ParaWriteLock().block(), ...).
namespace test_store {
inline unsigned char* unguarded_block() { return ParaWriteLock().block(); }
inline unsigned char* unguarded_slot(int s) { return ParaWriteLock().slot(s); }
} // namespace test_store

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

    // The PC's RAM write into the block (answered with status 0), then its
    // write of the flag register (the chip's change flag).
    void pcWrites(int offset, const std::vector<unsigned char>& bytes);
    // n bytes of block offset as /data/ram_device_info holds them (none
    // when the file is not whole).
    std::vector<unsigned char> fileBlockBytes(int offset, int n) const;
    // The block, its shadow and the file all hold bytes at offset.
    void expectStoredEverywhere(int offset, const std::vector<unsigned char>& bytes) const;
};
