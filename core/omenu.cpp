#include "core/omenu.h"

#include "core/global.h"
#include "core/json_file.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "videochip/c331_manage.h"

#include <QString>
#include <QVector>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace pt = boost::property_tree;

OSD_LIST g_osd_list;

namespace {

// The live menu that cannot be read is deleted: the PC uploads it again.
const char kMenuFile[] = "/data/configs/omenu.json";
const char kMenuRemove[] = "rm -rf /data/configs/omenu.json";

// The first element of "texts" (a plain text is taken as it is; an empty
// list gives an empty text).
std::string first_text(const pt::ptree& entry)
{
    const pt::ptree& texts = entry.get_child("texts");
    if (texts.empty())
        return texts.data();
    const pt::ptree& first = texts.begin()->second;
    if (!first.empty())
        throw pt::ptree_bad_data("member \"texts\" holds no text", first.data());
    return first.data();
}

void read_rectangle(const pt::ptree& entry, OMENU_PARA& r)
{
    const pt::ptree& pos = entry.get_child("pos");
    r.pos_x = json_int(pos, "x");
    r.pos_y = json_int(pos, "y");
    r.pos_w = json_int(pos, "w");
    r.pos_h = json_int(pos, "h");
    const pt::ptree& act = entry.get_child("act");
    r.effect = json_int(act, "effect");
    r.speed = json_int(act, "speed");
    r.staytime = json_int(act, "staytime");
}

void read_entry(const pt::ptree& entry, OMENU_PARA& r)
{
    r.type = json_int(entry, "type");
    r.status = json_text(entry, "status");
    if (r.type == 0) {
        read_rectangle(entry, r);
        const pt::ptree& pos = entry.get_child("pos");
        r.backpara_layer = pos.get_child_optional("layer") ? json_text(pos, "layer") : std::string();
        const pt::ptree& back = entry.get_child("backpara");
        r.backpara_enable = json_text(back, "enable");
        r.backpara_color = json_text(back, "color");
        const pt::ptree& font = entry.get_child("fontpara");
        r.startx = json_int(font, "startx");
        r.starty = json_int(font, "starty");
        r.fontw = json_int(font, "fontw");
        r.fonth = json_int(font, "fonth");
        r.wordspace = json_int(font, "wordspace");
        r.verticalspace = json_int(font, "verticalspace");
        r.font_color = json_text(font, "color");
        r.texts = first_text(entry);
    } else if (r.type == 1) {
        read_rectangle(entry, r);
        entry.get_child("bmppara");
        r.start = json_int(entry, "start");
        r.end = json_int(entry, "end");
    }
}

void trace_entry(const OMENU_PARA& r, int n)
{
    std::printf("\n *************************osd%d start******************************** ", n);
    std::printf("  type: %d , status: %s \n", r.type, r.status.c_str());
    std::printf("  pos_x: %d , pos_y: %d , pos_w: %d , pos_h: %d \n", r.pos_x, r.pos_y, r.pos_w, r.pos_h);
    std::printf("  effect: %d , speed: %d , staytime: %d \n", r.effect, r.speed, r.staytime);
    std::printf("  backpara_enable: %s , backpara_color: %s ,backpara_layer:%s\n", r.backpara_enable.c_str(),
                r.backpara_color.c_str(), r.backpara_layer.c_str());
    std::printf("  startx: %d , starty: %d , fontw: %d , fonth: %d \n", r.startx, r.starty, r.fontw, r.fonth);
    std::printf("  wordspace: %d , verticalspace: %d , font_color: %s \n", r.wordspace, r.verticalspace,
                r.font_color.c_str());
    std::printf("  texts: %s \n", r.texts.c_str());
    std::printf("\n *************************osd%d over******************************** ", n);
}

} // namespace

void get_json_omenu_para(char* path, OSD_LIST* list)
{
    if (!list)
        return;
    OMENU_PARA& head = list->menu[0];
    head.osdcount = 0;
    if (!path)
        return;
    // A bad live menu is deleted; a user mode's menu is only read (the
    // user-mode page previews it): a bad one shows no OSD text.
    const bool live = std::strcmp(path, kMenuFile) == 0;
    const JsonRead read = read_json_file(path, live ? kMenuRemove : "", [&](const pt::ptree& root) {
        if (traceOn())
            std::printf("\n *************************START OSDS******************************** ");
        const std::string name = json_text(root, "name");
        const int osdcount = json_int(root, "osdcount");
        const int oactcount = json_int(root, "oactcount");
        head.osdcount = osdcount;
        head.oactcount = oactcount;
        if (traceOn())
            std::printf(" \n file_name: %s , osdcount: %d , oactcount: %d\n", name.c_str(), osdcount, oactcount);
        if (osdcount == 0)
            return;
        int n = 0;
        for (const auto& element : root.get_child("menu")) {
            if (n == 3)
                break;
            read_entry(element.second, list->menu[n]);
            if (traceOn())
                trace_entry(list->menu[n], n + 1);
            ++n;
        }
        if (traceOn())
            std::printf("\n *************************OSDS OVER******************************** ");
    });
    // Nothing of a menu that could not be read is shown.
    if (read == JsonRead::Failed)
        head.osdcount = 0;
}

int osd_color(const std::string& rrggbb)
{
    if (rrggbb.empty() || !std::isxdigit(static_cast<unsigned char>(rrggbb[0])))
        return 0;
    const unsigned int v = static_cast<unsigned int>(std::strtoul(rrggbb.c_str(), nullptr, 16));
    return static_cast<int>(((v >> 16) & 0xFF) + (v & 0xFF) * 0x10000 + (v & 0xFF00));
}

int osd_text_lines(const std::string& texts, int* lengths, wchar_t (*lines)[kOsdLineChars])
{
    int count = 0;
    size_t start = 0;
    while (count < kOsdTextLines) {
        const size_t feed = texts.find('\n', start);
        const std::string line = texts.substr(start, feed == std::string::npos ? std::string::npos : feed - start);
        const QVector<uint> chars = QString::fromUtf8(line.data(), static_cast<int>(line.size())).toUcs4();
        // The length handed over is that of what is stored: the UTF-16
        // length of the line for every character of the basic plane, never
        // more than the line holds.
        const int n = std::min(chars.size(), kOsdLineChars);
        for (int i = 0; i < kOsdLineChars; ++i)
            lines[count][i] = i < n ? static_cast<wchar_t>(chars[i]) : 0;
        lengths[count] = n;
        ++count;
        if (feed == std::string::npos)
            break;
        start = feed + 1;
    }
    return count;
}

std::vector<OsdStep> osd_menu_steps(const OMENU_PARA& r)
{
    std::vector<OsdStep> s = {
        {5, r.pos_x}, {6, r.pos_w}, {7, r.pos_y}, {8, r.pos_h}, {3, r.type == 0 ? 1 : 0},
    };
    if (r.fontw == 32 && r.fonth == 32)
        s.insert(s.end(), {{1, 0}, {2, 0}, {14, 0}});
    else if (r.fontw == 64 && r.fonth == 64)
        s.insert(s.end(), {{1, 0}, {2, 0}, {14, 1}});
    else if (r.fontw == 128 && r.fonth == 128)
        s.insert(s.end(), {{1, 1}, {2, 1}, {14, 1}});   // 64-pixel glyphs zoomed two times
    else
        s.push_back({14, 0});
    s.insert(s.end(), {{21, r.startx}, {22, r.starty}, {kOsdTextStep, 0}, {17, osd_color(r.font_color)}});
    s.push_back({13, static_cast<int>(static_cast<unsigned int>(r.speed) * 10u)});
    if (r.backpara_enable != "off")
        s.insert(s.end(), {{16, osd_color(r.backpara_color)}, {18, 0}});
    else
        s.push_back({18, 1});   // transparent background
    static const int scroll[] = {0, 3, 4, 1, 2};
    if (r.effect >= 0 && r.effect < 5)
        s.push_back({4, scroll[r.effect]});
    s.insert(s.end(), {{0, r.status == "on" ? 1 : 0},
                       {33, r.backpara_layer == "buttom" ? 1 : 0},
                       {34, r.wordspace},
                       {35, r.verticalspace}});
    return s;
}

void set_OSD_para(OMENU_PARA* para)
{
    if (!para || para->osdcount == 0)
        return;
    ZdrRamPara* store = ZdrRamPara::pInstance();
    const unsigned int width = store->block_word(para::kLedWidth);
    const unsigned int height = store->block_word(para::kLedHeight);
    if (static_cast<unsigned int>(para->pos_w) > width)
        para->pos_w = static_cast<int>(width);
    if (static_cast<unsigned int>(para->pos_y) > height)
        para->pos_y = static_cast<int>(height);

    c331_manage* chip = c331_manage::p_c331_manage;
    if (!chip)
        return;
    chip->load_char();
    for (const OsdStep& step : osd_menu_steps(*para)) {
        if (step.item != kOsdTextStep) {
            chip->zdrApi_OsdSet(step.item, step.value);
            continue;
        }
        int lengths[kOsdTextLines] = {};
        std::unique_ptr<wchar_t[][kOsdLineChars]> lines(new wchar_t[kOsdTextLines][kOsdLineChars]());
        const int count = osd_text_lines(para->texts, lengths, lines.get());
        chip->zdrApi_OsdSetUnicode(count, lengths, lines.get());
    }
}
