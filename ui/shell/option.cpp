#include "ui/shell/option.h"

#include "core/global.h"
#include "core/gui_post.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "ui/picture/inputcut.h"
#include "ui/screen/linkoption.h"
#include "ui/screen/outputset.h"
#include "ui/screen/smartmapping.h"
#include "ui/screen/test_chart.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/imagequality.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "videochip/c331_manage.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace {

struct MenuEntry {
    const char* object;
    const char* picture;
};

// Two rows of four.
const MenuEntry kMenu[8] = {
    {"input_cut", "option_input_cut.png"},         {"image_layout", "option_image_layout.png"},
    {"output_set", "option_output_set.png"},       {"link_set", "option_link_set.png"},
    {"image_quality", "option_image_quality.png"}, {"test_chart", "option_test_chart.png"},
    {"smart_mapping", "option_smart_mapping.png"}, {"Button_advanced", "option_advanced.png"},
};

// Each language in its own words.
const char* const kLanguageNames[4] = {"中文", "English", "Русский", "Tiếng Việt"};

} // namespace

Option::Option(QWidget* parent)
    : QDialog(parent)
{
    shell_page_frame(this, "Option");
    shell_back_button(this);
    label_title = shell_title(this);
    for (int i = 0; i < 8; ++i) {
        menu_[i] = shell_button(this, kMenu[i].object, 20 + 192 * (i % 4), 75 + 160 * (i / 4), 170, 150, nullptr);
        menu_[i]->setFlat(true);
        menu_[i]->setIconSize(QSize(170, 150));
    }
    for (int l = 0; l < 4; ++l) {
        const QByteArray name = QByteArray::number(l);
        language_[l] = shell_button(this, name.constData(), 20 + 192 * l, 412, 170, 52, kTabPlain);
        language_[l]->setText(QString::fromUtf8(kLanguageNames[l]));
        connect(language_[l], &QPushButton::clicked, this, &Option::zdr_button_language_clicked);
    }
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &Option::confirmString);
    language_changed();
    QMetaObject::connectSlotsByName(this);
}

void Option::language_changed()
{
    label_title->setText(ui_text("设置", "Settings", "Настройки", "Cài đặt"));
    for (int i = 0; i < 8; ++i)
        menu_[i]->setIcon(QIcon(ui_png(kMenu[i].picture)));
    language_buttons_update();
    text_ready = 1;
}

void Option::language_buttons_update()
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    const int chosen = store ? store->block_byte(para::kLanguage) : g_language;
    for (int l = 0; l < 4; ++l)
        language_[l]->setStyleSheet(l == chosen ? kTabSelected : kTabPlain);
}

void Option::syncUpdate()
{
    if (ZdrRamPara::pInstance()->ZdrLanguageChanged())
        language_changed();
    else
        language_buttons_update();
}

void Option::on_Button_back_clicked()
{
    g_option = nullptr;
    if (g_mainwindow)
        g_mainwindow->language_changed();
    shell_close_page(this, kFocusHome);
}

void Option::request_close()
{
    gui_post([] {
        if (g_page_focus.load() == kFocusOption && g_option)
            g_option->on_Button_back_clicked();
    });
}

void Option::zdr_button_language_clicked()
{
    const int language = shell_button_index(sender(), 4);
    if (language < 0)
        return;
    {
        // The chip's pass and the refresh after it switch the pages over.
        ParaWriteLock lock;
        lock.block()[para::kLanguage] = static_cast<unsigned char>(language);
        lock.raise(1);
    }
    language_buttons_update();
}

// --- openers ----------------------------------------------------------------

void Option::on_input_cut_clicked()
{
    shell_open_page(g_inputcut, kFocusInputCut);
}

void Option::on_image_layout_clicked()
{
    // The setting's default "No" (or nothing) asks for no code; any other
    // value is the code.
    const QString code = Utils::settings_copy(g_imagelayoutpassword).trimmed();
    if (code.isEmpty() || code.compare("No", Qt::CaseInsensitive) == 0 || !g_numberkeyboard) {
        open_image_layout();
        return;
    }
    // Ask for the code; the keypad's result comes to confirmString.
    code_prompt_ = true;
    code_ok_ = false;
    g_lineedit = nullptr;
    g_numberkeyboard->label_show(ui_text("密码", "Code", "Код", "Mã"), QString());
    g_numberkeyboard->exec();
    code_prompt_ = false;
    if (code_ok_) {
        code_ok_ = false;
        open_image_layout();
    }
}

void Option::confirmString(QString text)
{
    if (!code_prompt_ || g_lineedit)
        return;
    code_ok_ = code_matches(text, Utils::settings_copy(g_imagelayoutpassword));
}

bool Option::code_matches(const QString& typed, const QString& code)
{
    // The keypad drops a leading 0 ("0123" shows as "123"): a code of
    // digits is the same code with or without its leading zeros. Any other
    // code is compared as it stands.
    auto digits = [](const QString& s) {
        if (s.isEmpty())
            return false;
        for (const QChar c : s)
            if (c < '0' || c > '9')
                return false;
        return true;
    };
    auto without_leading_zeros = [](QString s) {
        while (s.size() > 1 && s.startsWith('0'))
            s.remove(0, 1);
        return s;
    };
    const QString t = typed.trimmed();
    const QString c = code.trimmed();
    if (digits(t) && digits(c))
        return without_leading_zeros(t) == without_leading_zeros(c);
    return t == c;
}

void Option::open_image_layout()
{
    shell_open_page(g_imagelayout, kFocusImageLayout);
}

void Option::on_output_set_clicked()
{
    shell_open_page(g_outputset, kFocusOutputSet);
}

void Option::on_link_set_clicked()
{
    shell_open_page(g_linkoption, kFocusLinkOption);
}

void Option::on_image_quality_clicked()
{
    shell_open_page(g_imagequality, kFocusImageQuality);
}

void Option::on_test_chart_clicked()
{
    shell_open_page(g_test_chart, kFocusTestChart);
}

void Option::on_smart_mapping_clicked()
{
    if (!text_ready)
        return;
    shell_open_page(g_smartmapping, kFocusSmartMapping);
}

void Option::on_Button_advanced_clicked()
{
    shell_open_page(g_advancedoption, kFocusAdvanced);
}
