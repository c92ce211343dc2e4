// Every picture the program loads from the resource tree is there and is a
// real picture: the names written in the sources, the language variants and
// the pictures the later pages name.
#include "ui/shell/shell_lang.h"

#include <QDirIterator>
#include <QFile>
#include <QPixmap>
#include <QRegularExpression>
#include <QTextStream>
#include <gtest/gtest.h>
#include <set>

namespace {

// Pictures the input, picture and screen pages load by composed names or
// that no source of this build names yet.
std::set<QString> pagePictures()
{
    std::set<QString> names = {
        "DVI.png",        "HDMI.png",         "HDMI13.png",     "HDMI13_lv.png",  "HDMI20.png",
        "HDMI20_lv.png",  "add.png",          "back.png",       "button_off.png", "button_on.png",
        "check_180.png",  "checked.png",      "dvilv.png",      "extlv.png",      "menu.png",
        "next.png",       "offline.png",      "osd_no.bmp",     "osd_yes.bmp",    "out_copy.png",
        "out_horizontal.png", "out_vertical.png", "page_change.png", "previous.png", "state_off.png",
        "state_on.png",   "unchecked.png",    "warning.png",
    };
    for (int i = 1; i <= 8; ++i)
        names.insert(QString("img_test%1.png").arg(i));
    for (int i = 1; i <= 16; ++i)
        names.insert(QString("line%1.png").arg(i));
    for (int i = 1; i <= 4; ++i) {
        names.insert(QString("mirror%1_on.png").arg(i));
        names.insert(QString("mirror%1_off.png").arg(i));
    }
    return names;
}

// Every ":/png/<name>" written in the program's sources.
std::set<QString> sourcePictures()
{
    std::set<QString> names;
    const QRegularExpression re(":/png/([A-Za-z0-9_]+\\.(?:png|bmp))");
    for (const char* dir : {"core", "videochip", "sendcard", "avchips", "link", "ui", "sim"}) {
        QDirIterator it(QString(ZDR_SOURCE_DIR) + "/" + dir, {"*.cpp", "*.h"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString text = QTextStream(&file).readAll();
            auto match = re.globalMatch(text);
            while (match.hasNext())
                names.insert(match.next().captured(1));
        }
    }
    return names;
}

} // namespace

TEST(ShellImages, EveryPictureTheProgramNamesLoads)
{
    shell_resources_init();
    const std::set<QString> inSources = sourcePictures();
    EXPECT_TRUE(inSources.count("back.png")) << "the source scan finds nothing";
    EXPECT_TRUE(inSources.count("osd_yes.bmp"));

    std::set<QString> all = pagePictures();
    all.insert(inSources.begin(), inSources.end());
    for (int i = 0; i < kLanguagePictureCount; ++i)
        for (const char* prefix : {"", "en_", "ru_", "vn_"})
            all.insert(QString(prefix) + kLanguagePictures[i]);

    for (const QString& name : all) {
        const QPixmap picture(":/png/" + name);
        EXPECT_FALSE(picture.isNull()) << name.toStdString();
        EXPECT_GE(picture.width(), 16) << name.toStdString();
    }
}

TEST(ShellImages, LanguageVariantsDifferFromTheChinesePicture)
{
    shell_resources_init();
    for (int i = 0; i < kLanguagePictureCount; ++i) {
        const QImage zh(QString(":/png/") + kLanguagePictures[i]);
        for (const char* prefix : {"en_", "ru_", "vn_"}) {
            const QImage other(QString(":/png/") + prefix + kLanguagePictures[i]);
            EXPECT_EQ(other.size(), zh.size()) << prefix << kLanguagePictures[i];
            EXPECT_NE(other, zh) << prefix << kLanguagePictures[i] << " carries no lettering of its own";
        }
    }
}
