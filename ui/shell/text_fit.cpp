#include "ui/shell/text_fit.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
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
    // A combo box: its items, each of which the box may show.
    QComboBox* combo = nullptr;
    QStringList items;
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
    if (QComboBox* c = qobject_cast<QComboBox*>(w)) {
        if (c->isEditable() || c->count() == 0)
            return false;
        QStyleOptionComboBox opt;
        opt.initFrom(c);
        opt.frame = c->hasFrame();
        opt.currentText = c->currentText();
        opt.subControls = QStyle::SC_All;
        // The style draws the item 1 pixel inside the edit field.
        t.room = c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c).adjusted(1, 0, -1, 0);
        t.align = Qt::AlignLeft | Qt::AlignVCenter;
        t.combo = c;
        for (int i = 0; i < c->count(); ++i)
            t.items << c->itemText(i);
        t.text = t.items.join('\n');
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
// Whether one line set in fm keeps its ink inside the room's height where
// the alignment puts it.
bool inkInside(const QFontMetrics& fm, const QString& line, const QRect& room, Qt::Alignment align)
{
    int top = (room.height() - fm.height()) / 2;
    if (align & Qt::AlignTop)
        top = 0;
    else if (align & Qt::AlignBottom)
        top = room.height() - fm.height();
    const QRect ink = fm.tightBoundingRect(line);
    const int baseline = top + fm.ascent();
    return baseline + ink.top() >= 0 && baseline + ink.bottom() <= room.height();
}

bool fits(const QFont& f, const Target& t, bool wrap)
{
    const QFontMetrics fm(f);
    const QRect& room = t.room;
    if (t.combo) {
        for (const QString& item : t.items)
            if (!item.isEmpty() && (fm.horizontalAdvance(item) > room.width() || !inkInside(fm, item, room, t.align)))
                return false;
        return true;
    }
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
    return inkInside(fm, t.text, room, t.align);
}

// The width the open list of a combo box needs for its widest item in the
// list's font: the items, the list's frame and, when the list scrolls, its
// scroll bar.
int listWidth(QComboBox* c)
{
    QAbstractItemView* list = c->view();
    int width = list->sizeHintForColumn(c->modelColumn()) + 2 * list->frameWidth();
    if (c->count() > c->maxVisibleItems())
        width += list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    return width;
}

// The open list of a combo box keeps the font the form gave the box (the
// box itself may have been given a smaller one) and is made as wide as its
// widest item, as far as the window reaches; only where even the window is
// too narrow does its font step down, not below kFloorPx.
void fitList(QComboBox* c, const QFont& base)
{
    QAbstractItemView* list = c->view();
    const int most = c->window()->width();
    QFont f = base;
    for (int px = QFontInfo(base).pixelSize(); px >= kFloorPx; --px) {
        if (px != QFontInfo(base).pixelSize())
            f.setPixelSize(px);
        if (list->font() != f)
            list->setFont(f);
        if (listWidth(c) <= most)
            break;
    }
    list->setMinimumWidth(qMin(listWidth(c), most));
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
        // A combo box is fitted before it opens its list too: its items may
        // have changed since it was painted.
        if ((e->type() == QEvent::Paint || (e->type() == QEvent::MouseButtonPress && qobject_cast<QComboBox*>(o))) &&
            o->isWidgetType())
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
    if (t.combo)
        fitList(t.combo, base);
    w->setProperty(kSetFont, w->font());
    w->setProperty(kSetStyle, w->styleSheet());
    w->setProperty(kSetWrap, t.label && t.label->wordWrap());
    Target now;
    if (targetOf(w, now))
        w->setProperty(kKey, keyOf(w, now));
}

} // namespace text_fit
