#include "ui/shell/text_fit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>
#include <QToolButton>

namespace text_fit {

namespace {

// What a widget was fitted for, and what it had before (dynamic
// properties of the widget).
const char kKey[] = "zdrFitKey";
const char kBaseFont[] = "zdrFitBaseFont";
const char kBaseStyle[] = "zdrFitBaseStyle";
const char kBaseWrap[] = "zdrFitBaseWrap";
const char kSetFont[] = "zdrFitFont";
const char kSetStyle[] = "zdrFitStyle";
const char kSetWrap[] = "zdrFitWrap";

// A font size in the widget's own style sheet ("font: 20px", "font-size:
// 14pt"): the painting of a styled button takes it, not the widget's font.
const QRegularExpression& styleFontSize()
{
    static const QRegularExpression re("(font(?:-size)?\\s*:[^;}]*?)(\\d+)(px|pt)");
    return re;
}

QString styleWithFontPx(const QString& style, int px)
{
    QString out = style;
    out.replace(styleFontSize(), QString("\\1%1px").arg(px));
    return out;
}

struct Target {
    QString text;
    QRect room;
    Qt::Alignment align = Qt::AlignCenter;
    QLabel* label = nullptr;
};

// The text and the room a widget gives it; false for widgets without a
// text to fit.
bool targetOf(QWidget* w, Target& t)
{
    if (QLabel* l = qobject_cast<QLabel*>(w)) {
        if (l->text().isEmpty() || l->textFormat() == Qt::RichText ||
            (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(l->text())))
            return false;
        const int m = l->margin();
        t.text = l->text();
        t.room = l->contentsRect().adjusted(m, m, -m, -m);
        t.align = l->alignment();
        t.label = l;
        return true;
    }
    QAbstractButton* b = qobject_cast<QAbstractButton*>(w);
    if (!b || b->text().isEmpty())
        return false;
    t.text = b->text();
    t.text.remove('&');
    if (QPushButton* p = qobject_cast<QPushButton*>(b)) {
        QStyleOptionButton opt;
        opt.initFrom(p);
        opt.rect = p->rect();
        opt.text = p->text();
        opt.icon = p->icon();
        opt.iconSize = p->iconSize();
        if (p->isFlat())
            opt.features |= QStyleOptionButton::Flat;
        t.room = p->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, p);
        if (!p->icon().isNull())
            t.room.setWidth(t.room.width() - p->iconSize().width() - 4);
        return true;
    }
    if (QToolButton* tb = qobject_cast<QToolButton*>(b)) {
        t.room = tb->rect().adjusted(2, 2, -2, -2);
        if (!tb->icon().isNull()) {
            if (tb->toolButtonStyle() == Qt::ToolButtonTextUnderIcon)
                t.room.setHeight(t.room.height() - tb->iconSize().height() - 2);
            else if (tb->toolButtonStyle() == Qt::ToolButtonTextBesideIcon)
                t.room.setWidth(t.room.width() - tb->iconSize().width() - 2);
            else
                return false;
        }
        return true;
    }
    return false;
}

// Whether the text set in font f fits the room: every line as wide as the
// room at most; the lines as high as the room, a single line by its ink
// where the alignment puts it.
bool fits(const QFont& f, const Target& t, bool wrap)
{
    const QFontMetrics fm(f);
    const QRect& room = t.room;
    if (wrap) {
        const QRect r = fm.boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap | Qt::AlignLeft, t.text);
        return r.width() <= room.width() && r.height() <= room.height();
    }
    const QStringList lines = t.text.split('\n');
    for (const QString& line : lines)
        if (fm.horizontalAdvance(line) > room.width())
            return false;
    if (lines.size() > 1)
        return fm.height() + (lines.size() - 1) * fm.lineSpacing() <= room.height();
    int top = (room.height() - fm.height()) / 2;
    if (t.align & Qt::AlignTop)
        top = 0;
    else if (t.align & Qt::AlignBottom)
        top = room.height() - fm.height();
    const QRect ink = fm.tightBoundingRect(t.text);
    const int baseline = top + fm.ascent();
    return baseline + ink.top() >= 0 && baseline + ink.bottom() <= room.height();
}

QString keyOf(QWidget* w, const Target& t)
{
    return t.text + '\x1f' + QString::number(t.room.width()) + 'x' + QString::number(t.room.height()) + '\x1f' +
           w->font().toString() + '\x1f' + w->styleSheet() + '\x1f' + (t.label && t.label->wordWrap() ? "w" : "");
}

class Fitter : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && o->isWidgetType())
            fit(static_cast<QWidget*>(o));
        return false;
    }
};

} // namespace

void install()
{
    static Fitter* fitter = nullptr;
    if (fitter || !qApp)
        return;
    fitter = new Fitter();
    fitter->setParent(qApp);
    qApp->installEventFilter(fitter);
}

void fit(QWidget* w)
{
    Target t;
    if (!targetOf(w, t))
        return;
    if (w->property(kKey).toString() == keyOf(w, t))
        return;

    // What the form gave the widget: each part kept while the widget still
    // shows what was set here, else taken anew (the page set it since).
    if (!w->property(kSetFont).isValid() || w->property(kSetFont).value<QFont>() != w->font())
        w->setProperty(kBaseFont, w->font());
    if (!w->property(kSetStyle).isValid() || w->property(kSetStyle).toString() != w->styleSheet())
        w->setProperty(kBaseStyle, w->styleSheet());
    const bool wrapNow = t.label && t.label->wordWrap();
    if (!w->property(kSetWrap).isValid() || w->property(kSetWrap).toBool() != wrapNow)
        w->setProperty(kBaseWrap, wrapNow);
    const QFont base = w->property(kBaseFont).value<QFont>();
    const QString baseStyle = w->property(kBaseStyle).toString();
    const bool baseWrap = w->property(kBaseWrap).toBool();
    const bool styledSize = baseStyle.contains(styleFontSize());

    const int basePx = QFontInfo(base).pixelSize();
    QFont chosen = base;
    bool wrap = baseWrap;
    bool found = fits(base, t, baseWrap);
    // Smaller fonts, then (labels) lines.
    for (int pass = 0; pass < 2 && !found; ++pass) {
        wrap = pass == 1 || baseWrap;
        if (pass == 1 && (!t.label || baseWrap))
            break;
        for (int px = basePx; px >= kFloorPx && !found; --px) {
            QFont f = base;
            f.setPixelSize(px);
            if (fits(f, t, wrap)) {
                chosen = f;
                found = true;
            }
        }
    }
    if (!found) {
        chosen = base;
        chosen.setPixelSize(qMin(basePx, kFloorPx));
        wrap = t.label && !t.label->text().contains('\n') ? true : baseWrap;
    }

    const int px = QFontInfo(chosen).pixelSize();
    const QString style = styledSize && px != basePx ? styleWithFontPx(baseStyle, px) : baseStyle;
    if (w->styleSheet() != style)
        w->setStyleSheet(style);
    if (w->font() != chosen)
        w->setFont(chosen);
    if (t.label && t.label->wordWrap() != wrap)
        t.label->setWordWrap(wrap);
    w->setProperty(kSetFont, w->font());
    w->setProperty(kSetStyle, w->styleSheet());
    w->setProperty(kSetWrap, t.label && t.label->wordWrap());
    Target now;
    if (targetOf(w, now))
        w->setProperty(kKey, keyOf(w, now));
}

} // namespace text_fit
