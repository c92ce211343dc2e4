// Fixture for tests of the touch UI shell: a fresh board and parameter
// store, the home page (with the keypad and the tip), the idle status
// screen and the touch idle handling without a touch device, page focus 1.
#pragma once

#include "support/store_fixture.h"

#include <functional>
#include <string>

class ShellTest : public StoreTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Counts n ticks, each followed by the GUI timer's slot.
    static void tick(unsigned int n);
    // Deletes the pages whose Back has run.
    static void flushDeletes();
    // How often the shell ran command.
    static int shellCount(const std::string& command);
    // Runs f once the next modal page runs its own event loop.
    static void whenModal(std::function<void()> f);

    ZdrRamPara* store = nullptr;
};
