// The shell's shared widgets: the number keypad, the tip pop-up, the round
// progress dial and the language of the texts.
#include "support/shell_fixture.h"

#include "core/global.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/tip.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

class Keypad : public ShellTest {
protected:
    void press(const char* key)
    {
        QPushButton* button = g_numberkeyboard->findChild<QPushButton*>(key);
        ASSERT_NE(button, nullptr) << key;
        button->click();
    }
    QString shown() const { return g_numberkeyboard->display_text(); }
};

} // namespace

TEST_F(Keypad, DigitsReplaceTheShownValueThenAppendWithoutALeadingZero)
{
    g_numberkeyboard->label_show("X", "1920");
    EXPECT_EQ(shown(), "1920");
    press("5");
    EXPECT_EQ(shown(), "5") << "the first digit starts a new number";
    press("0");
    press("7");
    press("9");
    press("9");
    press("9");
    press("9");
    EXPECT_EQ(shown(), "5079999") << "no limit on digits";
    press("Button_C");
    EXPECT_EQ(shown(), "0");
    press("0");
    EXPECT_EQ(shown(), "0");
    press("3");
    EXPECT_EQ(shown(), "3") << "a leading 0 is not kept";
}

TEST_F(Keypad, XDeletesTheLastCharacterDownToNothing)
{
    g_numberkeyboard->label_show("W", "64");
    press("Button_X");
    EXPECT_EQ(shown(), "6");
    press("Button_X");
    EXPECT_EQ(shown(), "");
    press("Button_X");
    EXPECT_EQ(shown(), "");
    press("8");
    EXPECT_EQ(shown(), "8");
}

TEST_F(Keypad, OkSendsTheTextAndHidesCloseSendsNothing)
{
    QSignalSpy spy(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit);
    g_numberkeyboard->label_show("H", "480");
    g_numberkeyboard->show();
    press("1");
    press("2");
    press("Button_OK");
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), "12");
    EXPECT_FALSE(g_numberkeyboard->isVisible());

    g_numberkeyboard->label_show("H", "480");
    g_numberkeyboard->show();
    press("7");
    press("Button_close");
    EXPECT_EQ(spy.count(), 1) << "closing gives no result";
    EXPECT_FALSE(g_numberkeyboard->isVisible());
}

TEST_F(Keypad, TitleSizeAndKeysFollowTheTitleAndLanguage)
{
    QLabel* title = g_numberkeyboard->findChild<QLabel*>("label_title");
    ASSERT_NE(title, nullptr);
    g_numberkeyboard->label_show("Code", "");
    EXPECT_EQ(title->text(), "Code");
    EXPECT_EQ(title->font().pixelSize(), 18);
    g_numberkeyboard->label_show("X", "");
    EXPECT_EQ(title->font().pixelSize(), 25);

    QPushButton* ok = g_numberkeyboard->findChild<QPushButton*>("Button_OK");
    g_language = 0;
    g_numberkeyboard->label_show("X", "");
    EXPECT_EQ(ok->text(), QString::fromUtf8("确定"));
    g_language = 2;
    g_numberkeyboard->label_show("X", "");
    EXPECT_EQ(ok->text(), QString::fromUtf8("ОК"));
}

TEST_F(Keypad, ANumberFieldAsksForTheKeypadWithItsTextUnlessDisabled)
{
    QDialog page;
    My_lineEdit* field = new My_lineEdit(&page);
    field->setText("1080");
    EXPECT_TRUE(My_lineEdit().text().isEmpty());
    QSignalSpy spy(field, &My_lineEdit::send_show);
    page.show();
    QTest::mouseClick(field, Qt::LeftButton);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), "1080");
    field->setEnabled(false);
    QTest::mouseClick(field, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 1);
}

// --- tips ------------------------------------------------------------------

TEST_F(ShellTest, TipTextsInEveryLanguageAndEnglishForAnyOther)
{
    struct Case {
        int language;
        int tip;
        const char* text;
    };
    const Case cases[] = {
        {1, 3, "USB driver is connected,please wait..."},
        {1, 4, "USB drive is unplugged."},
        {1, 5, "Reading the data,pls wait"},
        {9, 4, "USB drive is unplugged."},
        {0, 4, "U盘已拔出。"},
        {2, 3, "USB-накопитель подключён, подождите..."},
        {2, 5, "Чтение данных, подождите"},
        {3, 4, "Đã rút ổ USB."},
        {3, 5, "Đang đọc dữ liệu, vui lòng chờ"},
        {1, 6, "The scan file was not loaded completely"},
        {2, 6, "Файл сканирования загружен не полностью"},
    };
    for (const Case& c : cases) {
        g_language = static_cast<unsigned char>(c.language);
        g_tip->tip_create(c.tip);
        EXPECT_EQ(g_tip->text(), QString::fromUtf8(c.text)) << "language " << c.language << " tip " << c.tip;
        EXPECT_EQ(g_tip->shown_type(), c.tip);
    }
}

TEST_F(ShellTest, TheCheckMarkTipShowsItsPictureAndHidesAfter300Ticks)
{
    g_tip->tip_create(1);
    QLabel* label = g_tip->findChild<QLabel*>("label_tip");
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(label->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_TRUE(g_tip->isVisible());

    tick(299);
    EXPECT_TRUE(g_tip->isVisible()) << "299 ticks";
    tick(1);
    EXPECT_FALSE(g_tip->isVisible()) << "300 ticks";
    EXPECT_EQ(g_tip->shown_type(), 0);
}

TEST_F(ShellTest, ANewTipReplacesTheOldAndRestartsItsTime)
{
    g_tip->tip_create(3);
    tick(200);
    g_tip->tip_create(5);
    const QList<QLabel*> labels = g_tip->findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1) << "the old content is deleted";
    EXPECT_TRUE(labels[0]->isVisible()) << "the new text is shown";
    tick(200);
    EXPECT_EQ(g_tip->shown_type(), 5);
    tick(100);
    EXPECT_EQ(g_tip->shown_type(), 0);
}

TEST_F(ShellTest, OtherTipTypesShowNothing)
{
    g_tip->tip_create(4);
    g_tip->tip_create(2);
    EXPECT_FALSE(g_tip->isVisible());
    EXPECT_TRUE(g_tip->findChildren<QLabel*>().isEmpty());
    g_tip->tip_create(0);
    EXPECT_FALSE(g_tip->isVisible());
}

// --- the progress dial ------------------------------------------------------

TEST_F(ShellTest, TheDialIsMadeOnceShowsProgressAndClosesAt100)
{
    QDialog page;
    page.show();
    QRoundProgressBar::create_qround_bar(&page);
    QPointer<QRoundProgressBar> dial = g_qround_bar;
    ASSERT_TRUE(dial);
    EXPECT_EQ(dial->parentWidget(), &page);
    EXPECT_EQ(dial->geometry(), QRect(300, 140, 200, 200));
    EXPECT_EQ(dial->value(), 0);
    EXPECT_TRUE(dial->isVisible());

    QRoundProgressBar::create_qround_bar(&page);
    EXPECT_EQ(g_qround_bar, dial) << "a second call keeps the dial";

    dial->para_sync(42);
    EXPECT_EQ(dial->value(), 42);
    dial->para_sync(99);
    EXPECT_TRUE(g_qround_bar);
    dial->para_sync(100);
    EXPECT_FALSE(g_qround_bar);
    flushDeletes();
    EXPECT_FALSE(dial) << "the closed dial is deleted";

    QRoundProgressBar::create_qround_bar(&page);
    ASSERT_TRUE(g_qround_bar);
    g_qround_bar->para_sync(250);
    EXPECT_FALSE(g_qround_bar);
}

TEST(ShellLanguage, AnyUnknownLanguageShowsEnglish)
{
    for (int l : {1, 4, 5, 200, 255}) {
        g_language = static_cast<unsigned char>(l);
        EXPECT_EQ(ui_language(), 1);
        EXPECT_EQ(ui_text("中", "en", "ru", "vi"), "en");
        EXPECT_EQ(ui_png("home_mode.png"), ":/png/en_home_mode.png");
    }
    g_language = 0;
    EXPECT_EQ(ui_png("home_mode.png"), ":/png/home_mode.png");
    g_language = 2;
    EXPECT_EQ(ui_text("中", "en", "ru", "vi"), "ru");
    g_language = 3;
    EXPECT_EQ(ui_png("home_mode.png"), ":/png/vn_home_mode.png");
    g_language = 0;
}
