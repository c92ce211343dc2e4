// Fixture for tests of one touch page: the shell, the page made and put in
// focus like its opener does (without running it modally), lookups of its
// widgets by object name, and screenshots into <build>/screenshots/.
#pragma once

#include "support/shell_fixture.h"

#include "core/global.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/shell_global.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMetaMethod>
#include <QPixmap>
#include <QPointer>
#include <functional>
#include <memory>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

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

    // The operator picks item index of a list: the list moves to it and
    // reports the choice, as a touch on the opened list does.
    static void pick(QComboBox* list, int index)
    {
        list->setCurrentIndex(index);
        emit list->activated(index);
    }

    // Runs f once, the first time widget emits signal (a refresh setting it
    // from its copy of the block), before any handler of the page sees the
    // signal: the page's own handlers of the widget are taken off and made
    // again after f. The returned connection is f's.
    template <typename W, typename Signal>
    QMetaObject::Connection beforeThePage(W* widget, Signal signal, std::function<void()> f)
    {
        const QByteArray prefix = "on_" + widget->objectName().toUtf8() + "_";
        std::vector<std::pair<QMetaMethod, QMetaMethod>> handlers;
        const QMetaObject* pageMeta = page->metaObject();
        for (int i = 0; i < pageMeta->methodCount(); ++i) {
            const QMetaMethod slot = pageMeta->method(i);
            const QByteArray name = slot.methodSignature();
            if (!name.startsWith(prefix))
                continue;
            const int s = widget->metaObject()->indexOfSignal(name.mid(prefix.size()).constData());
            if (s < 0)
                continue;
            const QMetaMethod emitted = widget->metaObject()->method(s);
            if (QObject::disconnect(widget, emitted, page, slot))
                handlers.emplace_back(emitted, slot);
        }
        auto once = std::make_shared<bool>(false);
        const QMetaObject::Connection c = QObject::connect(widget, signal, [once, f] {
            if (!*once) {
                *once = true;
                f();
            }
        });
        for (const auto& h : handlers)
            QObject::connect(widget, h.first, page, h.second);
        return c;
    }

    Page* page = nullptr;
};
