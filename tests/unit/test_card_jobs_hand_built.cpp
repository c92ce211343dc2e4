// The card jobs on parameter files written here byte by byte from the file
// layout (pack header, section table, screen head and info, nets, card
// blocks, 18-byte records; all little-endian): files with more nets or
// records than a byte counts, records the cards cannot be loaded with, and
// a file cut short at every byte. Every job ends, and one that did not do
// all of its work says so.
#include "support/card_job_fixture.h"

#include "core/global.h"
#include "sendcard/fpga_manage.h"

#include <QDir>
#include <chrono>
#include <string>
#include <vector>

namespace {

// Little-endian bytes.
struct Bytes {
    std::string s;
    size_t size() const { return s.size(); }
    Bytes& u8(unsigned v)
    {
        s.push_back(static_cast<char>(v & 0xFF));
        return *this;
    }
    Bytes& u16(unsigned v) { return u8(v).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes& zeros(size_t n)
    {
        s.append(n, '\0');
        return *this;
    }
    Bytes& raw(const std::string& b)
    {
        s += b;
        return *this;
    }
    void put32(size_t at, uint32_t v)
    {
        for (int k = 0; k < 4; ++k)
            s[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
    }
};

// One operate record: where its data lies (relative to the block's base),
// its length, the card address, the wait in ms, type and target.
struct Rec {
    uint32_t offset, dataLen, addr, ms;
    unsigned type, target;
};

void record(Bytes& b, const Rec& r)
{
    b.u32(r.offset).u32(r.dataLen).u32(r.addr).u32(r.ms).u8(r.type).u8(r.target);
}

// A card block: the record count, 2 spare bytes, the records.
void cardBlock(Bytes& b, const std::vector<Rec>& recs)
{
    b.u16(static_cast<unsigned>(recs.size())).u16(0);
    for (const Rec& r : recs)
        record(b, r);
}

// A RAM write of 2 bytes to address addr whose data lies at `at`.
Rec ram2(uint32_t at, uint32_t addr)
{
    return Rec{at, 2, addr, 500, 1, 1};
}

// A bare scan file: 16-byte head, the block (count at 16, records from 20),
// then `data`; record offsets count from byte 16.
std::string bareFile(const std::vector<Rec>& recs, const std::string& data)
{
    Bytes b;
    b.zeros(16);
    cardBlock(b, recs);
    b.raw(data);
    return b.s;
}

// Offset of the data that follows n records in a bare file, from byte 16.
uint32_t bareData(size_t n)
{
    return static_cast<uint32_t>(4 + 18 * n);
}

// A packed file of one screen (config id 0x5A) whose nets are given as
// (port index, cards); every card of net n has one RAM write of the two
// bytes n, n >> 8 to card address 0x300. cardParams: the screen's card
// parameter block (data after it, offsets from the block's start).
std::string packedFile(const std::vector<std::pair<unsigned, unsigned>>& nets, const std::vector<Rec>& cardParams = {},
                       const std::string& paramData = "")
{
    // Rcv xy section: 16-byte head, then the screen's block at +16: net
    // count, 2 spare, the net table, then per net its card blocks and
    // their data.
    Bytes xy;
    xy.zeros(16);
    const size_t screenBlock = xy.size();
    xy.u16(static_cast<unsigned>(nets.size())).u16(0);
    const size_t table = xy.size();
    xy.zeros(12 * nets.size());
    for (size_t n = 0; n < nets.size(); ++n) {
        const uint32_t netStart = static_cast<uint32_t>(xy.size() - screenBlock);
        const unsigned cards = nets[n].second;
        // Data after the net's blocks, offsets from the net's start.
        const uint32_t data = static_cast<uint32_t>(cards * (4 + 18));
        Bytes blocks;
        for (unsigned c = 0; c < cards; ++c)
            cardBlock(blocks, {ram2(data + 2 * c, 0x300)});
        for (unsigned c = 0; c < cards; ++c)
            blocks.u8(static_cast<unsigned>(n)).u8(static_cast<unsigned>(n >> 8));
        Bytes entry;
        entry.u16(nets[n].first).u16(cards).u32(netStart).u32(static_cast<uint32_t>(blocks.size()));
        xy.s.replace(table + 12 * n, 12, entry.s);
        xy.raw(blocks.s);
    }
    Bytes params;
    if (!cardParams.empty()) {
        cardBlock(params, cardParams);
        params.raw(paramData);
    }

    Bytes f;
    f.u8(0).u8(0).u8(0).u8(3);
    const uint32_t screenAt = 4 + 3 * 12;
    const uint32_t screenLen = 32 + 52;
    const uint32_t xyAt = screenAt + screenLen;
    const uint32_t paramsAt = xyAt + static_cast<uint32_t>(xy.size());
    f.u8(10).zeros(3).u32(screenLen).u32(screenAt);
    f.u8(11).zeros(3).u32(static_cast<uint32_t>(xy.size())).u32(xyAt);
    f.u8(12).zeros(3).u32(static_cast<uint32_t>(params.size())).u32(paramsAt);
    // Screen head: type at 2, the lengths, screen count at 20.
    f.u16(0).u8(1).u8(0).u32(static_cast<uint32_t>(params.size())).u32(0).u32(static_cast<uint32_t>(xy.size()))
        .u32(0).u8(1).zeros(11);
    // Screen 0: config id, net use, 28 spare, card parameters (offset,
    // length), mapping (offset, length).
    f.u32(0x5A).u32(static_cast<uint32_t>(nets.size())).zeros(28);
    f.u32(0).u32(static_cast<uint32_t>(params.size())).u32(static_cast<uint32_t>(screenBlock))
        .u32(static_cast<uint32_t>(xy.size() - screenBlock));
    f.raw(xy.s).raw(params.s);
    return f.s;
}

class HandBuiltFiles : public CardJobTest {
protected:
    void SetUp() override
    {
        CardJobTest::SetUp();
        QDir().mkpath(QString::fromStdString(hostPath("/data/rcvrecovery")));
        QDir().mkpath(QString::fromStdString(hostPath("/data/smartmapping")));
    }
    void packed(const std::string& bytes) { writeFile(hostPath("/data/rcvrecovery/KQFX"), bytes); }
    void scan(const std::string& bytes) { writeFile(hostPath("/data/smartmapping/scan.kqfile"), bytes); }
    int load() { return runLoad("/data/smartmapping/scan.kqfile"); }
    // The restore's input as a check leaves it.
    void restoreAt(unsigned port, unsigned card, unsigned net)
    {
        mgr().restore_screen = 0;
        mgr().restore_port = static_cast<unsigned char>(port);
        mgr().restore_card = static_cast<unsigned short>(card);
        mgr().restore_net = static_cast<unsigned short>(net);
    }
};

TEST_F(HandBuiltFiles, ThreeHundredNetsAreCheckedAndTheCardOnNet290Restored)
{
    upWithCards({{2, 3}, {19, 3}});
    std::vector<std::pair<unsigned, unsigned>> nets(300, {1, 3});
    nets[290] = {18, 3};
    packed(packedFile(nets));
    control("card-faulty 19 1");
    const OpenAdvancedPage page;

    const int ticks = runJob(5, 40000);
    ASSERT_GT(ticks, 0) << "the check ends";
    EXPECT_FALSE(g_send_para.failed.load());
    EXPECT_EQ(g_send_para.card_reply.load(), 1);
    EXPECT_EQ(mgr().restore_net, 290);
    EXPECT_EQ(mgr().restore_port, 18);

    // The restore writes net 290's record (data 290 = 0x22 0x01) into
    // card 1 of port 19, and only there.
    ASSERT_GT(runJob(6, 40000), 0);
    EXPECT_FALSE(g_send_para.failed.load());
    EXPECT_EQ(chain(19).cardRam(1, 0x300, 2), (std::vector<uint8_t>{0x22, 0x01}));
    EXPECT_EQ(chain(19).faultyCard(), -1);
    EXPECT_TRUE(framesOf(19, 0, 0x60).empty());
}

TEST_F(HandBuiltFiles, ACardWith300RecordsGetsThemAll)
{
    upWithCards({{2, 1}});
    // Card 0 of net 0: 300 one-byte RAM writes, record k writing k * 7 + 1
    // to address k; the data follows the records.
    const size_t n = 300;
    std::vector<Rec> recs;
    std::string data;
    for (size_t k = 0; k < n; ++k) {
        recs.push_back(Rec{bareData(n) + static_cast<uint32_t>(k), 1, static_cast<uint32_t>(k), 500, 1, 1});
        data.push_back(static_cast<char>(k * 7 + 1));
    }
    // As the screen's card parameters (steps 17 to 19), restored before
    // the card's mapping record.
    packed(packedFile({{1, 1}}, recs, data));
    restoreAt(1, 0, 0);
    ASSERT_GT(runJob(6, 40000), 0);
    EXPECT_FALSE(g_send_para.failed.load());
    const std::vector<uint8_t> ram = chain(2).cardRam(0, 0, n);
    for (size_t k = 0; k < n; ++k)
        ASSERT_EQ(ram[k], static_cast<uint8_t>(k * 7 + 1)) << "record " << k;
    EXPECT_EQ(chain(2).cardRam(0, 0x300, 2), (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(framesOf(2, 0, 0x60).size(), n + 1);
}

TEST_F(HandBuiltFiles, FramesUpTo1024BytesLoadAndRecordsThatCannotBeLoadedFailTheJob)
{
    upWithCards({{5, 2}});
    line_type.port = 4;
    const std::string a2 = std::string("\x11\x22", 2);
    const std::string b2 = std::string("\x33\x44", 2);

    // A register write of 1013 bytes and a user-defined frame of 1014 make
    // frames of exactly 1024 bytes.
    {
        const std::string reg(1013, '\x5C'), user(1014, '\x6D');
        scan(bareFile({Rec{bareData(2), 1013, 0, 500, 1, 2}, Rec{bareData(2) + 1013, 1014, 0, 500, 16, 0}},
                      reg + user));
        ASSERT_GT(load(), 0);
        EXPECT_FALSE(g_send_para.failed.load());
        const auto regs = framesOf(5, 0, 0xA0);
        ASSERT_EQ(regs.size(), 1u);
        EXPECT_EQ(regs[0].size(), 1024u);
        // A user-defined frame has no opcode: its data follows byte 8.
        const auto users = framesOf(5, 0, 0x6D);
        ASSERT_EQ(users.size(), 1u);
        EXPECT_EQ(users[0].size(), 1024u);
    }

    // Each damaged record between two good RAM writes: the first is
    // written, the job stops at the damaged one and ends as failed.
    struct Case {
        const char* what;
        Rec bad;
        std::string badData;
    };
    const uint32_t d = bareData(3);
    const Case cases[] = {
        {"data outside the file", Rec{d + 4 + 5000, 4, 0, 500, 1, 1}, ""},
        {"1014 register bytes", Rec{d + 4, 1014, 0, 500, 1, 2}, std::string(1014, '\x01')},
        {"5000 register bytes", Rec{d + 4, 5000, 0, 500, 1, 2}, std::string(5000, '\x01')},
        {"a card firmware upgrade (type 4)", Rec{d + 4, 1, 0, 500, 4, 0}, "x"},
        {"an unknown type", Rec{d + 4, 1, 0, 500, 0x21, 0}, "x"},
        {"a write to the flash target", Rec{d + 4, 1, 0, 500, 1, 3}, "x"},
        {"a wait of 0xFFFFFFFF ms", Rec{d + 4, 0, 0, 0xFFFFFFFFu, 6, 0}, ""},
        {"a wait of 60001 ms", Rec{d + 4, 1, 0, 60001, 1, 2}, "x"},
    };
    uint32_t at = 0x1000;
    for (const Case& c : cases) {
        at += 0x100;
        scan(bareFile({ram2(d, at), c.bad, ram2(d + 2, at + 0x20)}, a2 + b2 + c.badData));
        mgr().job_progress = -1;
        const int ticks = load();
        ASSERT_GT(ticks, 0) << c.what;
        EXPECT_LT(ticks, 2000) << c.what;
        EXPECT_TRUE(g_send_para.failed.load()) << c.what;
        EXPECT_EQ(mgr().job_progress.load(), 100) << c.what;
        EXPECT_EQ(chain(5).cardRam(1, at, 2), (std::vector<uint8_t>{0x11, 0x22})) << c.what;
        EXPECT_EQ(chain(5).cardRam(1, at + 0x20, 2), (std::vector<uint8_t>{0, 0})) << c.what << ": the job went on";
    }

    // The longest wait a record may ask for is kept: a sleep of 60000 ms
    // lasts its 6000 ticks.
    scan(bareFile({Rec{bareData(1), 0, 0, 60000, 6, 0}}, ""));
    const int slept = load();
    EXPECT_FALSE(g_send_para.failed.load());
    EXPECT_GE(slept, 6000);
    EXPECT_LT(slept, 7000);

    // The same damage in a restore (job 6) ends it as failed too.
    std::vector<Rec> params{ram2(bareData(2), 0x10), Rec{bareData(2) + 2, 1, 0, 500, 4, 0}};
    packed(packedFile({{4, 2}}, params, a2 + "x"));
    restoreAt(4, 1, 0);
    ASSERT_GT(runJob(6), 0);
    EXPECT_TRUE(g_send_para.failed.load());

    // A net on a port beyond the 32: the check ends as failed.
    packed(packedFile({{4, 2}, {40, 1}}));
    ASSERT_GT(runJob(5), 0);
    EXPECT_TRUE(g_send_para.failed.load());

    // A restore whose card never confirms its frame (four tries) is not
    // done: it ends as failed.
    packed(packedFile({{4, 2}}));
    restoreAt(4, 1, 0);
    control("card-fault 5 silent");
    const size_t before = framesOf(5, 1, 0x60).size();
    ASSERT_GT(runJob(6), 0);
    EXPECT_TRUE(g_send_para.failed.load());
    EXPECT_EQ(framesOf(5, 1, 0x60).size() - before, 4u);
}

// Job 2 loads to every card of the port (`all`): RAM, register, user and
// save frames go to all cards (0x0FFF), which the chain's first card
// answers; activate and reconfigure go to each card, the last one first.
// A frame no card confirms is tried four times, then the load goes on with
// the next card or packet, and the job ends as not completed.
TEST_F(HandBuiltFiles, ALoadToEveryCardGoesOnPastASilentCard)
{
    upWithCards({{5, 4}});
    line_type.port = 4;
    // Six records, 100 ms each: 2500 RAM bytes to 0x100 (packets of 1000,
    // 1000, 500), activate, reconfigure, 3 register bytes, 3 user-defined
    // bytes, save to flash.
    std::string ram(2500, '\0');
    for (size_t i = 0; i < ram.size(); ++i)
        ram[i] = static_cast<char>(i * 7);
    const uint32_t d = bareData(6);
    const std::vector<Rec> recs = {
        Rec{d, 2500, 0x100, 100, 1, 1},         Rec{d + 2500, 2, 0, 100, 3, 0},
        Rec{d + 2502, 2, 0, 100, 5, 0},         Rec{d + 2504, 3, 0, 100, 1, 2},
        Rec{d + 2507, 3, 0, 100, 16, 0},        Rec{d + 2510, 0, 0, 100, 2, 0},
    };
    scan(bareFile(recs, ram + std::string("\x01\x02\x03\x04\x10\x20\x30\x6D\x55\x66", 10)));
    const std::vector<uint8_t> ramBytes(ram.begin(), ram.end());

    // The sizes of card c's log per opcode: RAM, activate, reconfigure,
    // register, user-defined (its first byte 0x6D), save.
    struct Seen {
        size_t ram, activate, reconfig, reg, user, save;
    };
    auto seen = [&](unsigned c) {
        return Seen{framesOf(5, c, 0x60).size(), framesOf(5, c, 0xB4).size(), framesOf(5, c, 0x84).size(),
                    framesOf(5, c, 0xA0).size(), framesOf(5, c, 0x6D).size(), framesOf(5, c, 0x81).size()};
    };
    auto since = [](const Seen& a, const Seen& b) {
        return std::vector<size_t>{a.ram - b.ram,       a.activate - b.activate, a.reconfig - b.reconfig,
                                   a.reg - b.reg,       a.user - b.user,         a.save - b.save};
    };
    // The RAM packets card c took since frame `from` of its RAM log: their
    // addresses in order.
    auto ramAddresses = [&](unsigned c, size_t from) {
        std::vector<unsigned> out;
        const auto frames = framesOf(5, c, 0x60);
        for (size_t k = from; k < frames.size(); ++k) {
            EXPECT_EQ(frames[k][0] | (frames[k][1] << 8), 0x0FFF) << "card " << c;
            out.push_back(frames[k][10] | (frames[k][11] << 8));
        }
        return out;
    };

    // A sound chain: every frame is confirmed once, also those to every
    // card, and the job ends as done.
    {
        Seen before[4];
        for (unsigned c = 0; c < 4; ++c)
            before[c] = seen(c);
        mgr().job_progress = -1;
        ASSERT_GT(load(), 0);
        EXPECT_FALSE(g_send_para.failed.load());
        EXPECT_EQ(mgr().job_progress.load(), 100);
        for (unsigned c = 0; c < 4; ++c) {
            EXPECT_EQ(since(seen(c), before[c]), (std::vector<size_t>{3, 1, 1, 1, 1, 1})) << "card " << c;
            EXPECT_EQ(ramAddresses(c, before[c].ram), (std::vector<unsigned>{0x100, 0x100 + 1000, 0x100 + 2000}));
            EXPECT_EQ(chain(5).cardRam(c, 0x100, 2500), ramBytes) << "card " << c;
        }
    }

    // The chain's first card is silent: no frame to every card is
    // confirmed, nor card 0's own; each is tried four times and the cards
    // after it still take every packet and every record.
    {
        ASSERT_EQ(control("card-silent 5 0 on"), "ok\n");
        Seen before[4];
        for (unsigned c = 0; c < 4; ++c)
            before[c] = seen(c);
        mgr().job_progress = -1;
        ASSERT_GT(load(), 0);
        EXPECT_TRUE(g_send_para.failed.load());
        EXPECT_EQ(mgr().job_progress.load(), 100);
        EXPECT_EQ(since(seen(0), before[0]), (std::vector<size_t>{12, 4, 4, 4, 4, 4}));
        for (unsigned c = 1; c < 4; ++c) {
            EXPECT_EQ(since(seen(c), before[c]), (std::vector<size_t>{12, 1, 1, 4, 4, 4})) << "card " << c;
            const std::vector<unsigned> a = {0x100, 0x100 + 1000, 0x100 + 2000};
            EXPECT_EQ(ramAddresses(c, before[c].ram),
                      (std::vector<unsigned>{a[0], a[0], a[0], a[0], a[1], a[1], a[1], a[1], a[2], a[2], a[2], a[2]}))
                << "card " << c;
        }
        ASSERT_EQ(control("card-silent 5 0 off"), "ok\n");
    }

    // The card the per-card frames reach first (the last of the chain) is
    // silent: its activate and reconfigure are tried four times, then the
    // cards before it get theirs; the job ends as not completed.
    {
        ASSERT_EQ(control("card-silent 5 3 on"), "ok\n");
        Seen before[4];
        for (unsigned c = 0; c < 4; ++c)
            before[c] = seen(c);
        mgr().job_progress = -1;
        ASSERT_GT(load(), 0);
        EXPECT_TRUE(g_send_para.failed.load());
        EXPECT_EQ(mgr().job_progress.load(), 100);
        EXPECT_EQ(since(seen(3), before[3]), (std::vector<size_t>{3, 4, 4, 1, 1, 1}));
        for (unsigned c = 0; c < 3; ++c)
            EXPECT_EQ(since(seen(c), before[c]), (std::vector<size_t>{3, 1, 1, 1, 1, 1})) << "card " << c;
        ASSERT_EQ(control("card-silent 5 3 off"), "ok\n");
    }
}

// A check that would take longer than half an hour (400 nets that do not
// answer, 5 s each) ends as failed after 30 minutes.
TEST_F(HandBuiltFiles, AJobEndsAfterHalfAnHour)
{
    upWithCards({{2, 1}});
    control("card-fault 2 silent");
    packed(packedFile(std::vector<std::pair<unsigned, unsigned>>(400, {1, 1})));
    const int ticks = runJob(5, 250000);
    ASSERT_GT(ticks, 0);
    EXPECT_TRUE(g_send_para.failed.load());
    EXPECT_GE(ticks, 180000);
    EXPECT_LT(ticks, 181000);
}

TEST_F(HandBuiltFiles, AFileCutShortAtAnyByteEndsTheCheckAndTheRestore)
{
    upWithCards({{2, 2}, {19, 2}});
    std::vector<Rec> params{ram2(bareData(2), 0x10), Rec{bareData(2) + 2, 2, 0, 100, 1, 2}};
    const std::string whole = packedFile({{1, 2}, {18, 2}}, params, std::string("\x01\x02\x03\x04", 4));
    const auto start = std::chrono::steady_clock::now();
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        packed(whole.substr(0, cut));
        ASSERT_GT(runJob(5, 3000), 0) << "check, file cut at " << cut;
        restoreAt(18, 1, 1);
        ASSERT_GT(runJob(6, 3000), 0) << "restore, file cut at " << cut;
        EXPECT_TRUE(g_send_para.failed.load()) << "restore, file cut at " << cut;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    RecordProperty("sweep_seconds", std::to_string(seconds));
}

} // namespace
