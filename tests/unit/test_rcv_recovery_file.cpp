// Reader of the packed receiving-card parameter files and the bare scan
// files: the walk through sections, screens, nets, cards and records, and
// files that are truncated or whose offsets point outside the file.
#include "support/packed_card_file.h"
#include "support/sim_board_test.h"

#include "sendcard/rcv_recovery_file.h"

#include <QDir>

using namespace testfiles;

namespace {

class RcvFileReader : public SimBoardTest {
protected:
    const QString path = "/data/rcvrecovery/KQFX";

    void write(const std::string& bytes, const std::string& at = "/data/rcvrecovery/KQFX")
    {
        QDir().mkpath(QString::fromStdString(hostPath(at)).section('/', 0, -2));
        writeFile(hostPath(at), bytes);
    }

    // Reads the pack header and the section table as the check job does.
    void readTable()
    {
        ASSERT_EQ(r.get_rcvPackedFileNum(path), 0);
        for (unsigned i = 0; i < r.held_sections(); ++i)
            ASSERT_EQ(r.get_rcvPackedFileInfo(path, static_cast<unsigned char>(i)), 0);
    }

    Packed twoScreens()
    {
        Packed p;
        Screen a;
        a.configId = 0x11223344;
        Net n0;
        n0.ledx = 1;
        n0.cards.resize(3);
        n0.cards[0].ops = {Operate{1, 1, 0x100, 500, {1, 2, 3}}};
        n0.cards[1].ops = {Operate{1, 2, 0, 500, {9}}, Operate{2, 3, 0, 700, {}}};
        n0.cards[2].ops = {Operate{6, 0, 0, 300, {}}, Operate{1, 1, 0x40, 500, {7, 7}}, Operate{3, 0, 0, 100, {5}}};
        Net n1;
        n1.ledx = 20;
        n1.cards.resize(1);
        n1.cards[0].ops = {Operate{16, 0, 0, 100, {0xAB, 0xCD}}};
        a.nets = {n0, n1};
        a.cardParams = {Operate{1, 2, 0, 200, {4, 4, 4, 4}}};
        Screen b;
        b.configId = 0x55;
        Net m;
        m.ledx = 5;
        m.cards.resize(2);
        m.cards[1].ops = {Operate{1, 1, 0x200, 100, {0xEE}}};
        b.nets = {m};
        p.screens = {a, b};
        return p;
    }

    rcvRecovery r;
};

TEST_F(RcvFileReader, WalksScreensNetsCardsAndRecordsOfAPackedFile)
{
    write(packed(twoScreens()));
    readTable();
    EXPECT_EQ(r.section_count(), 3u);
    EXPECT_TRUE(r.has_section(10));
    EXPECT_TRUE(r.has_section(12));
    ASSERT_EQ(r.update_rcvScreenHead(path), 0);
    EXPECT_EQ(r.screen_head.screen_num, 2);

    ASSERT_EQ(r.update_rcvScreenIDinfo(path, 1), 0);
    EXPECT_EQ(r.screen_info.config_id, 0x55u);
    ASSERT_EQ(r.update_rcvScreenIDinfo(path, 0), 0);
    EXPECT_EQ(r.screen_info.config_id, 0x11223344u);
    EXPECT_NE(r.screen_info.rcv_para_len, 0u);

    ASSERT_EQ(r.update_rcvXYscreenNetnum(path), 0);
    EXPECT_EQ(r.screen_net_num, 2);
    ASSERT_EQ(r.update_rcvXYscreenNetpara(path, 1), 0);
    EXPECT_EQ(r.net_para.net_ledx, 20);
    ASSERT_EQ(r.update_rcvXYscreenNetpara(path, 0), 0);
    EXPECT_EQ(r.net_para.net_ledx, 1);
    EXPECT_EQ(r.net_para.net_rcv_num, 3);

    // Card 0 sits at the net start; card 2 after the blocks of 1 and 2 records.
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(path, 0, false), 0);
    EXPECT_EQ(r.card_block_offset, 0u);
    EXPECT_EQ(r.rcv_operate_times, 1);
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(path, 2, false), 0);
    EXPECT_EQ(r.card_block_offset, (4u + 18u) + (4u + 36u));
    EXPECT_EQ(r.rcv_operate_times, 3);
    ASSERT_EQ(r.update_rcvXYrcvOperatepara(path, 1, false), 0);
    EXPECT_EQ(r.operate.type, 1);
    EXPECT_EQ(r.operate.target, 1);
    EXPECT_EQ(r.operate.targetAddr, 0x40u);
    EXPECT_EQ(r.operate.dataLen, 2u);
    // The record's data where the check job computes it.
    const unsigned pos = r.section_base(11) + r.screen_info.rcv_xy_offset + r.net_para.net_para_offset + r.operate.offset;
    unsigned char data[2] = {0, 0};
    ASSERT_EQ(r.update_rcvOperatedata(path, pos, data, 2), 0);
    EXPECT_EQ(data[0], 7);
    EXPECT_EQ(data[1], 7);

    // The screen's card-parameter block in the smart debugging section.
    ASSERT_EQ(r.update_smartDebugingOperateTimes(path, false), 0);
    EXPECT_EQ(r.rcv_operate_times, 1);
    ASSERT_EQ(r.update_smartDebugingOperatepara(path, 0, false), 0);
    EXPECT_EQ(r.operate.target, 2);
    unsigned char reg[4] = {};
    ASSERT_EQ(r.update_rcvOperatedata(path, r.section_base(12) + r.screen_info.rcv_para_offset + r.operate.offset, reg, 4),
              0);
    EXPECT_EQ(reg[3], 4);
}

TEST_F(RcvFileReader, SectionLookupAndIndexLimits)
{
    // N = 0: every base is 0, so the screen head is read from the file start.
    std::string none(64, '\0');
    none[20] = 7;
    write(none);
    readTable();
    EXPECT_EQ(r.section_base(10), 0u);
    ASSERT_EQ(r.update_rcvScreenHead(path), 0);
    EXPECT_EQ(r.screen_head.screen_num, 7);

    // Two entries of type 11: the later one wins.
    std::string two(4 + 24, '\0');
    two[3] = 2;
    two[4] = 11;
    put32(two, 12, 100);
    two[16] = 11;
    put32(two, 24, 200);
    write(two);
    readTable();
    EXPECT_EQ(r.section_base(11), 200u);
    EXPECT_EQ(r.section_base(12), 0u);

    // A screen index at or beyond screen_num fails without reading.
    write(packed(twoScreens()));
    readTable();
    ASSERT_EQ(r.update_rcvScreenHead(path), 0);
    r.screen_info.config_id = 0xDEAD;
    EXPECT_NE(r.update_rcvScreenIDinfo(path, 2), 0);
    EXPECT_EQ(r.screen_info.config_id, 0xDEADu);
    r.screen_head.screen_num = 0;
    EXPECT_NE(r.update_rcvScreenIDinfo(path, 0), 0);
    // A card beyond the net's count has no block.
    r.screen_head.screen_num = 2;
    ASSERT_EQ(r.update_rcvScreenIDinfo(path, 0), 0);
    ASSERT_EQ(r.update_rcvXYscreenNetnum(path), 0);
    ASSERT_EQ(r.update_rcvXYscreenNetpara(path, 0), 0);
    EXPECT_NE(r.update_rcvXYrcvOperateTimes(path, 3, false), 0);
    EXPECT_NE(r.update_rcvXYscreenNetpara(path, 2), 0);
}

TEST_F(RcvFileReader, MoreThanSixSectionsKeepsTheFirstSix)
{
    std::string f(4 + 12 * 8, '\0');
    f[3] = 8;
    for (int i = 0; i < 8; ++i) {
        f[4 + 12 * i] = 11;
        put32(f, 12 + 12 * i, 1000 + i);
    }
    write(f);
    readTable();
    EXPECT_EQ(r.held_sections(), 6u);
    EXPECT_EQ(r.section_base(11), 1005u) << "the last held entry";
    EXPECT_NE(r.get_rcvPackedFileInfo(path, 6), 0);
}

TEST_F(RcvFileReader, TruncatedOrCorruptFilesFailWithoutChangingTheMembers)
{
    const std::string whole = packed(twoScreens());
    // Cut inside the section table.
    write(whole.substr(0, 10));
    ASSERT_EQ(r.get_rcvPackedFileNum(path), 0);
    EXPECT_EQ(r.get_rcvPackedFileInfo(path, 0), rcvRecovery::kOutOfRange);

    // Cut inside the second screen's record.
    write(whole);
    readTable();
    const unsigned cut = r.section_base(10) + 32 + 52 + 20;
    write(whole.substr(0, cut));
    ASSERT_EQ(r.update_rcvScreenHead(path), 0);
    ASSERT_EQ(r.update_rcvScreenIDinfo(path, 0), 0);
    EXPECT_EQ(r.update_rcvScreenIDinfo(path, 1), rcvRecovery::kOutOfRange);
    EXPECT_EQ(r.screen_info.config_id, 0x11223344u) << "the held screen stays";

    // A section offset far beyond the end, and one near 4 GiB (no wrap).
    std::string bad = whole;
    put32(bad, 12, 0xFFFFFFF0u);   // entry 0 (screen file) offset
    write(bad);
    readTable();
    EXPECT_EQ(r.update_rcvScreenHead(path), rcvRecovery::kOutOfRange);

    // A screen whose mapping offset points outside the file.
    write(whole);
    readTable();
    ASSERT_EQ(r.update_rcvScreenHead(path), 0);
    std::string badXy = whole;
    put32(badXy, r.section_base(10) + 32 + 44, 0x7FFFFFFF);
    write(badXy);
    ASSERT_EQ(r.update_rcvScreenIDinfo(path, 0), 0);
    EXPECT_EQ(r.update_rcvXYscreenNetnum(path), rcvRecovery::kOutOfRange);

    // A card block announcing 65535 records: the walk to the next card
    // lands outside the file.
    write(whole);
    ASSERT_EQ(r.update_rcvScreenIDinfo(path, 0), 0);
    ASSERT_EQ(r.update_rcvXYscreenNetnum(path), 0);
    ASSERT_EQ(r.update_rcvXYscreenNetpara(path, 0), 0);
    const unsigned netStart = r.section_base(11) + r.screen_info.rcv_xy_offset + r.net_para.net_para_offset;
    std::string huge = whole;
    put16(huge, netStart, 0xFFFF);
    write(huge);
    EXPECT_EQ(r.update_rcvXYrcvOperateTimes(path, 1, false), rcvRecovery::kOutOfRange);
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(path, 0, false), 0);
    EXPECT_EQ(r.rcv_operate_times, 0xFFFF);
    EXPECT_EQ(r.update_rcvXYrcvOperatepara(path, 200, false), rcvRecovery::kOutOfRange);

    // Data reads: inside, and one byte over the end.
    const unsigned size = static_cast<unsigned>(whole.size());
    unsigned char buf[8];
    EXPECT_EQ(r.update_rcvOperatedata(path, size - 8, buf, 8), 0);
    EXPECT_EQ(r.update_rcvOperatedata(path, size - 7, buf, 8), rcvRecovery::kOutOfRange);
    // A record's data larger than the caller's buffer.
    r.operate.offset = 0;
    r.operate.dataLen = 9;
    unsigned int n = 0;
    EXPECT_NE(r.update_rcvDealData(path, buf, sizeof(buf), &n), 0);
    r.operate.dataLen = 8;
    EXPECT_EQ(r.update_rcvDealData(path, buf, sizeof(buf), &n), 0);
    EXPECT_EQ(n, 8u);

    // A missing file.
    EXPECT_EQ(r.get_rcvPackedFileNum("/data/rcvrecovery/none"), rcvRecovery::kNoFile);
}

TEST_F(RcvFileReader, BareFileAndFolderLists)
{
    const std::vector<Operate> ops = {Operate{1, 1, 0x10, 100, {1, 2, 3, 4, 5}}, Operate{2, 3, 0, 100, {}}};
    write(bare(ops), "/data/smartmapping/scan.bin");
    const QString bp = "/data/smartmapping/scan.bin";
    r.screen_info.rcv_para_offset = 99;
    r.init_para();
    EXPECT_EQ(r.screen_info.rcv_para_offset, 0u);
    ASSERT_EQ(r.update_smartDebugingOperateTimes(bp, true), 0);
    EXPECT_EQ(r.rcv_operate_times, 2);
    ASSERT_EQ(r.update_smartDebugingOperatepara(bp, 0, true), 0);
    unsigned char d[5];
    ASSERT_EQ(r.update_rcvOperatedata(bp, 16 + r.operate.offset, d, 5), 0);
    EXPECT_EQ(d[4], 5);
    ASSERT_EQ(r.update_smartDebugingOperatepara(bp, 1, true), 0);
    EXPECT_EQ(r.operate.type, 2);

    EXPECT_EQ(r.get_dir_file("/data/smartmapping"), 0);
    EXPECT_EQ(r.smart_files(), QStringList{"scan.bin"});
    EXPECT_TRUE(r.recovery_files().isEmpty());
    EXPECT_EQ(r.get_dir_file("/data/nothere"), 1);
    // "/mnt/usb1" without the slash is no known folder: nothing changes.
    QDir().mkpath(QString::fromStdString(hostPath("/mnt/usb1")));
    EXPECT_EQ(r.get_dir_file("/mnt/usb1"), 0);
    EXPECT_EQ(r.smart_files(), QStringList{"scan.bin"});
    EXPECT_EQ(r.get_dir_file("/mnt/usb1/"), 0);
    EXPECT_TRUE(r.smart_files().isEmpty());
    EXPECT_EQ(r.check_file_dir("/data/rcvrecovery2"), 1);
    EXPECT_EQ(r.check_file_dir("/data/rcvrecovery2"), 0);
}

} // namespace
