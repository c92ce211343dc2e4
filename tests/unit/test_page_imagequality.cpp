// The picture quality page: what each control stores into the picture
// controls of the parameter block, what the refresh redraws, the opener,
// Back and the idle time-out, and a screenshot of both tabs per language.
#include "support/page_fixture.h"

#include "core/brightness_acts.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/syncupdate.h"
#include "ui/picture/imagequality.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <cstring>
#include <functional>
#include <vector>

namespace {

const unsigned short kDefaults[8] = {100, 50, 10, 50, 2, 64, 64, 64};

class ImageQualityTest : public PageTest<ImageQuality> {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        // A picture that differs from the defaults everywhere.
        const unsigned short values[8] = {80, 40, 7, 30, 0, 100, 20, 5};
        for (int i = 0; i < 8; ++i)
            setLe16(ParaWriteLock().block(), para::kBrightness + 2 * i, values[i]);
        test_store::persisted();
        c331_manage::para_change_flag = 0;
    }
    ImageQuality* open() { return PageTest::open(g_imagequality, kFocusImageQuality); }
    void press(const char* name) { w<QPushButton>(name)->click(); }
    int field(int offset) const { return static_cast<short>(le16(store->ram_para, offset)); }
    std::vector<unsigned char> picture() const
    {
        return std::vector<unsigned char>(store->ram_para + para::kBrightness, store->ram_para + para::kPictureEnd);
    }
    int flag() const { return c331_manage::para_change_flag.load(); }
};

} // namespace

TEST_F(ImageQualityTest, OpeningShowsTheBlockAndStoresNothing)
{
    const auto before = picture();
    open();
    EXPECT_EQ(picture(), before);
    EXPECT_EQ(flag(), 0);
    EXPECT_EQ(text("label_bright"), "80");
    EXPECT_EQ(text("label_contrast"), "40");
    EXPECT_EQ(text("label_sharpness"), "7");
    EXPECT_EQ(text("label_saturation"), "30");
    EXPECT_EQ(text("label_red"), "100");
    EXPECT_EQ(text("label_green"), "20");
    EXPECT_EQ(text("label_blue"), "5");
    EXPECT_EQ(w<QSlider>("horizontalSlider_sharpness")->value(), 7);
    EXPECT_EQ(w<QComboBox>("comboBox")->currentIndex(), 0);
    EXPECT_EQ(w<QStackedWidget>("stackedWidget")->currentIndex(), 0);
    EXPECT_EQ(w<QPushButton>("Button_quality")->styleSheet(), "background-color:#4777FF;color:#FFFFFF;border:none");
    EXPECT_EQ(w<QComboBox>("comboBox")->count(), 4);
}

TEST_F(ImageQualityTest, DraggingShowsTheValueAndOnlyTheReleaseStoresIt)
{
    open();
    QSlider* slider = w<QSlider>("horizontalSlider_contrast");
    slider->setValue(55);
    slider->setValue(61);
    EXPECT_EQ(text("label_contrast"), "61");
    EXPECT_EQ(field(para::kContrast), 40);
    EXPECT_EQ(flag(), 0);
    emit slider->sliderReleased();
    EXPECT_EQ(field(para::kContrast), 61);
    EXPECT_EQ(flag(), 1);

    QSlider* blue = w<QSlider>("horizontalSlider_blue");
    blue->setValue(128);
    emit blue->sliderReleased();
    EXPECT_EQ(field(para::kBlueGain), 128);
    EXPECT_EQ(field(para::kGreenGain), 20) << "only the released slider's field";
}

// The operator's percent is an act whatever the word held: a level only
// shown wrote 39 back (the system's write), and the slider released at 39
// is still the user's act, the one the sending card stores; so is a reset
// to the 100 the word already holds.
TEST_F(ImageQualityTest, TheBrightnessSetIsAnActEvenAtThePercentTheSystemWroteBack)
{
    const struct {
        const char* name;
        unsigned short shown;
        std::function<void()> act;
        unsigned short percent;
    } rows[] = {
        {"the slider released at 39", 39,
         [this] {
             QSlider* slider = w<QSlider>("horizontalSlider_bright");
             slider->setValue(45);
             slider->setValue(39);
             emit slider->sliderReleased();
         },
         39},
        {"the reset at 100", 100, [this] { press("Button_reset"); }, 100},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SystemWriteLock().write_word(SystemWord::kBrightness, row.shown);
        open();
        const uint64_t before = BrightnessActs::pInstance()->last_percent_act().seq;
        row.act();
        const BrightnessActs::Act act = BrightnessActs::pInstance()->last_percent_act();
        EXPECT_GT(act.seq, before) << "no act";
        EXPECT_EQ(act.percent, row.percent);
    }
}

TEST_F(ImageQualityTest, StepButtonsWalkWithinTheRangeAndStoreEveryPress)
{
    open();
    press("Button_sharpness_add");
    EXPECT_EQ(field(para::kSharpness), 8);
    EXPECT_EQ(flag(), 1);
    press("Button_sharpness_add");
    press("Button_sharpness_add");
    press("Button_sharpness_add");
    EXPECT_EQ(field(para::kSharpness), 10);
    EXPECT_EQ(text("label_sharpness"), "10");

    // At the maximum the press still stores and raises the flag.
    c331_manage::para_change_flag = 0;
    setLe16(ParaWriteLock().block(), para::kSharpness, 3); // proves it is written again
    press("Button_sharpness_add");
    EXPECT_EQ(field(para::kSharpness), 10);
    EXPECT_EQ(flag(), 1);

    for (int i = 0; i < 40; ++i)
        press("Button_red_add");
    EXPECT_EQ(field(para::kRedGain), 128);
    for (int i = 0; i < 10; ++i)
        press("Button_blue_reduce");
    EXPECT_EQ(field(para::kBlueGain), 0);
    EXPECT_EQ(text("label_blue"), "0");
    for (int i = 0; i < 30; ++i)
        press("Button_bright_add");
    EXPECT_EQ(field(para::kBrightness), 100);
    press("Button_saturation_reduce");
    EXPECT_EQ(field(para::kSaturation), 29);
    press("Button_contrast_add");
    EXPECT_EQ(field(para::kContrast), 41);
    press("Button_green_reduce");
    EXPECT_EQ(field(para::kGreenGain), 19);
    EXPECT_EQ(w<QSlider>("horizontalSlider_green")->value(), 19);

    // Held buttons repeat.
    EXPECT_TRUE(w<QPushButton>("Button_bright_add")->autoRepeat());
    EXPECT_TRUE(w<QPushButton>("Button_blue_reduce")->autoRepeat());
}

TEST_F(ImageQualityTest, AStepFromABoxThatIsNotANumberStartsAtZero)
{
    open();
    w<QLabel>("label_contrast")->setText("XXX");
    press("Button_contrast_add");
    EXPECT_EQ(field(para::kContrast), 1);
    w<QLabel>("label_red")->setText("-7");
    press("Button_red_add");
    EXPECT_EQ(field(para::kRedGain), 0) << "the slider keeps the value within its range";
    EXPECT_EQ(text("label_red"), "0");
}

// A pick is an act whatever the block holds: the type already stored is
// stored again and asks for a pass (the pass applies what differs from what
// the chip shows).
TEST_F(ImageQualityTest, TheTypeIsAnActWhateverTheBlockHoldsAndTheGainsStay)
{
    open();
    QComboBox* combo = w<QComboBox>("comboBox");
    const auto before = picture();
    page->on_comboBox_activated(0);
    EXPECT_EQ(flag(), 1) << "the type already stored";
    EXPECT_EQ(picture(), before);
    c331_manage::para_change_flag = 0;
    // Moved as a refresh moves it: no choice, nothing stored.
    combo->setCurrentIndex(1);
    EXPECT_EQ(flag(), 0);
    EXPECT_EQ(picture(), before);

    pick(combo, 3);
    EXPECT_EQ(field(para::kColorTempType), 3);
    EXPECT_EQ(flag(), 1);
    auto expected = before;
    expected[para::kColorTempType - para::kBrightness] = 3;
    EXPECT_EQ(picture(), expected) << "only the type";
    EXPECT_TRUE(w<QSlider>("horizontalSlider_red")->isEnabled());
    EXPECT_EQ(w<QSlider>("horizontalSlider_red")->value(), 100);

    c331_manage::para_change_flag = 0;
    page->on_comboBox_activated(-1);
    page->on_comboBox_activated(4);
    EXPECT_EQ(flag(), 0);
    EXPECT_EQ(field(para::kColorTempType), 3);
}

// A PC writes the colour-temperature type (2184) and a refresh takes its
// copy of the block; the PC writes the type again, answered, before the
// refresh has set the list from its copy. The refresh shows what it copied
// and stores nothing: the block, the shadow and the parameter file end with
// the PC's second type, and the next refresh shows it.
TEST_F(ImageQualityTest, APcWriteBetweenTheRefreshsCopyAndItsListIsKept)
{
    auto pcWrites = [this](unsigned char type) {
        unsigned char word[2] = {type, 0x00};
        ASSERT_EQ(store->ZdrRamParaDeal(word, 2, 2184), 0);
        c331_manage::para_change_flag = 1;
    };
    auto fileWord = [this](int offset) {
        const auto file = fileBytes("/data/ram_device_info");
        return file.size() == 4096u ? le16(file.data(), 2 + offset - 768) : -1;
    };
    const struct {
        unsigned char first, second;
    } rounds[] = {{1, 3}, {3, 0}, {2, 1}};
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.second);
        delete page;
        pcWrites(0);
        SyncUpdate::pInstance()->para_sync(1);
        open();
        QComboBox* type = w<QComboBox>("comboBox");
        ASSERT_EQ(type->currentIndex(), 0);

        pcWrites(round.first);
        bool landed = false;
        const QMetaObject::Connection c =
            beforeThePage(type, QOverload<int>::of(&QComboBox::currentIndexChanged), [&] {
                pcWrites(round.second);
                landed = true;
            });
        SyncUpdate::pInstance()->para_sync(1);
        QObject::disconnect(c);
        ASSERT_TRUE(landed);
        EXPECT_EQ(type->currentIndex(), round.first) << "the refresh shows its copy";

        SyncUpdate::pInstance()->para_sync(1);   // the PC's second flag
        EXPECT_EQ(le16(store->ram_para, 2184), round.second);
        EXPECT_EQ(le16(store->ram_para_shadow, 2184), round.second);
        EXPECT_EQ(fileWord(2184), round.second);
        EXPECT_EQ(type->currentIndex(), round.second);
    }
}

TEST_F(ImageQualityTest, ALanguageChangeRenamesTheTypesWithoutStoringAType)
{
    setLe16(ParaWriteLock().block(), para::kColorTempType, 2);
    test_store::persisted();
    open();
    QComboBox* combo = w<QComboBox>("comboBox");
    EXPECT_EQ(combo->currentIndex(), 2);
    // Refilling passes through the indexes -1 and 0; neither is a choice.
    g_language = 2;
    page->language_changed();
    EXPECT_EQ(combo->currentIndex(), 2);
    EXPECT_EQ(combo->itemText(2), QString::fromUtf8("Природный"));
    EXPECT_EQ(field(para::kColorTempType), 2);
    EXPECT_EQ(flag(), 0);
    EXPECT_EQ(text("label_title"), QString::fromUtf8("Изображение"));
    EXPECT_EQ(w<QPushButton>("Button_bright_add")->text(), "+");

    // Any language other than 0, 2 and 3 is English.
    for (int language : {1, 7}) {
        g_language = static_cast<unsigned char>(language);
        page->language_changed();
        EXPECT_EQ(text("label_type"), "temperature type");
        EXPECT_EQ(w<QPushButton>("Button_reset")->text(), "Reset");
        EXPECT_EQ(combo->itemText(3), "cool");
    }
    g_language = 0;
    page->language_changed();
    EXPECT_EQ(w<QPushButton>("Button_reset")->text(), QString::fromUtf8("画质复位"));
    EXPECT_EQ(flag(), 0);
}

TEST_F(ImageQualityTest, ResetStoresTheDefaultsAndTheRefreshRedrawsThem)
{
    open();
    page->on_Button_temperature_clicked();
    press("Button_reset");
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(le16(store->ram_para, para::kBrightness + 2 * i), kDefaults[i]) << i;
    EXPECT_EQ(flag(), 1);
    EXPECT_EQ(text("label_bright"), "80") << "not redrawn at the press";

    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(text("label_bright"), "100");
    EXPECT_EQ(text("label_red"), "64");
    EXPECT_EQ(w<QComboBox>("comboBox")->currentIndex(), 2);

    // At the defaults: no byte changes, the flag rises, nothing is redrawn.
    c331_manage::para_change_flag = 0;
    w<QLabel>("label_bright")->setText("marker");
    const auto before = picture();
    press("Button_reset");
    EXPECT_EQ(picture(), before);
    EXPECT_EQ(flag(), 1);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(text("label_bright"), "marker");
}

TEST_F(ImageQualityTest, AnotherWritersChangeReachesTheWidgetsAtTheRefresh)
{
    open();
    setLe16(ParaWriteLock().block(), para::kSaturation, 77);
    setLe16(ParaWriteLock().block(), para::kBrightness, 150); // outside the slider's range
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(text("label_saturation"), "77");
    EXPECT_EQ(w<QSlider>("horizontalSlider_saturation")->value(), 77);
    EXPECT_EQ(w<QSlider>("horizontalSlider_bright")->value(), 100);
    EXPECT_EQ(text("label_bright"), "100") << "the slider moved, its value shows";
    EXPECT_EQ(flag(), 0);
}

TEST_F(ImageQualityTest, TabsSwapTheSelectedStyle)
{
    open();
    page->on_Button_temperature_clicked();
    EXPECT_EQ(w<QStackedWidget>("stackedWidget")->currentIndex(), 1);
    EXPECT_EQ(w<QPushButton>("Button_temperature")->styleSheet(), "background-color:#4777FF;color:#FFFFFF;border:none");
    EXPECT_EQ(w<QPushButton>("Button_quality")->styleSheet(), "background-color:#10101C;color:#FFFFFF");
    page->on_Button_quality_clicked();
    EXPECT_EQ(w<QStackedWidget>("stackedWidget")->currentIndex(), 0);
    EXPECT_EQ(w<QPushButton>("Button_temperature")->styleSheet(), "background-color:#10101C;color:#FFFFFF");
}

TEST_F(ShellTest, TheSettingsMenuOpensThePictureQualityPageAndBackReturns)
{
    int focusInside = -1;
    int focusAfter = -1;
    whenModal([&] {
        whenModal([&] {
            focusInside = g_page_focus.load();
            ASSERT_TRUE(g_imagequality);
            g_imagequality->on_Button_back_clicked();
        });
        g_option->on_image_quality_clicked();
        focusAfter = g_page_focus.load();
        EXPECT_FALSE(g_imagequality);
        g_option->on_Button_back_clicked();
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_EQ(focusInside, 11);
    EXPECT_EQ(focusAfter, 5);
    EXPECT_EQ(g_page_focus.load(), 1);
}

TEST_F(ShellTest, IdleTimeBacksOutOfThePictureQualityPageAndTheMenu)
{
    g_back_to_mainwindow_time = 50;
    int focusBeforeIdle = -1;
    whenModal([&] {
        whenModal([&] {
            focusBeforeIdle = g_page_focus.load();
            tick(60);
        });
        g_option->on_image_quality_clicked();
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_EQ(focusBeforeIdle, 11);
    EXPECT_FALSE(g_imagequality);
    EXPECT_FALSE(g_option);
    EXPECT_EQ(g_page_focus.load(), 1);
    g_back_to_mainwindow_time = 18000;
    flushDeletes();
}

// Each tab shows its own controls under its own title and tab names in
// every language (whether the texts fit is checked with every page's).
TEST_F(ImageQualityTest, ScreenshotsOfBothTabsInFourLanguages)
{
    const char* const titles[4] = {"图像效果", "Image quality", "Изображение", "Chất lượng hình ảnh"};
    const char* const tabs[4][2] = {{"画质", "色温"}, {"Quality", "Temperature"}, {"Качество", "Оттенок"},
                                    {"Chất lượng", "Độ màu"}};
    const char* const warm[4] = {"偏暖", "warm", "Теплый", "Màu ấm"};
    open();
    QStackedWidget* stack = w<QStackedWidget>("stackedWidget");
    for (int language = 0; language < 4; ++language) {
        g_language = static_cast<unsigned char>(language);
        page->language_changed();
        EXPECT_EQ(text("label_title"), QString::fromUtf8(titles[language]));
        EXPECT_EQ(w<QPushButton>("Button_quality")->text(), QString::fromUtf8(tabs[language][0]));
        EXPECT_EQ(w<QPushButton>("Button_temperature")->text(), QString::fromUtf8(tabs[language][1]));
        page->on_Button_quality_clicked();
        EXPECT_EQ(stack->currentIndex(), 0);
        EXPECT_EQ(text("label_bright"), "80");
        shot("picture_quality", language);
        page->on_Button_temperature_clicked();
        EXPECT_EQ(stack->currentIndex(), 1);
        EXPECT_EQ(w<QComboBox>("comboBox")->itemText(1), QString::fromUtf8(warm[language]));
        shot("picture_temperature", language);
    }
}
