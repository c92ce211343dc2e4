// Fixture for tests of the parameter store on a fresh simulated board.
#pragma once

#include "support/sim_board_test.h"

#include "core/default_para.h"
#include "core/zdrrampara.h"

#include <cstdint>
#include <cstring>

// Test set-up only, for a test that fills the store's bytes over several
// statements while no other thread writes them: the writable bytes of the
// program's store, handed out under ParaWriteLock and used after it (the
// program itself writes them only while it holds the lock). A statement
// that stores once takes the lock itself: setLe16(ParaWriteLock().block(), ...).
namespace test_store {
inline unsigned char* unguarded_block() { return ParaWriteLock().block(); }
inline unsigned char* unguarded_slot(int s) { return ParaWriteLock().slot(s); }
// The shadow copy set up through the call that records what reached the
// file: n bytes at offset replaced, the rest kept.
inline void shadow_with(int offset, const unsigned char* bytes, int n)
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    unsigned char shadow[sizeof store->ram_para_shadow];
    store->shadow_bytes(0, shadow, sizeof shadow);
    std::memcpy(shadow + offset, bytes, static_cast<size_t>(n));
    store->record_persisted(shadow);
}
// The block's n bytes at offset (by default the whole block) persisted,
// as a refresh leaves them; one word of the shadow set alone.
inline void persisted(int offset = 0, int n = 4096)
{
    unsigned char block[4096];
    ZdrRamPara::p_zdrrampara_config->snapshot_block(block);
    shadow_with(offset, block + offset, n);
}
inline void shadow_word(int offset, uint16_t value)
{
    const unsigned char word[2] = {static_cast<unsigned char>(value & 0xFF), static_cast<unsigned char>(value >> 8)};
    shadow_with(offset, word, 2);
}
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
