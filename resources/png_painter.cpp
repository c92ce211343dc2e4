// Draws every picture of the touch pages and writes the resource list
// k47_resource.qrc beside them. It runs at build time on the build machine:
//
//     zdr_png_painter <output folder>
//
// writes <output folder>/png/<name> for every picture and
// <output folder>/k47_resource.qrc, whose entries the program reaches as
// ":/png/<name>". Pictures with text come in four languages: Chinese under
// the plain name, then "en_", "ru_" and "vn_" variants.
//
// The look: dark tiles (#212435) on the pages' dark background, white
// lines and lettering, the accent blue #4777FF and the signal green #00D65B.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

const QColor kTile("#212435");
const QColor kTileEdge("#3A3F5C");
const QColor kBlue("#4777FF");
const QColor kGreen("#00D65B");
const QColor kGrey("#8A8FA8");
const QColor kDarkGrey("#4A4E66");
const QColor kWhite("#FFFFFF");
const QColor kRed("#F0445A");
const QColor kYellow("#FFC53D");

QString g_out;
QStringList g_names;

using Painter = std::function<void(QPainter&, const QRectF&)>;

void save(const QString& name, const QImage& image)
{
    const QString path = g_out + "/png/" + name;
    const char* format = name.endsWith(".bmp") ? "BMP" : "PNG";
    if (!image.save(path, format)) {
        std::fprintf(stderr, "zdr_png_painter: cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    g_names << name;
}

void draw(const QString& name, int w, int h, const Painter& paint, bool opaque = false)
{
    QImage image(w, h, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    image.fill(opaque ? QColor("#10101C") : QColor(Qt::transparent));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paint(p, QRectF(0, 0, w, h));
    p.end();
    save(name, image);
}

QPen pen(const QColor& c, qreal width)
{
    QPen p(c, width);
    p.setCapStyle(Qt::RoundCap);
    p.setJoinStyle(Qt::RoundJoin);
    return p;
}

QFont font(int pixels, bool bold, int language = 1)
{
    QFont f(language == 0 ? "Noto Sans CJK SC" : "DejaVu Sans");
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// --- small icons --------------------------------------------------------

void arrowBack(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.setPen(pen(kWhite, s * 0.1));
    p.drawLine(QPointF(s * 0.22, s * 0.5), QPointF(s * 0.8, s * 0.5));
    QPainterPath head;
    head.moveTo(s * 0.48, s * 0.2);
    head.lineTo(s * 0.2, s * 0.5);
    head.lineTo(s * 0.48, s * 0.8);
    p.setBrush(Qt::NoBrush);
    p.drawPath(head);
}

void chevron(QPainter& p, const QRectF& r, bool right)
{
    const qreal s = r.width();
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(r.adjusted(s * 0.04, s * 0.04, -s * 0.04, -s * 0.04));
    p.setPen(pen(kWhite, s * 0.1));
    p.setBrush(Qt::NoBrush);
    QPainterPath c;
    if (right) {
        c.moveTo(s * 0.42, s * 0.27);
        c.lineTo(s * 0.65, s * 0.5);
        c.lineTo(s * 0.42, s * 0.73);
    } else {
        c.moveTo(s * 0.58, s * 0.27);
        c.lineTo(s * 0.35, s * 0.5);
        c.lineTo(s * 0.58, s * 0.73);
    }
    p.drawPath(c);
}

void plusIcon(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(r.adjusted(s * 0.04, s * 0.04, -s * 0.04, -s * 0.04));
    p.setPen(pen(kWhite, s * 0.1));
    p.drawLine(QPointF(s * 0.5, s * 0.27), QPointF(s * 0.5, s * 0.73));
    p.drawLine(QPointF(s * 0.27, s * 0.5), QPointF(s * 0.73, s * 0.5));
}

void menuIcon(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.setPen(Qt::NoPen);
    p.setBrush(kTile);
    p.drawRoundedRect(r.adjusted(2, 2, -2, -2), s * 0.18, s * 0.18);
    p.setPen(pen(kWhite, s * 0.09));
    for (int i = 0; i < 3; ++i) {
        const qreal y = s * (0.3 + 0.2 * i);
        p.drawLine(QPointF(s * 0.26, y), QPointF(s * 0.74, y));
    }
}

void pageChange(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.setPen(pen(kWhite, s * 0.08));
    p.setBrush(Qt::NoBrush);
    // Upper arrow to the right, lower arrow to the left.
    p.drawLine(QPointF(s * 0.18, s * 0.34), QPointF(s * 0.8, s * 0.34));
    p.drawLine(QPointF(s * 0.62, s * 0.18), QPointF(s * 0.8, s * 0.34));
    p.drawLine(QPointF(s * 0.82, s * 0.66), QPointF(s * 0.2, s * 0.66));
    p.drawLine(QPointF(s * 0.38, s * 0.82), QPointF(s * 0.2, s * 0.66));
}

void dot(QPainter& p, const QRectF& r, const QColor& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(r.adjusted(1, 1, -1, -1));
}

void radio(QPainter& p, const QRectF& r, bool on)
{
    const qreal s = r.width();
    p.setPen(pen(on ? kBlue : kGrey, s * 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(r.adjusted(s * 0.1, s * 0.1, -s * 0.1, -s * 0.1));
    if (on) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(r.adjusted(s * 0.28, s * 0.28, -s * 0.28, -s * 0.28));
    }
}

void bigCheck(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 214, 91, 60));
    p.drawEllipse(r.adjusted(2, 2, -2, -2));
    p.setBrush(kGreen);
    p.drawEllipse(r.adjusted(s * 0.1, s * 0.1, -s * 0.1, -s * 0.1));
    p.setPen(pen(kWhite, s * 0.08));
    QPainterPath c;
    c.moveTo(s * 0.3, s * 0.52);
    c.lineTo(s * 0.44, s * 0.66);
    c.lineTo(s * 0.71, s * 0.37);
    p.setBrush(Qt::NoBrush);
    p.drawPath(c);
}

void crossMark(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(r.adjusted(s * 0.06, s * 0.06, -s * 0.06, -s * 0.06));
    p.setPen(pen(kWhite, s * 0.1));
    p.drawLine(QPointF(s * 0.33, s * 0.33), QPointF(s * 0.67, s * 0.67));
    p.drawLine(QPointF(s * 0.67, s * 0.33), QPointF(s * 0.33, s * 0.67));
}

void warningIcon(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    QPainterPath t;
    t.moveTo(s * 0.5, s * 0.08);
    t.lineTo(s * 0.95, s * 0.88);
    t.lineTo(s * 0.05, s * 0.88);
    t.closeSubpath();
    p.setPen(pen(kYellow, s * 0.06));
    p.setBrush(kYellow);
    p.drawPath(t);
    p.setPen(pen(QColor("#10101C"), s * 0.09));
    p.drawLine(QPointF(s * 0.5, s * 0.36), QPointF(s * 0.5, s * 0.6));
    p.drawPoint(QPointF(s * 0.5, s * 0.75));
}

// An Ethernet socket seen from the front.
void socket(QPainter& p, const QRectF& r, const QColor& c)
{
    const qreal w = r.width();
    const qreal h = r.height();
    p.setPen(pen(c, w * 0.06));
    p.setBrush(Qt::NoBrush);
    QPainterPath s;
    s.moveTo(w * 0.1, h * 0.12);
    s.lineTo(w * 0.9, h * 0.12);
    s.lineTo(w * 0.9, h * 0.7);
    s.lineTo(w * 0.68, h * 0.7);
    s.lineTo(w * 0.68, h * 0.88);
    s.lineTo(w * 0.32, h * 0.88);
    s.lineTo(w * 0.32, h * 0.7);
    s.lineTo(w * 0.1, h * 0.7);
    s.closeSubpath();
    p.drawPath(s);
    p.setPen(pen(c, w * 0.035));
    for (int i = 0; i < 8; ++i) {
        const qreal x = w * (0.22 + 0.08 * i);
        p.drawLine(QPointF(x, h * 0.2), QPointF(x, h * 0.36));
    }
}

void toggle(QPainter& p, const QRectF& r, bool on)
{
    const qreal h = r.height();
    const QRectF track = r.adjusted(2, 2, -2, -2);
    p.setPen(Qt::NoPen);
    p.setBrush(on ? kGreen : kDarkGrey);
    p.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const qreal d = track.height() - 8;
    const qreal x = on ? track.right() - 4 - d : track.left() + 4;
    p.setBrush(kWhite);
    p.drawEllipse(QRectF(x, track.top() + 4, d, d));
    p.setPen(on ? kWhite : kGrey);
    p.setFont(font(int(h * 0.34), true));
    const QRectF label = on ? QRectF(track.left() + 8, track.top(), track.width() - d - 16, track.height())
                            : QRectF(track.left() + d + 8, track.top(), track.width() - d - 16, track.height());
    p.drawText(label, Qt::AlignCenter, on ? "ON" : "OFF");
}

void lockIcon(QPainter& p, const QRectF& r, bool locked)
{
    const qreal s = r.width();
    p.setPen(pen(locked ? kYellow : kWhite, s * 0.08));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    if (locked) {
        shackle.moveTo(s * 0.32, s * 0.48);
        shackle.lineTo(s * 0.32, s * 0.32);
        shackle.arcTo(QRectF(s * 0.32, s * 0.14, s * 0.36, s * 0.36), 180, -180);
        shackle.lineTo(s * 0.68, s * 0.48);
    } else {
        shackle.moveTo(s * 0.32, s * 0.48);
        shackle.lineTo(s * 0.32, s * 0.32);
        shackle.arcTo(QRectF(s * 0.32, s * 0.14, s * 0.36, s * 0.36), 180, -180);
        shackle.lineTo(s * 0.68, s * 0.36);
    }
    p.drawPath(shackle);
    p.setPen(Qt::NoPen);
    p.setBrush(locked ? kYellow : kWhite);
    p.drawRoundedRect(QRectF(s * 0.22, s * 0.46, s * 0.56, s * 0.4), s * 0.06, s * 0.06);
    p.setBrush(kTile);
    p.drawEllipse(QRectF(s * 0.45, s * 0.58, s * 0.1, s * 0.1));
}

// --- input connectors ---------------------------------------------------

void hdmiConnector(QPainter& p, const QRectF& r, const QColor& c, const QString& badge)
{
    const qreal w = r.width();
    const qreal h = r.height();
    QPainterPath s;
    s.moveTo(w * 0.06, h * 0.18);
    s.lineTo(w * 0.7, h * 0.18);
    s.lineTo(w * 0.7, h * 0.56);
    s.lineTo(w * 0.62, h * 0.82);
    s.lineTo(w * 0.14, h * 0.82);
    s.lineTo(w * 0.06, h * 0.56);
    s.closeSubpath();
    p.setPen(pen(c, h * 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawPath(s);
    p.setPen(pen(c, h * 0.06));
    p.drawLine(QPointF(w * 0.16, h * 0.42), QPointF(w * 0.6, h * 0.42));
    p.setPen(c);
    p.setFont(font(int(h * 0.42), true));
    p.drawText(QRectF(w * 0.72, 0, w * 0.28, h), Qt::AlignCenter, badge);
}

void dviConnector(QPainter& p, const QRectF& r, const QColor& c)
{
    const qreal w = r.width();
    const qreal h = r.height();
    QPainterPath s;
    s.moveTo(w * 0.06, h * 0.16);
    s.lineTo(w * 0.72, h * 0.16);
    s.lineTo(w * 0.66, h * 0.84);
    s.lineTo(w * 0.12, h * 0.84);
    s.closeSubpath();
    p.setPen(pen(c, h * 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawPath(s);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 6; ++col)
            p.drawEllipse(QPointF(w * (0.16 + 0.07 * col), h * (0.33 + 0.17 * row)), h * 0.045, h * 0.045);
    p.setPen(c);
    p.setFont(font(int(h * 0.34), true));
    p.drawText(QRectF(w * 0.72, 0, w * 0.28, h), Qt::AlignCenter, "DVI");
}

// --- test patterns ------------------------------------------------------

void solid(QPainter& p, const QRectF& r, const QColor& c)
{
    p.fillRect(r, c);
    p.setPen(pen(kDarkGrey, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(1, 1, -1, -1));
}

void colourBars(QPainter& p, const QRectF& r)
{
    const QColor bars[] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green, Qt::magenta, Qt::red, Qt::blue};
    const qreal w = r.width() / 7.0;
    for (int i = 0; i < 7; ++i)
        p.fillRect(QRectF(w * i, 0, w + 1, r.height()), bars[i]);
}

void greyLines(QPainter& p, const QRectF& r, bool vertical)
{
    p.fillRect(r, Qt::black);
    const int n = 25;
    for (int i = 0; i < n; ++i) {
        const int g = 60 + (195 * i) / (n - 1);
        const qreal at = r.width() * (i + 0.5) / n;
        p.setPen(QPen(QColor(g, g, g), 3));
        if (vertical)
            p.drawLine(QPointF(at, 0), QPointF(at, r.height()));
        else
            p.drawLine(QPointF(0, at), QPointF(r.width(), at));
    }
}

// --- routing patterns of the mapping wizard ------------------------------

// The cabinet order of a route over a 3 x 3 screen: (column, row) per step,
// row 0 at the top.
std::vector<QPoint> routeOrder(int route)
{
    const int n = 3;
    // rows: start at the bottom or top; first row's direction; snake or not.
    struct RowRoute { bool rows; bool fromBottomOrRight; bool firstForward; bool snake; };
    // For row routes "forward" is left to right; for column routes top to bottom.
    RowRoute t{};
    switch (route) {
    case 1: t = {true, true, false, true}; break;
    case 2: t = {true, true, true, true}; break;
    case 3: t = {true, false, false, true}; break;
    case 4: t = {true, false, true, true}; break;
    case 5: t = {false, true, false, true}; break;
    case 6: t = {false, true, true, true}; break;
    case 7: t = {false, false, true, true}; break;
    case 8: t = {false, false, false, true}; break;
    case 9: t = {true, true, false, false}; break;
    case 10: t = {true, false, true, false}; break;
    case 11: t = {true, true, true, false}; break;
    case 12: t = {true, false, false, false}; break;
    case 13: t = {false, true, false, false}; break;
    case 14: t = {false, false, true, false}; break;
    case 15: t = {false, false, false, false}; break;
    default: t = {false, true, true, false}; break;
    }
    std::vector<QPoint> order;
    for (int a = 0; a < n; ++a) {
        const bool forward = t.snake ? ((a % 2 == 0) == t.firstForward) : t.firstForward;
        for (int b = 0; b < n; ++b) {
            const int along = forward ? b : n - 1 - b;
            if (t.rows) {
                const int row = t.fromBottomOrRight ? n - 1 - a : a;
                order.emplace_back(along, row);
            } else {
                const int col = t.fromBottomOrRight ? n - 1 - a : a;
                order.emplace_back(col, along);
            }
        }
    }
    return order;
}

void routeIcon(QPainter& p, const QRectF& r, int route)
{
    const qreal s = r.width();
    const qreal cell = s * 0.28;
    const qreal origin = (s - 3 * cell) / 2;
    p.setPen(pen(kDarkGrey, s * 0.02));
    p.setBrush(kTile);
    for (int c = 0; c < 3; ++c)
        for (int rr = 0; rr < 3; ++rr)
            p.drawRect(QRectF(origin + c * cell, origin + rr * cell, cell, cell));
    const std::vector<QPoint> order = routeOrder(route);
    auto centre = [&](const QPoint& q) {
        return QPointF(origin + (q.x() + 0.5) * cell, origin + (q.y() + 0.5) * cell);
    };
    p.setPen(pen(kBlue, s * 0.045));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(centre(order.front()));
    for (size_t i = 1; i < order.size(); ++i)
        path.lineTo(centre(order[i]));
    p.drawPath(path);
    // Start mark and arrow head at the end.
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(centre(order.front()), s * 0.05, s * 0.05);
    const QPointF end = centre(order.back());
    const QPointF before = centre(order[order.size() - 2]);
    const qreal angle = std::atan2(end.y() - before.y(), end.x() - before.x());
    QPainterPath head;
    const qreal len = s * 0.1;
    head.moveTo(end);
    head.lineTo(end - QPointF(len * std::cos(angle - 0.5), len * std::sin(angle - 0.5)));
    head.lineTo(end - QPointF(len * std::cos(angle + 0.5), len * std::sin(angle + 0.5)));
    head.closeSubpath();
    p.setBrush(kBlue);
    p.drawPath(head);
}

// --- mirror modes --------------------------------------------------------

void mirrorIcon(QPainter& p, const QRectF& r, int mode, bool on)
{
    const qreal s = r.width();
    p.setPen(pen(on ? kBlue : kDarkGrey, s * 0.04));
    p.setBrush(on ? QColor(71, 119, 255, 50) : kTile);
    p.drawRoundedRect(r.adjusted(s * 0.04, s * 0.04, -s * 0.04, -s * 0.04), s * 0.12, s * 0.12);
    p.save();
    p.translate(s / 2, s / 2);
    p.scale((mode & 1) ? -1 : 1, (mode & 2) ? -1 : 1);
    p.translate(-s / 2, -s / 2);
    p.setPen(pen(on ? kWhite : kGrey, s * 0.09));
    p.drawLine(QPointF(s * 0.38, s * 0.24), QPointF(s * 0.38, s * 0.76));
    p.drawLine(QPointF(s * 0.38, s * 0.24), QPointF(s * 0.66, s * 0.24));
    p.drawLine(QPointF(s * 0.38, s * 0.48), QPointF(s * 0.6, s * 0.48));
    p.restore();
}

// --- output splicing -----------------------------------------------------

void outBox(QPainter& p, const QRectF& box, const QString& text)
{
    p.setPen(pen(kBlue, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(box);
    p.setPen(kBlue);
    p.setFont(font(int(std::min(box.height() * 0.45, box.width() * 0.28)), true));
    p.drawText(box, Qt::AlignCenter, text);
}

// --- tiles with lettering in four languages ------------------------------

struct Words {
    const char* zh;
    const char* en;
    const char* ru;
    const char* vi;
};

const char* word(const Words& w, int language)
{
    switch (language) {
    case 0: return w.zh;
    case 2: return w.ru;
    case 3: return w.vi;
    default: return w.en;
    }
}

const char* const kPrefix[] = {"", "en_", "ru_", "vn_"};

using IconPainter = std::function<void(QPainter&, const QRectF&)>;

void tile(const QString& base, int w, int h, const Words& words, const IconPainter& icon)
{
    for (int language = 0; language < 4; ++language) {
        draw(kPrefix[language] + base, w, h, [&](QPainter& p, const QRectF& r) {
            p.setPen(pen(kTileEdge, 2));
            p.setBrush(kTile);
            p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 14, 14);
            const qreal iconSize = std::min(w * 0.46, h * 0.46);
            const QRectF iconRect((w - iconSize) / 2, h * 0.1, iconSize, iconSize);
            icon(p, iconRect);
            p.setPen(kWhite);
            const QString text = QString::fromUtf8(word(words, language));
            const QRectF textRect(8, h * 0.1 + iconSize + 4, w - 16, h - (h * 0.1 + iconSize + 4) - 6);
            int size = language == 0 ? 22 : 19;
            QFont f = font(size, true, language);
            // Shrink until the words fit in the space under the icon.
            for (;;) {
                p.setFont(f);
                const QRectF need = p.boundingRect(textRect, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextWordWrap, text);
                if ((need.height() <= textRect.height() && need.width() <= textRect.width()) || size <= 11)
                    break;
                f.setPixelSize(--size);
            }
            p.drawText(textRect, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextWordWrap, text);
        });
    }
}

// Icons of the tiles, drawn into the square r.
void iconInput(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.topLeft());
    p.setPen(pen(kWhite, s * 0.05));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(s * 0.08, s * 0.12, s * 0.84, s * 0.56), s * 0.05, s * 0.05);
    p.drawLine(QPointF(s * 0.5, s * 0.68), QPointF(s * 0.5, s * 0.84));
    p.drawLine(QPointF(s * 0.3, s * 0.86), QPointF(s * 0.7, s * 0.86));
    p.setPen(pen(kBlue, s * 0.07));
    p.drawLine(QPointF(s * 0.28, s * 0.4), QPointF(s * 0.62, s * 0.4));
    p.drawLine(QPointF(s * 0.5, s * 0.28), QPointF(s * 0.64, s * 0.4));
    p.drawLine(QPointF(s * 0.5, s * 0.52), QPointF(s * 0.64, s * 0.4));
    p.restore();
}

void iconModes(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.topLeft());
    for (int i = 2; i >= 0; --i) {
        QPainterPath d;
        const qreal y = s * (0.3 + 0.17 * i);
        d.moveTo(s * 0.5, y - s * 0.16);
        d.lineTo(s * 0.92, y);
        d.lineTo(s * 0.5, y + s * 0.16);
        d.lineTo(s * 0.08, y);
        d.closeSubpath();
        p.setPen(pen(kWhite, s * 0.04));
        p.setBrush(i == 0 ? kBlue : kTile);
        p.drawPath(d);
    }
    p.restore();
}

void iconGear(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.center());
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a0 = (M_PI * i) / teeth;
        const qreal a1 = (M_PI * (i + 1)) / teeth;
        const qreal rad = (i % 2 == 0) ? s * 0.46 : s * 0.36;
        const QPointF p0(rad * std::cos(a0), rad * std::sin(a0));
        const QPointF p1(rad * std::cos(a1), rad * std::sin(a1));
        if (i == 0)
            gear.moveTo(p0);
        else
            gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    gear.addEllipse(QPointF(0, 0), s * 0.16, s * 0.16);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawPath(gear);
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(0, 0), s * 0.09, s * 0.09);
    p.restore();
}

void iconStatus(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.topLeft());
    p.setPen(pen(kWhite, s * 0.05));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(s * 0.06, s * 0.14, s * 0.88, s * 0.72), s * 0.08, s * 0.08);
    p.setPen(pen(kGreen, s * 0.06));
    QPainterPath pulse;
    pulse.moveTo(s * 0.14, s * 0.52);
    pulse.lineTo(s * 0.34, s * 0.52);
    pulse.lineTo(s * 0.44, s * 0.28);
    pulse.lineTo(s * 0.56, s * 0.72);
    pulse.lineTo(s * 0.66, s * 0.52);
    pulse.lineTo(s * 0.86, s * 0.52);
    p.drawPath(pulse);
    p.restore();
}

void iconCrop(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.topLeft());
    p.setPen(pen(kWhite, s * 0.07));
    p.setBrush(Qt::NoBrush);
    QPainterPath a;
    a.moveTo(s * 0.28, s * 0.06);
    a.lineTo(s * 0.28, s * 0.72);
    a.lineTo(s * 0.94, s * 0.72);
    p.drawPath(a);
    QPainterPath b;
    b.moveTo(s * 0.06, s * 0.28);
    b.lineTo(s * 0.72, s * 0.28);
    b.lineTo(s * 0.72, s * 0.94);
    p.setPen(pen(kBlue, s * 0.07));
    p.drawPath(b);
    p.restore();
}

void iconLayout(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.topLeft());
    p.setPen(pen(kWhite, s * 0.05));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(s * 0.06, s * 0.12, s * 0.88, s * 0.76));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#867AE9"));
    p.drawRect(QRectF(s * 0.14, s * 0.2, s * 0.42, s * 0.36));
    p.setBrush(QColor("#39A9CB"));
    p.drawRect(QRectF(s * 0.62, s * 0.2, s * 0.24, s * 0.6));
    p.setBrush(QColor("#EBA83A"));
    p.drawRect(QRectF(s * 0.14, s * 0.62, s * 0.42, s * 0.18));
    p.restore();
}

void iconLedScreen(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.topLeft());
    p.setPen(pen(kWhite, s * 0.05));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(s * 0.06, s * 0.14, s * 0.88, s * 0.64));
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 7; ++x)
            p.drawEllipse(QPointF(s * (0.16 + 0.113 * x), s * (0.24 + 0.147 * y)), s * 0.035, s * 0.035);
    p.setPen(pen(kWhite, s * 0.05));
    p.drawLine(QPointF(s * 0.3, s * 0.9), QPointF(s * 0.7, s * 0.9));
    p.restore();
}

void iconNetwork(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.topLeft());
    p.setPen(pen(kWhite, s * 0.05));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(s * 0.1, s * 0.1, s * 0.8, s * 0.8));
    p.drawEllipse(QRectF(s * 0.32, s * 0.1, s * 0.36, s * 0.8));
    p.drawLine(QPointF(s * 0.1, s * 0.5), QPointF(s * 0.9, s * 0.5));
    p.drawLine(QPointF(s * 0.18, s * 0.3), QPointF(s * 0.82, s * 0.3));
    p.drawLine(QPointF(s * 0.18, s * 0.7), QPointF(s * 0.82, s * 0.7));
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(s * 0.6, s * 0.62, s * 0.36, s * 0.3), s * 0.05, s * 0.05);
    p.setBrush(kWhite);
    p.drawRect(QRectF(s * 0.68, s * 0.7, s * 0.06, s * 0.06));
    p.drawRect(QRectF(s * 0.82, s * 0.7, s * 0.06, s * 0.06));
    p.restore();
}

void iconQuality(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.center());
    p.setPen(pen(kWhite, s * 0.05));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(0, 0), s * 0.24, s * 0.24);
    QPainterPath half;
    half.moveTo(0, -s * 0.24);
    half.arcTo(QRectF(-s * 0.24, -s * 0.24, s * 0.48, s * 0.48), 90, -180);
    half.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawPath(half);
    p.setPen(pen(kWhite, s * 0.05));
    for (int i = 0; i < 8; ++i) {
        const qreal a = M_PI * i / 4;
        p.drawLine(QPointF(s * 0.33 * std::cos(a), s * 0.33 * std::sin(a)),
                   QPointF(s * 0.45 * std::cos(a), s * 0.45 * std::sin(a)));
    }
    p.restore();
}

void iconTestChart(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    const QColor bars[] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green, Qt::magenta, Qt::red, Qt::blue};
    const qreal w = s * 0.84 / 7;
    for (int i = 0; i < 7; ++i)
        p.fillRect(QRectF(r.left() + s * 0.08 + w * i, r.top() + s * 0.16, w + 0.5, s * 0.68), bars[i]);
    p.setPen(pen(kWhite, s * 0.03));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(r.left() + s * 0.08, r.top() + s * 0.16, s * 0.84, s * 0.68));
}

void iconMapping(QPainter& p, const QRectF& r)
{
    p.save();
    p.translate(r.topLeft());
    routeIcon(p, QRectF(0, 0, r.width(), r.height()), 1);
    p.restore();
}

void iconAdvanced(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.topLeft());
    const qreal knobs[] = {0.3, 0.7, 0.45};
    for (int i = 0; i < 3; ++i) {
        const qreal x = s * (0.22 + 0.28 * i);
        p.setPen(pen(kWhite, s * 0.05));
        p.drawLine(QPointF(x, s * 0.1), QPointF(x, s * 0.9));
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(x, s * knobs[i]), s * 0.09, s * 0.09);
    }
    p.restore();
}

void spinnerLogo(QPainter& p, const QRectF& r)
{
    const qreal s = r.height();
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.2, s * 0.2);
    p.setPen(kWhite);
    p.setFont(font(int(s * 0.42), true));
    p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, "K47");
    p.setPen(kWhite);
    p.setFont(font(int(s * 0.34), true));
    p.drawText(QRectF(s * 1.15, 0, r.width() - s * 1.15, s), Qt::AlignLeft | Qt::AlignVCenter, "VIDEO PROCESSOR");
}

void writeQrc()
{
    QFile qrc(g_out + "/k47_resource.qrc");
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "zdr_png_painter: cannot write the resource list\n");
        std::exit(1);
    }
    QTextStream out(&qrc);
    out << "<RCC>\n    <qresource prefix=\"/\">\n";
    for (const QString& name : g_names)
        out << "        <file>png/" << name << "</file>\n";
    out << "    </qresource>\n</RCC>\n";
}

} // namespace

int main(int argc, char** argv)
{
    static const char* const kUsage =
        "usage: zdr_png_painter OUTPUT_FOLDER\n"
        "Draws the pictures of the touch pages into OUTPUT_FOLDER/png and writes\n"
        "their resource list OUTPUT_FOLDER/k47_resource.qrc (the build runs it).\n";
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '\0' || argv[1][0] == '-') {
        std::fprintf(stderr, "zdr_png_painter: %s\n%s",
                     argc != 2 ? "one output folder, nothing else" : "an output folder does not begin with '-'",
                     kUsage);
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_out + "/png")) {
        std::fprintf(stderr, "zdr_png_painter: cannot make %s/png\n", argv[1]);
        return 1;
    }
    // Headless, with Qt's per-user runtime folder inside the output folder.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = g_out + "/.runtime";
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    }
    QGuiApplication app(argc, argv);

    // Page furniture.
    draw("back.png", 64, 64, arrowBack);
    draw("menu.png", 64, 64, menuIcon);
    draw("previous.png", 64, 64, [](QPainter& p, const QRectF& r) { chevron(p, r, false); });
    draw("next.png", 64, 64, [](QPainter& p, const QRectF& r) { chevron(p, r, true); });
    draw("add.png", 64, 64, plusIcon);
    draw("page_change.png", 64, 64, pageChange);
    draw("state_on.png", 28, 28, [](QPainter& p, const QRectF& r) { dot(p, r, kGreen); });
    draw("state_off.png", 28, 28, [](QPainter& p, const QRectF& r) { dot(p, r, kGrey); });
    draw("checked.png", 64, 64, [](QPainter& p, const QRectF& r) { radio(p, r, true); });
    draw("unchecked.png", 64, 64, [](QPainter& p, const QRectF& r) { radio(p, r, false); });
    draw("check_180.png", 180, 180, bigCheck);
    draw("warning.png", 96, 96, warningIcon);
    draw("offline.png", 64, 56, [](QPainter& p, const QRectF& r) { socket(p, r, kGrey); });
    draw("online.png", 64, 56, [](QPainter& p, const QRectF& r) { socket(p, r, kGreen); });
    draw("button_on.png", 140, 64, [](QPainter& p, const QRectF& r) { toggle(p, r, true); });
    draw("button_off.png", 140, 64, [](QPainter& p, const QRectF& r) { toggle(p, r, false); });
    draw("lock.png", 64, 64, [](QPainter& p, const QRectF& r) { lockIcon(p, r, true); });
    draw("unlock.png", 64, 64, [](QPainter& p, const QRectF& r) { lockIcon(p, r, false); });
    draw("logo.png", 360, 60, spinnerLogo);

    // Font marks of the factory page (bitmaps, opaque on the page colour).
    draw("osd_yes.bmp", 32, 32, bigCheck, true);
    draw("osd_no.bmp", 32, 32, crossMark, true);

    // Input connectors: grey without signal, green ("lv") with signal.
    draw("HDMI.png", 126, 48, [](QPainter& p, const QRectF& r) { hdmiConnector(p, r, kGrey, ""); });
    draw("extlv.png", 126, 48, [](QPainter& p, const QRectF& r) { hdmiConnector(p, r, kGreen, ""); });
    draw("HDMI13.png", 126, 48, [](QPainter& p, const QRectF& r) { hdmiConnector(p, r, kGrey, "HD"); });
    draw("HDMI13_lv.png", 126, 48, [](QPainter& p, const QRectF& r) { hdmiConnector(p, r, kGreen, "HD"); });
    draw("HDMI20.png", 126, 48, [](QPainter& p, const QRectF& r) { hdmiConnector(p, r, kGrey, "4K"); });
    draw("HDMI20_lv.png", 126, 48, [](QPainter& p, const QRectF& r) { hdmiConnector(p, r, kGreen, "4K"); });
    draw("DVI.png", 126, 48, [](QPainter& p, const QRectF& r) { dviConnector(p, r, kGrey); });
    draw("dvilv.png", 126, 48, [](QPainter& p, const QRectF& r) { dviConnector(p, r, kGreen); });

    // Test patterns, as the chip shows them.
    draw("img_test1.png", 200, 200, [](QPainter& p, const QRectF& r) { solid(p, r, Qt::red); });
    draw("img_test2.png", 200, 200, [](QPainter& p, const QRectF& r) { solid(p, r, Qt::green); });
    draw("img_test3.png", 200, 200, [](QPainter& p, const QRectF& r) { solid(p, r, Qt::blue); });
    draw("img_test4.png", 200, 200, [](QPainter& p, const QRectF& r) { solid(p, r, Qt::white); });
    draw("img_test5.png", 200, 200, [](QPainter& p, const QRectF& r) { solid(p, r, Qt::black); });
    draw("img_test6.png", 200, 200, colourBars);
    draw("img_test7.png", 200, 200, [](QPainter& p, const QRectF& r) { greyLines(p, r, true); });
    draw("img_test8.png", 200, 200, [](QPainter& p, const QRectF& r) { greyLines(p, r, false); });

    // Receiving-card routes 1 to 16.
    for (int route = 1; route <= 16; ++route)
        draw(QString("line%1.png").arg(route), 96, 96,
             [route](QPainter& p, const QRectF& r) { routeIcon(p, r, route); });

    // Mirror modes 0 to 3 (buttons mirror1 to mirror4).
    for (int m = 0; m < 4; ++m) {
        draw(QString("mirror%1_on.png").arg(m + 1), 96, 96,
             [m](QPainter& p, const QRectF& r) { mirrorIcon(p, r, m, true); });
        draw(QString("mirror%1_off.png").arg(m + 1), 96, 96,
             [m](QPainter& p, const QRectF& r) { mirrorIcon(p, r, m, false); });
    }

    // Splicing of the LED screen over the two outputs.
    draw("out_horizontal.png", 180, 40, [](QPainter& p, const QRectF&) {
        outBox(p, QRectF(3, 3, 84, 34), "OUT1");
        outBox(p, QRectF(93, 3, 84, 34), "OUT2");
    });
    draw("out_vertical.png", 100, 80, [](QPainter& p, const QRectF&) {
        outBox(p, QRectF(3, 3, 94, 35), "OUT1");
        outBox(p, QRectF(3, 42, 94, 35), "OUT2");
    });
    draw("out_copy.png", 100, 40, [](QPainter& p, const QRectF&) { outBox(p, QRectF(3, 3, 94, 34), "OUT1-2"); });

    // Home page tiles.
    tile("home_input.png", 170, 190, {"输入选择", "Input", "Вход", "Nguồn vào"}, iconInput);
    tile("home_mode.png", 170, 190, {"用户模式", "User modes", "Режимы", "Chế độ"}, iconModes);
    tile("home_setting.png", 170, 190, {"设置", "Settings", "Настройки", "Cài đặt"}, iconGear);
    tile("home_state.png", 170, 190, {"设备状态", "Status", "Состояние", "Trạng thái"}, iconStatus);

    // Settings menu buttons.
    tile("option_input_cut.png", 170, 150, {"输入裁剪", "Input crop", "Обрезка входа", "Cắt nguồn vào"}, iconCrop);
    tile("option_image_layout.png", 170, 150, {"窗口布局", "Window layout", "Раскладка окон", "Bố cục cửa sổ"},
         iconLayout);
    tile("option_output_set.png", 170, 150, {"屏幕设置", "LED screen", "LED-экран", "Màn hình LED"}, iconLedScreen);
    tile("option_link_set.png", 170, 150, {"网络与升级", "Network & USB", "Сеть и USB", "Mạng và USB"}, iconNetwork);
    tile("option_image_quality.png", 170, 150, {"画质调节", "Picture quality", "Изображение", "Chất lượng hình"},
         iconQuality);
    tile("option_test_chart.png", 170, 150, {"测试画面", "Test patterns", "Тест-шаблоны", "Mẫu kiểm tra"},
         iconTestChart);
    tile("option_smart_mapping.png", 170, 150, {"智能映射", "Smart mapping", "Умная настройка", "Ánh xạ thông minh"},
         iconMapping);
    tile("option_advanced.png", 170, 150, {"高级设置", "Advanced", "Расширенные", "Nâng cao"}, iconAdvanced);

    writeQrc();
    return 0;
}
