#include "support/text_fit.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>
#include <QToolButton>
#include <QWidget>

namespace {

// Rows of text may reach this far into the widget's edge: the descent of a
// line below the baseline.
constexpr int kSlackPx = 2;

struct Need {
    int width = 0;
    int height = 0;
};

// The size of plain text on explicit lines.
Need linesNeed(const QFontMetrics& fm, const QString& text)
{
    Need n;
    const QStringList lines = text.split('\n');
    for (const QString& line : lines)
        n.width = qMax(n.width, fm.horizontalAdvance(line));
    n.height = fm.height() + (lines.size() - 1) * fm.lineSpacing();
    return n;
}

// Whether one line of text, placed in a room of the given height as the
// alignment places its line box, keeps its ink inside the room.
bool inkInside(const QFontMetrics& fm, const QString& line, int height, Qt::Alignment align)
{
    int top = (height - fm.height()) / 2;
    if (align & Qt::AlignTop)
        top = 0;
    else if (align & Qt::AlignBottom)
        top = height - fm.height();
    const QRect ink = fm.tightBoundingRect(line);
    const int baseline = top + fm.ascent();
    return baseline + ink.top() >= 0 && baseline + ink.bottom() <= height;
}

bool tooBig(const QFontMetrics& fm, const QString& text, const Need& need, const QRect& room, Qt::Alignment align,
            bool singleLine)
{
    if (need.width > room.width())
        return true;
    if (singleLine)
        return !inkInside(fm, text, room.height(), align);
    return need.height > room.height() + kSlackPx;
}

QString describe(const QWidget* w, const QString& text, const Need& need, const QRect& room)
{
    const QString name = w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
    return QString("%1 \"%2\" needs %3x%4, has %5x%6")
        .arg(name, QString(text).replace('\n', "\\n"))
        .arg(need.width)
        .arg(need.height)
        .arg(room.width())
        .arg(room.height());
}

bool elidedWithoutWhole(const QWidget* w, const QString& text)
{
    return text.contains(QChar(0x2026)) && w->toolTip().isEmpty();
}

void checkLabel(const QLabel* l, QStringList& out)
{
    const QString text = l->text();
    if (text.isEmpty())
        return;
    QRect room = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
    const QFontMetrics fm(l->font());
    Need need;
    const bool rich = l->textFormat() == Qt::RichText || (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    if (rich) {
        QTextDocument doc;
        doc.setDefaultFont(l->font());
        doc.setDocumentMargin(0);
        doc.setHtml(text);
        if (l->wordWrap())
            doc.setTextWidth(room.width());
        need.width = static_cast<int>(doc.idealWidth() + 0.999);
        need.height = static_cast<int>(doc.size().height() + 0.999);
    } else if (l->wordWrap()) {
        const QRect r = fm.boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap | Qt::AlignLeft, text);
        need.width = r.width();
        need.height = r.height();
    } else {
        need = linesNeed(fm, text);
    }
    const bool singleLine = !rich && !l->wordWrap() && !text.contains('\n');
    if (tooBig(fm, text, need, room, l->alignment(), singleLine))
        out << describe(l, text, need, room);
    else if (elidedWithoutWhole(l, text))
        out << describe(l, text, need, room) + " (cut short)";
}

void checkButton(const QAbstractButton* b, QStringList& out)
{
    QString text = b->text();
    text.remove('&');
    if (text.isEmpty())
        return;
    const QFontMetrics fm(b->font());
    const Need need = linesNeed(fm, text);
    QRect room = b->rect();
    if (const QPushButton* p = qobject_cast<const QPushButton*>(b)) {
        QStyleOptionButton opt;
        opt.initFrom(p);
        opt.rect = p->rect();
        opt.text = p->text();
        opt.icon = p->icon();
        opt.iconSize = p->iconSize();
        if (p->isFlat())
            opt.features |= QStyleOptionButton::Flat;
        room = p->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, p);
        if (!p->icon().isNull())
            room.setWidth(room.width() - p->iconSize().width() - 4);
    } else if (const QToolButton* t = qobject_cast<const QToolButton*>(b)) {
        room.adjust(2, 2, -2, -2);
        if (!t->icon().isNull()) {
            if (t->toolButtonStyle() == Qt::ToolButtonTextUnderIcon)
                room.setHeight(room.height() - t->iconSize().height() - 2);
            else if (t->toolButtonStyle() == Qt::ToolButtonTextBesideIcon)
                room.setWidth(room.width() - t->iconSize().width() - 2);
            else
                return;   // the icon only
        }
    }
    if (tooBig(fm, text, need, room, Qt::AlignCenter, !text.contains('\n')))
        out << describe(b, text, need, room);
    else if (elidedWithoutWhole(b, text))
        out << describe(b, text, need, room) + " (cut short)";
}

} // namespace

QStringList textsThatDoNotFit(QWidget* root)
{
    QStringList out;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        if (w != root && !w->isVisibleTo(root))
            continue;
        w->ensurePolished();
        if (const QLabel* l = qobject_cast<const QLabel*>(w))
            checkLabel(l, out);
        else if (const QAbstractButton* b = qobject_cast<const QAbstractButton*>(w))
            checkButton(b, out);
    }
    return out;
}
