// Fixture for tests of one touch page: the shell, the page made and put in
// focus like its opener does (without running it modally), lookups of its
// widgets by object name, and screenshots into <build>/screenshots/.
#pragma once

#include "support/shell_fixture.h"

#include "core/global.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/shell_global.h"

#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <gtest/gtest.h>

template <typename Page>
class PageTest : public ShellTest {
protected:
    void TearDown() override
    {
        delete page; // the page pointer, a QPointer, reads null again
        g_lineedit = nullptr;
        g_language = 0;
        ShellTest::TearDown();
    }
    Page* open(QPointer<Page>& pointer, int focus)
    {
        page = new Page();
        pointer = page;
        g_page_focus = focus;
        return page;
    }
    template <typename T>
    T* w(const char* name)
    {
        T* widget = page->template findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString text(const char* name) { return w<QLabel>(name)->text(); }
    // Saves the page as <build>/screenshots/<name>_<zh|en|ru|vn>.png.
    void shot(const QString& name, int language)
    {
        const char* const tags[4] = {"zh", "en", "ru", "vn"};
        const QString dir = QString(ZDR_BINARY_DIR) + "/screenshots";
        QDir().mkpath(dir);
        EXPECT_TRUE(page->grab().save(dir + "/" + name + "_" + tags[language] + ".png")) << name.toStdString();
    }

    Page* page = nullptr;
};
