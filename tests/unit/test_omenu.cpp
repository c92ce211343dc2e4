// The OSD menu file: reading entries by type, the first three entries, the
// error rule (the current menu deleted, nothing shown), and the settings
// that the first entry makes on the chip's OSD.
#include "support/store_fixture.h"

#include "core/le_bytes.h"
#include "core/omenu.h"
#include "core/para_layout.h"
#include "sim/board.h"
#include "sim/shell_model.h"

#include <algorithm>
#include <map>
#include <memory>

namespace {

std::string textEntry(const std::string& extra = "", const std::string& texts = R"(["Hello\nWorld"])")
{
    return R"({"type": "0", "status": "on",
               "pos": {"x": "10", "y": 20, "w": "300", "h": "64", "layer": "buttom"},
               "act": {"effect": "2", "speed": "5", "staytime": "30"},
               "backpara": {"enable": "on", "color": "102030"},
               "fontpara": {"startx": 1, "starty": 2, "fontw": 64, "fonth": 64, "wordspace": 3,
                            "verticalspace": 4, "color": "00FF00"},
               "texts": )" + texts + extra + "}";
}

const char kBitmapEntry[] = R"({"type": 1, "status": "off", "pos": {"x": 1, "y": 2, "w": 3, "h": 4},
    "act": {"effect": 0, "speed": 1, "staytime": 2}, "bmppara": {"file": "a.bmp"}, "start": 7, "end": 9})";

std::string menu(const std::vector<std::string>& entries, int count = -1)
{
    std::string list;
    for (const auto& e : entries)
        list += (list.empty() ? "" : ",") + e;
    return R"({"name": "menu A", "osdcount": ")" + std::to_string(count < 0 ? static_cast<int>(entries.size()) : count) +
           R"(", "oactcount": 2, "menu": [)" + list + "]}";
}

class OsdMenuFile : public SimBoardTest {
protected:
    std::string current() const { return hostPath("/data/configs/omenu.json"); }
    void read(const std::string& systemPath, OSD_LIST& list)
    {
        std::string p = systemPath;
        get_json_omenu_para(&p[0], &list);
    }
    int removals() const
    {
        const auto cmds = sim::Board::instance().shell().commands();
        return static_cast<int>(std::count(cmds.begin(), cmds.end(), "rm -rf /data/configs/omenu.json"));
    }
};

TEST_F(OsdMenuFile, TextAndBitmapEntries)
{
    writeFile(current(), menu({textEntry(), kBitmapEntry, textEntry(), kBitmapEntry, kBitmapEntry}, 5));
    OSD_LIST list;
    list.menu[1].backpara_color = "kept";
    read("/data/configs/omenu.json", list);
    const OMENU_PARA& a = list.menu[0];
    EXPECT_EQ(a.osdcount, 5);
    EXPECT_EQ(a.oactcount, 2);
    EXPECT_EQ(a.type, 0);
    EXPECT_EQ(a.status, "on");
    EXPECT_EQ(std::vector<int>({a.pos_x, a.pos_y, a.pos_w, a.pos_h}), std::vector<int>({10, 20, 300, 64}));
    EXPECT_EQ(std::vector<int>({a.effect, a.speed, a.staytime}), std::vector<int>({2, 5, 30}));
    EXPECT_EQ(a.backpara_enable, "on");
    EXPECT_EQ(a.backpara_color, "102030");
    EXPECT_EQ(a.backpara_layer, "buttom");
    EXPECT_EQ(std::vector<int>({a.startx, a.starty, a.fontw, a.fonth, a.wordspace, a.verticalspace}),
              std::vector<int>({1, 2, 64, 64, 3, 4}));
    EXPECT_EQ(a.font_color, "00FF00");
    EXPECT_EQ(a.texts, "Hello\nWorld");
    // A bitmap entry reads its own members and leaves the text ones.
    const OMENU_PARA& b = list.menu[1];
    EXPECT_EQ(b.type, 1);
    EXPECT_EQ(b.status, "off");
    EXPECT_EQ(std::vector<int>({b.pos_x, b.pos_h, b.start, b.end}), std::vector<int>({1, 4, 7, 9}));
    EXPECT_EQ(b.backpara_color, "kept");
    // Five entries fill three records.
    EXPECT_EQ(list.menu[2].type, 0);
    EXPECT_EQ(list.menu[2].texts, "Hello\nWorld");
    EXPECT_TRUE(exists(current()));
}

TEST_F(OsdMenuFile, OptionalLayerOtherTypesAndTextForms)
{
    OSD_LIST list;
    std::string noLayer = textEntry("", R"([])");
    noLayer.replace(noLayer.find(R"(, "layer": "buttom")"), 19, "");
    writeFile(current(), menu({noLayer, R"({"type": 7, "status": "on"})", textEntry("", R"("plain")")}));
    list.menu[1].pos_x = 99;
    read("/data/configs/omenu.json", list);
    EXPECT_EQ(list.menu[0].osdcount, 3);
    EXPECT_EQ(list.menu[0].backpara_layer, "");
    EXPECT_EQ(list.menu[0].texts, "");
    EXPECT_EQ(list.menu[1].type, 7);
    EXPECT_EQ(list.menu[1].pos_x, 99);
    EXPECT_EQ(list.menu[2].texts, "plain");
    EXPECT_EQ(removals(), 0);
}

TEST_F(OsdMenuFile, NoMenuOrNoFile)
{
    OSD_LIST list;
    list.menu[0].osdcount = 4;
    list.menu[0].pos_x = 5;
    read("/data/configs/omenu.json", list);
    EXPECT_EQ(list.menu[0].osdcount, 0);
    EXPECT_EQ(list.menu[0].pos_x, 5);
    writeFile(current(), R"({"name": "none", "osdcount": 0, "oactcount": 0})");
    list.menu[0].osdcount = 4;
    read("/data/configs/omenu.json", list);
    EXPECT_EQ(list.menu[0].osdcount, 0);
    EXPECT_EQ(list.menu[0].pos_x, 5);
    EXPECT_TRUE(exists(current()));
    EXPECT_EQ(removals(), 0);
}

TEST_F(OsdMenuFile, UnreadableMenusShowNothingAndOnlyABadCurrentMenuIsDeleted)
{
    std::string bitmapInside = kBitmapEntry;
    bitmapInside.replace(bitmapInside.find(R"("file": "a.bmp")"), 15, R"("start": 7, "end": 9)");
    bitmapInside.replace(bitmapInside.find(R"(, "start": 7, "end": 9})"), 23, "}");
    const std::string bad[] = {
        "{ \"osdcount\": ",
        R"({"name": "a", "osdcount": 1, "oactcount": 0, "menu": )" + std::string(200000, '['),
        R"({"osdcount": 1, "oactcount": 0, "menu": []})",                      // no name
        R"({"name": "m", "osdcount": "one", "oactcount": 0})",
        R"({"name": "m", "osdcount": 1, "oactcount": 0})",                     // no menu
        menu({textEntry(R"(, "x": 1)").replace(textEntry().find(R"("x": "10", )"), 11, "")}),
        menu({textEntry("", R"([{"line": "A"}])")}),
        menu({textEntry().replace(textEntry().find(R"("00FF00")"), 8, R"({"r": 0})")}),
        menu({R"({"type": 0})"}),
        menu({bitmapInside}),
        menu({textEntry(), R"({"status": "on"})"}),
    };
    int n = 0;
    for (const std::string& text : bad) {
        SCOPED_TRACE(text.substr(0, 80));
        writeFile(current(), text);
        OSD_LIST list;
        read("/data/configs/omenu.json", list);
        EXPECT_EQ(list.menu[0].osdcount, 0);
        EXPECT_FALSE(exists(current()));
        EXPECT_EQ(removals(), ++n);
    }
    // A user mode's copy that cannot be read shows nothing and deletes no
    // file: neither the current menu nor the copy.
    writeFile(current(), menu({textEntry()}));
    writeFile(hostPath("/data/modes/MO0a.json"), "[");
    OSD_LIST list;
    read("/data/modes/MO0a.json", list);
    EXPECT_EQ(list.menu[0].osdcount, 0);
    EXPECT_EQ(readFile(current()), menu({textEntry()}));
    EXPECT_EQ(readFile(hostPath("/data/modes/MO0a.json")), "[");
    EXPECT_EQ(removals(), n);
}

// ---- applying the first entry ---------------------------------------------

std::map<int, int> lastValues(const std::vector<OsdStep>& steps)
{
    std::map<int, int> m;
    for (const OsdStep& s : steps)
        m[s.item] = s.value;
    return m;
}

OMENU_PARA sample()
{
    OMENU_PARA r;
    r.osdcount = 1;
    r.type = 0;
    r.status = "on";
    r.pos_x = 10;
    r.pos_y = 20;
    r.pos_w = 300;
    r.pos_h = 64;
    r.effect = 1;
    r.speed = 5;
    r.backpara_enable = "on";
    r.backpara_color = "102030";
    r.backpara_layer = "top";
    r.startx = 1;
    r.starty = 2;
    r.fontw = 32;
    r.fonth = 32;
    r.wordspace = 3;
    r.verticalspace = 4;
    r.font_color = "00FF00";
    return r;
}

TEST(OsdMenuSteps, OrderAndValues)
{
    const std::vector<OsdStep> steps = osd_menu_steps(sample());
    std::vector<int> items;
    for (const OsdStep& s : steps)
        items.push_back(s.item);
    EXPECT_EQ(items, std::vector<int>({5, 6, 7, 8, 3, 1, 2, 14, 21, 22, kOsdTextStep, 17, 13, 16, 18, 4, 0, 33, 34, 35}));
    const auto v = lastValues(steps);
    EXPECT_EQ(v.at(5), 10);
    EXPECT_EQ(v.at(6), 300);
    EXPECT_EQ(v.at(7), 20);
    EXPECT_EQ(v.at(8), 64);
    EXPECT_EQ(v.at(3), 1);
    EXPECT_EQ(v.at(14), 0);
    EXPECT_EQ(v.at(17), 0x00FF00);
    EXPECT_EQ(v.at(13), 50);
    EXPECT_EQ(v.at(16), 0x302010);
    EXPECT_EQ(v.at(18), 0);
    EXPECT_EQ(v.at(4), 3);
    EXPECT_EQ(v.at(0), 1);
    EXPECT_EQ(v.at(33), 0);
    EXPECT_EQ(v.at(34), 3);
    EXPECT_EQ(v.at(35), 4);
}

TEST(OsdMenuSteps, GlyphSizesScrollBackgroundAndLayer)
{
    OMENU_PARA r = sample();
    auto values = [&] { return lastValues(osd_menu_steps(r)); };
    r.fontw = r.fonth = 64;
    EXPECT_EQ(values().at(14), 1);
    EXPECT_EQ(values().at(1), 0);
    r.fontw = r.fonth = 128;
    EXPECT_EQ(values().at(1), 1);
    EXPECT_EQ(values().at(2), 1);
    EXPECT_EQ(values().at(14), 1);
    // Another pair selects 32-pixel glyphs and keeps the zoom.
    r.fontw = 64;
    r.fonth = 32;
    EXPECT_EQ(values().count(1), 0u);
    EXPECT_EQ(values().count(2), 0u);
    EXPECT_EQ(values().at(14), 0);
    const int scroll[] = {0, 3, 4, 1, 2};
    for (int e = 0; e < 5; ++e) {
        r.effect = e;
        EXPECT_EQ(values().at(4), scroll[e]);
    }
    r.effect = 7;
    EXPECT_EQ(values().count(4), 0u);
    r.effect = -1;
    EXPECT_EQ(values().count(4), 0u);
    r.backpara_enable = "off";
    EXPECT_EQ(values().count(16), 0u);
    EXPECT_EQ(values().at(18), 1);
    r.backpara_layer = "buttom";
    r.status = "On";
    r.type = 1;
    EXPECT_EQ(values().at(33), 1);
    EXPECT_EQ(values().at(0), 0);
    EXPECT_EQ(values().at(3), 0);
}

TEST(OsdMenuSteps, Colours)
{
    EXPECT_EQ(osd_color("00FF00"), 0x00FF00);
    EXPECT_EQ(osd_color("FF0000"), 0x0000FF);
    EXPECT_EQ(osd_color("0000ff"), 0xFF0000);
    EXPECT_EQ(osd_color("#FF0000"), 0);
    EXPECT_EQ(osd_color(""), 0);
    EXPECT_EQ(osd_color("12zz"), 0x120000);
    EXPECT_EQ(osd_color("FFFFFFFFFFFFFFFFFFFF"), 0xFFFFFF);
}

class OsdText : public ::testing::Test {
protected:
    int split(const std::string& text) { return osd_text_lines(text, lengths, lines.get()); }
    std::wstring line(int k) { return std::wstring(lines[k], lines[k] + lengths[k]); }
    int lengths[kOsdTextLines] = {};
    std::unique_ptr<wchar_t[][kOsdLineChars]> lines{new wchar_t[kOsdTextLines][kOsdLineChars]()};
};

TEST_F(OsdText, LinesAndBounds)
{
    EXPECT_EQ(split("A\n\nB"), 3);
    EXPECT_EQ(line(0), L"A");
    EXPECT_EQ(lengths[1], 0);
    EXPECT_EQ(line(2), L"B");
    EXPECT_EQ(split(""), 1);
    EXPECT_EQ(lengths[0], 0);
    // UTF-8 text becomes characters: two CJK characters are two.
    EXPECT_EQ(split("\xe4\xbd\xa0\xe5\xa5\xbd"), 1);
    EXPECT_EQ(line(0), L"\u4f60\u597d");
    // 70 lines hand over 64; a long line is cut at 128 characters.
    std::string many;
    for (int i = 0; i < 70; ++i)
        many += std::to_string(i) + "\n";
    EXPECT_EQ(split(many), 64);
    EXPECT_EQ(line(63), L"63");
    EXPECT_EQ(split(std::string(300, 'x')), 1);
    EXPECT_EQ(lengths[0], 128);
    // A character beyond the basic plane is one stored character.
    EXPECT_EQ(split("a\xf0\x9f\x98\x80"), 1);
    EXPECT_EQ(lengths[0], 2);
    EXPECT_EQ(lines[0][1], static_cast<wchar_t>(0x1F600));
    // Bytes that are not UTF-8 do not end the text.
    EXPECT_EQ(split("\xff\xfe" "A"), 1);
    EXPECT_GE(lengths[0], 1);
}

class OsdApply : public StoreTest {};

TEST_F(OsdApply, RectangleBoundToTheScreenAndEmptyMenuIgnored)
{
    load();
    setLe16(ParaWriteLock().block(), para::kLedWidth, 3840);
    setLe16(ParaWriteLock().block(), para::kLedHeight, 1080);
    OMENU_PARA r = sample();
    r.pos_w = 5000;
    r.pos_y = 2000;
    set_OSD_para(&r);
    EXPECT_EQ(r.pos_w, 3840);
    EXPECT_EQ(r.pos_y, 1080);
    r.pos_w = -1;   // compared unsigned: far beyond the screen
    set_OSD_para(&r);
    EXPECT_EQ(r.pos_w, 3840);
    r.pos_w = 3840;
    r.pos_y = 1080;
    set_OSD_para(&r);
    EXPECT_EQ(r.pos_w, 3840);
    EXPECT_EQ(r.pos_y, 1080);
    r.osdcount = 0;
    r.pos_w = 5000;
    set_OSD_para(&r);
    EXPECT_EQ(r.pos_w, 5000);
    set_OSD_para(nullptr);
}

} // namespace
