// The mapping wizard's card jobs against the simulated cards: positions of
// the cards along a route (job 1), saving (job 3) and the mapping switch
// (job 4), with their progress.
#include "support/card_job_fixture.h"

#include "core/global.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/rcv_card_model.h"

#include <utility>

namespace {

std::vector<int> g_seen;
void progress(int v)
{
    g_seen.push_back(v);
}

std::vector<std::pair<int, int>> positions(unsigned char route, unsigned char rows, unsigned char cols)
{
    line_type.route = route;
    line_type.rows = rows;
    line_type.columns = cols;
    line_type.width = 128;
    line_type.height = 64;
    std::vector<std::pair<int, int>> out;
    for (unsigned i = 0; i < unsigned(rows) * cols; ++i) {
        unsigned short x = 0xFFFF, y = 0xFFFF;
        fpga_manage::get_rcvcard_x_y(i, &x, &y);
        out.emplace_back(x, y);
    }
    return out;
}

using P = std::vector<std::pair<int, int>>;

TEST(CardRoutes, PositionsAlongEachKindOfRoute)
{
    line_type = SmartMappingLineType();
    // Rows from the top, left to right then back.
    EXPECT_EQ(positions(4, 2, 3), (P{{0, 0}, {128, 0}, {256, 0}, {256, 64}, {128, 64}, {0, 64}}));
    // Rows from the bottom, right to left then back.
    EXPECT_EQ(positions(1, 2, 2), (P{{128, 64}, {0, 64}, {0, 0}, {128, 0}}));
    // Rows from the bottom, always left to right.
    EXPECT_EQ(positions(11, 2, 2), (P{{0, 64}, {128, 64}, {0, 0}, {128, 0}}));
    // Columns from the right, bottom to top then back.
    EXPECT_EQ(positions(5, 2, 2), (P{{128, 64}, {128, 0}, {0, 0}, {0, 64}}));
    // Columns from the left, top to bottom then back.
    EXPECT_EQ(positions(7, 3, 2), (P{{0, 0}, {0, 64}, {0, 128}, {128, 128}, {128, 64}, {128, 0}}));
    // Columns from the left, always bottom to top; route 12 matches it on a
    // square screen.
    EXPECT_EQ(positions(15, 2, 2), (P{{0, 64}, {0, 0}, {128, 64}, {128, 0}}));
    EXPECT_EQ(positions(12, 2, 2), positions(15, 2, 2));
    // Columns from the right, always top to bottom.
    EXPECT_EQ(positions(16, 2, 2), (P{{128, 0}, {128, 64}, {0, 0}, {0, 64}}));

    // A place beyond the frame's 16-bit position is held at its largest,
    // never wrapped onto another card's place.
    line_type.route = 4;
    line_type.rows = 1;
    line_type.columns = 3;
    line_type.width = 40000;
    line_type.height = 64;
    std::vector<int> xs;
    for (unsigned i = 0; i < 3; ++i) {
        unsigned short x = 0, y = 0;
        fpga_manage::get_rcvcard_x_y(i, &x, &y);
        xs.push_back(x);
    }
    EXPECT_EQ(xs, (std::vector<int>{0, 40000, 65535}));

    // No route, or a place beyond the screen: outputs unchanged.
    line_type.route = 0;
    unsigned short x = 7, y = 9;
    fpga_manage::get_rcvcard_x_y(0, &x, &y);
    EXPECT_EQ(x, 7);
    line_type.route = 4;
    fpga_manage::get_rcvcard_x_y(6, &x, &y);
    EXPECT_EQ(y, 9);
    line_type = SmartMappingLineType();
}

class MappingJobs : public CardJobTest {
protected:
    void SetUp() override
    {
        CardJobTest::SetUp();
        g_seen.clear();
        g_smartmapping_progress = progress;
    }
};

TEST_F(MappingJobs, AMappingRunSendsEachCardItsPlaceThenOneRamReset)
{
    upWithCards({{20, 3}});
    line_type.port = 19;   // FPGA 1 port 3
    line_type.route = 4;
    line_type.rows = 1;
    line_type.columns = 3;
    line_type.width = 100;
    line_type.height = 50;
    line_type.x_offset = 10;
    line_type.y_offset = 5;
    ASSERT_GT(runJob(1), 0);
    for (unsigned c = 0; c < 3; ++c) {
        EXPECT_EQ(chain(20).cardRam(c, 0x180, 4), (std::vector<uint8_t>{uint8_t(10 + 100 * c), 0, 5, 0})) << c;
        const auto f = framesOf(20, c, 0x60);
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].size(), 23u);
        EXPECT_EQ(f[0][0] | (f[0][1] << 8), int(0x3000 | c));
    }
    // The RAM reset goes to the search address: card 0 of the chain takes it.
    const auto reset = framesOf(20, 0, 0xA0);
    ASSERT_EQ(reset.size(), 1u);
    EXPECT_EQ(reset[0][0] | (reset[0][1] << 8), 0x3FFE);
    EXPECT_EQ(std::vector<uint8_t>(reset[0].begin() + 10, reset[0].begin() + 14),
              (std::vector<uint8_t>{0x01, 0xFF, 0x01, 0xFF}));
    ASSERT_GE(g_seen.size(), 3u);
    EXPECT_EQ(g_seen[g_seen.size() - 2], 90);
    EXPECT_EQ(g_seen.back(), 100);

    // An offset that moves a place past the 16-bit position holds it at the
    // largest rather than wrapping it to the left edge.
    line_type.x_offset = 65500;
    ASSERT_GT(runJob(1), 0);
    EXPECT_EQ(chain(20).cardRam(0, 0x180, 4), (std::vector<uint8_t>{0xDC, 0xFF, 5, 0}));
    EXPECT_EQ(chain(20).cardRam(1, 0x180, 4), (std::vector<uint8_t>{0xFF, 0xFF, 5, 0}));
    line_type.x_offset = 10;

    // A port without cards ends at once.
    line_type.port = 2;
    g_seen.clear();
    const auto before = chain(3).requests();
    const int ticks = runJob(1);
    ASSERT_GT(ticks, 0);
    EXPECT_LT(ticks, 300);
    EXPECT_EQ(chain(3).requests(), before);
    EXPECT_EQ(g_seen, (std::vector<int>{90, 100}));
}

TEST_F(MappingJobs, SaveAndMappingSwitchVisitOnlyPortsWithCards)
{
    upWithCards({{4, 2}, {21, 1}});
    ASSERT_GT(runJob(3), 0);
    EXPECT_EQ(framesOf(4, 0, 0x81).size(), 1u);
    EXPECT_EQ(framesOf(21, 0, 0x81).size(), 1u);
    EXPECT_EQ(chain(4).saves(1), 1u) << "every card of the chain";
    ASSERT_GE(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[g_seen.size() - 2], 95);
    EXPECT_EQ(g_seen.back(), 100);

    g_send_para.value = 9;
    ASSERT_GT(runJob(4), 0);
    EXPECT_EQ(chain(4).mappingValue(), 9);
    EXPECT_EQ(chain(21).mappingValue(), 9);
    EXPECT_EQ(chain(5).mappingValue(), -1);

    // A silent port costs the save job 1200 + 100 x cards ticks.
    control("card-fault 4 silent");
    g_seen.clear();
    const int ticks = runJob(3);
    EXPECT_GT(ticks, 1400);
    EXPECT_EQ(g_seen.back(), 100);
}

} // namespace
