#include "support/text_fit.h"

#include <QAbstractButton>
#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <QStyleOptionViewItem>
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

QString nameOf(const QWidget* w)
{
    return w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
}

QString describeAs(const QString& name, const QString& text, const Need& need, const QRect& room)
{
    return QString("%1 \"%2\" needs %3x%4, has %5x%6")
        .arg(name, QString(text).replace('\n', "\\n"))
        .arg(need.width)
        .arg(need.height)
        .arg(room.width())
        .arg(room.height());
}

QString describe(const QWidget* w, const QString& text, const Need& need, const QRect& room)
{
    return describeAs(nameOf(w), text, need, room);
}

bool elidedWithoutWhole(const QWidget* w, const QString& text)
{
    return text.contains(QChar(0x2026)) && w->toolTip().isEmpty();
}

// One line of text in a room, drawn in font f with the given alignment.
void checkLine(const QString& name, const QWidget* w, const QFont& f, const QString& text, const QRect& room,
               Qt::Alignment align, QStringList& out)
{
    if (text.isEmpty())
        return;
    const QFontMetrics fm(f);
    const Need need = linesNeed(fm, text);
    if (tooBig(fm, text, need, room, align, !text.contains('\n')))
        out << describeAs(name, text, need, room);
    else if (elidedWithoutWhole(w, text))
        out << describeAs(name, text, need, room) + " (cut short)";
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

QStyleOptionButton buttonOption(const QAbstractButton* b)
{
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.rect = b->rect();
    opt.text = b->text();
    opt.icon = b->icon();
    opt.iconSize = b->iconSize();
    return opt;
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
        QStyleOptionButton opt = buttonOption(p);
        if (p->isFlat())
            opt.features |= QStyleOptionButton::Flat;
        room = p->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, p);
        if (!p->icon().isNull())
            room.setWidth(room.width() - p->iconSize().width() - 4);
    } else if (qobject_cast<const QCheckBox*>(b) || qobject_cast<const QRadioButton*>(b)) {
        // The text beside the check mark.
        const bool check = qobject_cast<const QCheckBox*>(b) != nullptr;
        const QStyleOptionButton opt = buttonOption(b);
        room = b->style()->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &opt, b);
        if (!b->icon().isNull())
            room.setLeft(room.left() + b->iconSize().width() + 4);
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

// The text of a line edit, else its placeholder, in the room between its
// frame, its text margins and the 2 pixels the line edit keeps on each side.
void checkLineEdit(const QLineEdit* e, QStringList& out)
{
    if (e->echoMode() != QLineEdit::Normal)
        return;
    const QString text = e->text().isEmpty() ? e->placeholderText() : e->text();
    QStyleOptionFrame opt;
    opt.initFrom(e);
    opt.rect = e->rect();
    opt.lineWidth = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, e) : 0;
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    if (e->isReadOnly())
        opt.state |= QStyle::State_ReadOnly;
    QRect room = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e).marginsRemoved(e->textMargins());
    room.adjust(2, 0, -2, 0);
    checkLine(nameOf(e), e, e->font(), text, room, e->alignment(), out);
}

// The title of a group box.
void checkGroupBox(const QGroupBox* g, QStringList& out)
{
    QStyleOptionGroupBox opt;
    opt.initFrom(g);
    opt.rect = g->rect();
    opt.text = g->title();
    opt.lineWidth = 1;
    opt.midLineWidth = 0;
    opt.textAlignment = g->alignment();
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (g->isCheckable())
        opt.subControls |= QStyle::SC_GroupBoxCheckBox;
    if (g->isFlat())
        opt.features |= QStyleOptionFrame::Flat;
    QString title = g->title();
    title.remove('&');
    // The label's rectangle is made for the title; the box bounds it.
    const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
    checkLine(nameOf(g), g, g->font(), title, label & g->rect(), Qt::AlignCenter, out);
}

// Every item of a list or table: what its delegate asks for against the
// part of the item's cell that can be seen (a view that scrolls sideways
// shows the whole of every item).
void checkItems(QAbstractItemView* v, const QString& name, QStringList& out)
{
    QAbstractItemModel* model = v->model();
    if (!model)
        return;
    const bool scrollsSideways = v->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
    const QRect seen = v->viewport()->rect();
    const QModelIndex root = v->rootIndex();
    for (int row = 0; row < model->rowCount(root); ++row) {
        for (int column = 0; column < model->columnCount(root); ++column) {
            const QModelIndex index = model->index(row, column, root);
            const QString text = index.data(Qt::DisplayRole).toString();
            if (text.isEmpty())
                continue;
            QRect cell = v->visualRect(index);
            if (cell.isEmpty())
                continue;   // a hidden row or column
            if (!scrollsSideways)
                cell = QRect(qMax(cell.left(), seen.left()), cell.top(),
                             qMin(cell.right(), seen.right()) - qMax(cell.left(), seen.left()) + 1, cell.height());
            QStyleOptionViewItem opt;
            opt.initFrom(v);
            opt.widget = v;
            opt.rect = cell;
            opt.font = index.data(Qt::FontRole).isValid() ? index.data(Qt::FontRole).value<QFont>() : v->font();
            opt.fontMetrics = QFontMetrics(opt.font);
            opt.decorationSize = v->iconSize().isValid() ? v->iconSize() : QSize(16, 16);
            opt.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
            opt.textElideMode = v->textElideMode();
            opt.showDecorationSelected = v->style()->styleHint(QStyle::SH_ItemView_ShowDecorationSelected, nullptr, v);
            const QSize hint = v->itemDelegate(index)->sizeHint(opt, index);
            const QString at = QString("%1[%2]").arg(name).arg(row) + (column ? QString(",%1").arg(column) : QString());
            if (hint.width() > cell.width() || hint.height() > cell.height() + kSlackPx) {
                Need need;
                need.width = hint.width();
                need.height = hint.height();
                out << describeAs(at, text, need, cell);
            }
        }
    }
}

// A combo box: the item shown in the box, in the box's edit field (the
// style's text inset of 1 pixel on each side), and every item of its list
// as the list opens.
void checkComboBox(QComboBox* c, QStringList& out)
{
    QStyleOptionComboBox opt;
    opt.initFrom(c);
    opt.editable = c->isEditable();
    opt.frame = c->hasFrame();
    opt.currentText = c->currentText();
    opt.subControls = QStyle::SC_All;
    if (!c->isEditable()) {
        // The box shows whichever item is chosen: each of them in turn.
        const QRect field =
            c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c).adjusted(1, 0, -1, 0);
        for (int i = 0; i < c->count(); ++i)
            checkLine(QString("%1[%2]").arg(nameOf(c)).arg(i), c, c->font(), c->itemText(i), field,
                      Qt::AlignLeft | Qt::AlignVCenter, out);
    }
    // A list that opens as a menu (a combo box left to the style's own
    // look) is made as wide as its widest item by the combo box itself; the
    // pages give theirs a list view, whose items are measured here.
    if (c->count() == 0 || c->view()->itemDelegate()->inherits("QComboMenuDelegate"))
        return;
    c->showPopup();
    QAbstractItemView* list = c->view();
    list->window()->grab();
    checkItems(list, nameOf(c) + ".list", out);
    c->hidePopup();
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
        else if (const QLineEdit* e = qobject_cast<const QLineEdit*>(w))
            checkLineEdit(e, out);
        else if (const QGroupBox* g = qobject_cast<const QGroupBox*>(w))
            checkGroupBox(g, out);
        else if (QComboBox* c = qobject_cast<QComboBox*>(w))
            checkComboBox(c, out);
        else if (QAbstractItemView* v = qobject_cast<QAbstractItemView*>(w))
            checkItems(v, nameOf(v), out);
    }
    return out;
}
