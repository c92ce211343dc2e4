// Fixture for the receiving-card jobs: FPGAs up against the simulated
// cards, a job posted and run pass by pass, the frames a card took.
#pragma once

#include "support/fpga_fixture.h"

#include "core/global.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/rcv_card_model.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/shell_global.h"

#include <string>
#include <utility>
#include <vector>

// The advanced settings page, open for as long as the object lives: a
// check's result (and the card to restore) is kept only while it is.
struct OpenAdvancedPage {
    OpenAdvancedPage() { g_advancedoption = new AdvancedOption(); }
    ~OpenAdvancedPage()
    {
        delete g_advancedoption.data();
        g_advancedoption = nullptr;
    }
    OpenAdvancedPage(const OpenAdvancedPage&) = delete;
    OpenAdvancedPage& operator=(const OpenAdvancedPage&) = delete;
};

class CardJobTest : public FpgaTest {
protected:
    void SetUp() override
    {
        FpgaTest::SetUp();
        resetJobs();
    }
    void TearDown() override
    {
        resetJobs();
        FpgaTest::TearDown();
    }
    // The job record's positions, the wizard's record, its progress hook
    // and its file back to their start values.
    static void resetJobs()
    {
        g_send_para.card_reply = 65535;
        g_send_para.loader_step = 0;
        g_send_para.retry = 0;
        g_send_para.net_index = 0;
        g_send_para.screen_index = 0;
        g_send_para.value = 0;
        g_smartmapping_progress = nullptr;
        line_type = SmartMappingLineType();
        g_kqfile_name.clear();
    }

    std::string control(const std::string& line) { return sim::Board::instance().control().execute(line); }
    // The chain behind port 1..32.
    sim::RcvCardChain& chain(int port) { return model((port - 1) / 16).cards((port - 1) % 16); }

    // Both FPGAs up and the idle search has counted the cards of the ports
    // (port 1..32, cards).
    void upWithCards(const std::vector<std::pair<int, int>>& portCards)
    {
        for (const auto& pc : portCards)
            control("cards " + std::to_string(pc.first) + " " + std::to_string(pc.second));
        bringUp();
        for (const auto& pc : portCards) {
            const unsigned index = static_cast<unsigned>(pc.first - 1);
            ASSERT_GT(runUntil([&] { return mgr().get_port_card_num(index) == pc.second; }, 2000), 0)
                << "port " << pc.first;
        }
    }

    // Posts a job and runs passes until it has ended; the ticks it took
    // (-1 when it did not end).
    int runJob(unsigned char job, int maxTicks = 20000)
    {
        g_send_para.post(job);
        return runUntil([] { return g_send_para.code.load() == 0; }, maxTicks);
    }

    // Posts job 2 for a scan file and runs it until it has ended, as
    // runJob.
    int runLoad(const QString& file, int maxTicks = 20000)
    {
        if (!fpga_post_load_job(file))
            return -1;
        return runUntil([] { return g_send_para.code.load() == 0; }, maxTicks);
    }

    // The frames card `card` of a chain took with a given opcode.
    std::vector<std::vector<uint8_t>> framesOf(int port, unsigned card, uint8_t opcode)
    {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& f : chain(port).log(card))
            if (f.size() > 9 && f[9] == opcode)
                out.push_back(f);
        return out;
    }
};
