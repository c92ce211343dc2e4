// User-mode saves and deletes on the running program: every ordered pair of
// two acts among a save of mode 3, a save of mode 7, a delete of mode 3, a
// load of mode 10 and another PC writing back a range over word 868, from
// the PC and from the pages (taps), 0, 20 ms and 0.5 s apart, each pair
// followed by a clean stop (SIGTERM), with a chip pass held at the stop or
// not; and each flag 2 of the PC followed at once by another PC's write of
// the first half of mode 5 (no flag of its own), then a SIGTERM or a
// SIGKILL once the flag's files are written. The picture (block byte 2500)
// changes right after every act that is not a load. After the stop every
// mode file holds the picture of its own save's moment, a deleted mode
// stays deleted, and mode 5 keeps its file. Then a flood of saves from two
// PCs with another PC's block write among them.
#include "support/app_runner.h"

#include "core/default_para.h"
#include "pcclient/pc_client.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace pcclient;

namespace {

enum Kind { kSave3, kSave7, kDelete3, kLoad10, kRange868, kHalf5 };
const char* const kKindNames[] = {"Save3", "Save7", "Delete3", "Load10", "OtherPcsRange", "OtherPcsHalf5"};
enum Source { kPc, kPage };
enum Stop { kTerm, kKill };

struct Row {
    Kind first, second;
    Source firstBy, secondBy;
    int gapMs;
    bool held;   // a chip pass held when the stop comes
    Stop stop = kTerm;
};

// Each ordered pair of two different acts: both from the PC; the first from
// a page; the second from a page (the range is the PC's alone). The gap and
// the held pass rotate, so that a pair meets each gap and both states.
std::vector<Row> rows()
{
    std::vector<Row> all;
    const int gaps[] = {0, 20, 500};
    int n = 0;
    for (int a = kSave3; a <= kRange868; ++a) {
        for (int b = kSave3; b <= kRange868; ++b) {
            if (a == b)
                continue;
            for (int v = 0; v < 3; ++v) {
                const Source firstBy = v == 1 ? kPage : kPc;
                const Source secondBy = v == 2 ? kPage : kPc;
                if ((firstBy == kPage && a == kRange868) || (secondBy == kPage && b == kRange868))
                    continue;
                all.push_back(Row{Kind(a), Kind(b), firstBy, secondBy, gaps[(n + v) % 3], (n + v) % 2 == 1});
            }
            ++n;
        }
    }
    // Each flag 2 of the PC, then the other PC's half of mode 5 at once.
    for (Kind flagTwo : {kSave7, kDelete3}) {
        all.push_back(Row{flagTwo, kHalf5, kPc, kPc, 0, false, kTerm});
        all.push_back(Row{flagTwo, kHalf5, kPc, kPc, 0, true, kTerm});
        all.push_back(Row{flagTwo, kHalf5, kPc, kPc, 0, false, kKill});
    }
    return all;
}

std::string rowName(const ::testing::TestParamInfo<Row>& info)
{
    const Row& r = info.param;
    auto by = [](Source s) { return s == kPc ? "Pc" : "Page"; };
    return std::string(kKindNames[r.first]) + by(r.firstBy) + "Then" + kKindNames[r.second] + by(r.secondBy) + "_" +
           std::to_string(r.gapMs) + "ms" + (r.held ? "_PassHeld" : "") + (r.stop == kKill ? "_Killed" : "");
}

// A mode file's marker and picture byte (block 2500), "none" without a file.
const int kPictureAt = 2 + 2500 - 896;

std::string modeFile(AppRunner& app, int mode)
{
    QFile f(QString::fromStdString(app.hostPath("/data/modes/custom_mode" + std::to_string(mode))));
    if (!f.open(QIODevice::ReadOnly))
        return "none";
    const QByteArray a = f.readAll();
    if (a.size() != 4096)
        return "size " + std::to_string(a.size());
    char text[16];
    std::snprintf(text, sizeof(text), "%02x%02x %02x", static_cast<unsigned char>(a[0]), static_cast<unsigned char>(a[1]),
                  static_cast<unsigned char>(a[kPictureAt]));
    return text;
}

std::string saved(unsigned char picture)
{
    char text[16];
    std::snprintf(text, sizeof(text), "aaaa %02x", picture);
    return text;
}

// A saved mode made from the default block with its own picture byte.
void writeMode(AppRunner& app, int mode, unsigned char picture)
{
    const DefaultParaImage& image = defaultParaImage();
    std::string bytes(4096, '\0');
    bytes[0] = bytes[1] = '\xAA';
    for (int o = 896; o < 4096; ++o)
        bytes[static_cast<size_t>(o - 896 + 2)] = static_cast<char>(image[static_cast<size_t>(o - 766)]);
    bytes[kPictureAt] = static_cast<char>(picture);
    QDir().mkpath(QString::fromStdString(app.hostPath("/data/modes")));
    QFile f(QString::fromStdString(app.hostPath("/data/modes/custom_mode" + std::to_string(mode))));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

class E2eUserModeSaves : public ::testing::TestWithParam<Row> {
protected:
    AppRunner app;
    UdpLink pc;
    UdpLink otherPc;
    Bytes otherPcsRange;   // block 864..871 as the other PC read it

    void request(Link& link, unsigned char command, const Bytes& payload)
    {
        Reply r;
        ASSERT_TRUE(link.request(kProcessor, command, payload, r));
        ASSERT_EQ(r.status, 0);
    }
    void flag(Link& link, unsigned char value) { request(link, 0xA0, regWritePayload({{11, 0xFF, value}})); }
    void picture(unsigned char value) { request(pc, 0x60, ramWritePayload(2500, Bytes{value})); }

    // A tap, returned once the page has handled it.
    void tap(int x, int y)
    {
        const unsigned long before = std::stoul(app.control("taps-delivered"));
        ASSERT_EQ(app.control("tap " + std::to_string(x) + " " + std::to_string(y)), "");
        ASSERT_TRUE(app.waitFor([&] { return std::stoul(app.control("taps-delivered")) > before; }, 10000));
    }
    bool shows(const std::string& widget, const std::string& text)
    {
        return app.waitFor([&] { return app.control("widget-text " + widget).find(text) != std::string::npos; },
                           10000);
    }

    // The page a page's act is made on, with its mode chosen.
    void openPageFor(Kind kind)
    {
        if (kind == kDelete3) {
            tap(305, 180);   // the home page's user-mode tile
            ASSERT_TRUE(app.waitFor([&] { return app.control("page-focus") == "4"; }, 10000));
            tap(80, 289);    // mode 3's tile
            ASSERT_TRUE(shows("label_ID", "ID:3"));
            return;
        }
        tap(680, 360);   // the home page's user-mode panel
        const int slot = kind == kSave3 ? 2 : kind == kSave7 ? 6 : 9;
        tap(67 + 78 * (slot % 8), 324 + 56 * (slot / 8));
        char number[8];
        std::snprintf(number, sizeof(number), " %02d ", slot + 1);
        ASSERT_TRUE(shows("label_mode_select", number));
    }

    void act(Kind kind, Source by)
    {
        if (by == kPage) {
            switch (kind) {
            case kSave3:
            case kSave7: tap(716, 380); break;    // Save
            case kLoad10: tap(716, 324); break;   // Load
            case kDelete3: tap(566, 453); break;  // Delete
            case kRange868:
            case kHalf5: FAIL() << "the other PC's";
            }
            return;
        }
        switch (kind) {
        case kSave3:
            request(pc, 0x60, ramWritePayload(868, Bytes{3, 0}));
            flag(pc, 1);
            break;
        case kSave7:
            request(pc, 0x60, ramWritePayload(868, Bytes{7, 0}));
            flag(pc, 2);
            break;
        case kDelete3:
            request(pc, 0x60, ramWritePayload(0x3000, Bytes{0xFF, 0xFF}));
            flag(pc, 2);
            break;
        case kLoad10: request(pc, 0xB0, itemsPayload({{4, 0, 10}})); break;
        case kRange868:
            request(otherPc, 0x60, ramWritePayload(864, otherPcsRange));
            flag(otherPc, 1);
            break;
        case kHalf5: {
            // A new mode 5's first 2,048 bytes, its picture among them.
            Bytes half(2048, 0x5A);
            half[0] = half[1] = 0xAA;
            half[kPictureAt] = 0x55;
            request(otherPc, 0x60, ramWritePayload(0x5000, half));
            break;
        }
        }
    }
};

} // namespace

TEST_P(E2eUserModeSaves, EachModeFileHoldsThePictureOfItsOwnSaveAndADeletedModeStaysDeleted)
{
    const Row& row = GetParam();
    writeMode(app, 3, 0xA0);
    writeMode(app, 5, 0xB0);
    writeMode(app, 10, 0xC0);
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    ASSERT_TRUE(pc.open("127.0.0.1", app.linkPort("udp")));
    ASSERT_TRUE(otherPc.open("127.0.0.1", app.linkPort("udp")));
    ASSERT_TRUE(app.waitFor([&] { return app.control("c331-state").find("state=6") != std::string::npos; }, 30000));
    ASSERT_EQ(app.control("idle-times 4000000000 4000000000"), "");
    tap(400, 240);   // the idle screen goes
    ASSERT_TRUE(app.waitFor([&] { return app.control("page-focus") == "1"; }, 10000));
    Reply r;
    ASSERT_TRUE(otherPc.request(kProcessor, 0x61, ramReadPayload(864, 8), r));
    otherPcsRange = r.data;
    ASSERT_EQ(otherPcsRange.size(), 8u);
    if (row.firstBy == kPage)
        openPageFor(row.first);
    if (row.secondBy == kPage)
        openPageFor(row.second);
    if (row.held)
        ASSERT_EQ(app.control("c331-hold 0C2802 5000"), "");
    if (HasFatalFailure())
        return;

    // What each mode file must hold: the model of the two acts.
    std::string want3 = saved(0xA0), want7 = "none";
    unsigned char shown = 0x11;
    auto model = [&](Kind kind) {
        if (kind == kSave3)
            want3 = saved(shown);
        else if (kind == kSave7)
            want7 = saved(shown);
        else if (kind == kDelete3)
            want3 = "none";
        else if (kind == kLoad10)
            shown = 0xC0;
    };
    picture(shown);
    act(row.first, row.firstBy);
    model(row.first);
    if (row.first != kLoad10)
        picture(shown = 0x22);
    if (row.gapMs > 0)
        app.waitFor([] { return false; }, row.gapMs);
    act(row.second, row.secondBy);
    model(row.second);
    if (row.second != kLoad10)
        picture(shown = 0x33);
    if (row.held) {
        // A change of the contrast: its pass holds the chip's bus.
        ASSERT_EQ(app.control("store-set 2178 3000 1"), "");
        ASSERT_TRUE(app.waitFor([&] { return app.control("c331-hold") == "holding"; }, 30000));
    }
    if (HasFatalFailure())
        return;

    if (row.second == kHalf5 && !row.held) {
        // The refresh after the flag's pass has written the flag's files.
        EXPECT_TRUE(app.waitFor([&] { return modeFile(app, 3) == want3 && modeFile(app, 7) == want7; }, 10000));
    }
    ::kill(static_cast<pid_t>(app.pid()), row.stop == kKill ? SIGKILL : SIGTERM);
    const int exit = app.waitForExit(60000);
    if (row.stop == kTerm) {
        ASSERT_EQ(exit, 0);
    } else {
        ASSERT_NE(exit, -1);
    }
    EXPECT_EQ(modeFile(app, 3), want3);
    EXPECT_EQ(modeFile(app, 5), saved(0xB0)) << "the other PC raised no flag for mode 5";
    EXPECT_EQ(modeFile(app, 7), want7);
    EXPECT_EQ(modeFile(app, 10), saved(0xC0));
}

INSTANTIATE_TEST_SUITE_P(EveryPair, E2eUserModeSaves, ::testing::ValuesIn(rows()), rowName);

// Two PCs save user modes back to back, each save its picture, word 868 and
// its flag (1 from one PC, 2 from the other), over all 16 modes; a third PC
// writes the saturation with its flag among them. The word is in the
// parameter file within a second while the saves go on; no more acts ever
// wait than there are modes; the stop (SIGTERM) ends within its bound (a
// second for a request under way, then the files); every mode's file holds
// the picture of its last save.
TEST(E2eUserModeSaveFlood, TheBlockIsStoredTheActsWaitOneAModeAndTheStopEndsInTime)
{
    constexpr int kStopBoundMs = 5000;
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    ASSERT_TRUE(app.waitFor([&] { return app.control("c331-state").find("state=6") != std::string::npos; }, 30000));
    UdpLink pcs[2], other;
    for (UdpLink& link : pcs)
        ASSERT_TRUE(link.open("127.0.0.1", app.linkPort("udp")));
    ASSERT_TRUE(other.open("127.0.0.1", app.linkPort("udp")));

    std::vector<std::string> want(17, "none");   // the model: each mode's last save
    std::atomic<bool> stop{false};
    std::atomic<int> saves{0}, unanswered{0};
    std::thread flood([&] {
        auto answered = [&](Link& pc, unsigned char command, const Bytes& payload) {
            Reply r;
            if (!pc.request(kProcessor, command, payload, r) || r.status != 0)
                ++unanswered;
        };
        for (int i = 0; !stop; ++i) {
            Link& pc = pcs[i % 2];
            const int mode = 1 + (i * 7) % 16;
            const unsigned char picture = static_cast<unsigned char>(1 + i % 251);
            answered(pc, 0x60, ramWritePayload(2500, Bytes{picture}));
            answered(pc, 0x60, ramWritePayload(868, Bytes{static_cast<unsigned char>(mode), 0}));
            answered(pc, 0xA0, regWritePayload({{11, 0xFF, static_cast<unsigned char>(1 + i % 2)}}));
            want[static_cast<size_t>(mode)] = saved(picture);
            ++saves;
        }
    });
    auto fileWord = [&] {
        QFile f(QString::fromStdString(app.hostPath("/data/ram_device_info")));
        const QByteArray a = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        const int at = 2 + 2182 - 768;
        return a.size() > at + 1 ? static_cast<unsigned char>(a[at]) | static_cast<unsigned char>(a[at + 1]) << 8 : -1;
    };
    EXPECT_TRUE(app.waitFor([&] { return saves >= 1500; }, 30000));
    Reply r;
    EXPECT_TRUE(other.request(kProcessor, 0x60, ramWritePayload(2182, Bytes{77, 0}), r) && r.status == 0);
    EXPECT_TRUE(other.request(kProcessor, 0xA0, regWritePayload({{11, 0xFF, 1}}), r) && r.status == 0);
    const int before = saves;
    EXPECT_TRUE(app.waitFor([&] { return fileWord() == 77; }, 1000)) << "the saturation answered is not stored";
    EXPECT_TRUE(app.waitFor([&] { return saves >= before + 500; }, 30000));
    stop = true;
    flood.join();
    EXPECT_EQ(unanswered, 0);
    std::istringstream acts(app.control("mode-acts-waiting"));
    size_t waitingNow = 100, most = 100;
    acts >> waitingNow >> most;
    EXPECT_LE(most, 16u) << "acts waiting at once";

    ::kill(static_cast<pid_t>(app.pid()), SIGTERM);
    ASSERT_EQ(app.waitForExit(kStopBoundMs), 0) << "the stop took longer than " << kStopBoundMs << " ms";
    EXPECT_EQ(fileWord(), 77);
    for (int mode = 1; mode <= 16; ++mode)
        EXPECT_EQ(modeFile(app, mode), want[static_cast<size_t>(mode)]) << "mode " << mode;
}
