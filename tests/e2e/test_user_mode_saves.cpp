// User-mode saves and deletes on the running program: every ordered pair of
// two acts among a save of mode 3, a save of mode 7, a delete of mode 3, a
// load of mode 10 and another PC writing back a range over word 868, from
// the PC and from the pages (taps), 0, 20 ms and 0.5 s apart, each pair
// followed by a clean stop (SIGTERM), with a chip pass held at the stop or
// not. The picture (block byte 2500) changes right after every act that is
// not a load. After the stop every mode file holds the picture of its own
// save's moment, and a deleted mode stays deleted.
#include "support/app_runner.h"

#include "core/default_para.h"
#include "pcclient/pc_client.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace pcclient;

namespace {

enum Kind { kSave3, kSave7, kDelete3, kLoad10, kRange868 };
const char* const kKindNames[] = {"Save3", "Save7", "Delete3", "Load10", "OtherPcsRange"};
enum Source { kPc, kPage };

struct Row {
    Kind first, second;
    Source firstBy, secondBy;
    int gapMs;
    bool held;   // a chip pass held when the stop comes
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
    return all;
}

std::string rowName(const ::testing::TestParamInfo<Row>& info)
{
    const Row& r = info.param;
    auto by = [](Source s) { return s == kPc ? "Pc" : "Page"; };
    return std::string(kKindNames[r.first]) + by(r.firstBy) + "Then" + kKindNames[r.second] + by(r.secondBy) + "_" +
           std::to_string(r.gapMs) + "ms" + (r.held ? "_PassHeld" : "");
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
            case kRange868: FAIL() << "the range is the other PC's";
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
        }
    }
};

} // namespace

TEST_P(E2eUserModeSaves, EachModeFileHoldsThePictureOfItsOwnSaveAndADeletedModeStaysDeleted)
{
    const Row& row = GetParam();
    writeMode(app, 3, 0xA0);
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

    ::kill(static_cast<pid_t>(app.pid()), SIGTERM);
    ASSERT_EQ(app.waitForExit(60000), 0);
    EXPECT_EQ(modeFile(app, 3), want3);
    EXPECT_EQ(modeFile(app, 7), want7);
    EXPECT_EQ(modeFile(app, 10), saved(0xC0));
}

INSTANTIATE_TEST_SUITE_P(EveryPair, E2eUserModeSaves, ::testing::ValuesIn(rows()), rowName);
