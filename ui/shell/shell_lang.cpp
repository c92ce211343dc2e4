#include "ui/shell/shell_lang.h"

#include "core/global.h"

// The resource tree lives in the static library: without a reference from
// code the linker would leave it out.
static void init_k47_resource()
{
    Q_INIT_RESOURCE(k47_resource);
}

int ui_language()
{
    switch (g_language) {
    case 0:
    case 2:
    case 3:
        return g_language;
    default:
        return 1;
    }
}

QString ui_text(const char* zh, const char* en, const char* ru, const char* vi)
{
    switch (ui_language()) {
    case 0: return QString::fromUtf8(zh);
    case 2: return QString::fromUtf8(ru);
    case 3: return QString::fromUtf8(vi);
    default: return QString::fromUtf8(en);
    }
}

QString ui_png(const char* name)
{
    static const char* const prefix[] = {"", "en_", "ru_", "vn_"};
    return QString(":/png/") + prefix[ui_language()] + name;
}

const char* const kLanguagePictures[] = {
    "home_input.png",        "home_mode.png",          "home_setting.png",        "home_state.png",
    "option_input_cut.png",  "option_image_layout.png", "option_output_set.png",  "option_link_set.png",
    "option_image_quality.png", "option_test_chart.png", "option_smart_mapping.png", "option_advanced.png",
};
const int kLanguagePictureCount = sizeof(kLanguagePictures) / sizeof(kLanguagePictures[0]);

void shell_resources_init()
{
    static bool done = false;
    if (!done) {
        init_k47_resource();
        done = true;
    }
}
