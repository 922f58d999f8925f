// Paints the viewer's skin bitmaps: a dark, low-glare look for a car dash camera's footage, with
// one blue accent. Run at build time: orvik_paint_skin OUTPUT_FOLDER.
//
// Buttons are opaque bitmaps, so each slice starts from the background under the button's place
// in the window and the glyph is drawn on top; the skin then blends without transparency.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kAccent(0x2e, 0xa8, 0xff);
const QColor kAccentDeep(0x1f, 0x6f, 0xd6);
const QColor kGlyph(0xb9, 0xc5, 0xd1);
const QColor kGlyphHover(0xf2, 0xf6, 0xfa);
const QColor kEdge(0x2b, 0x32, 0x3c);
const QColor kEdgeDark(0x07, 0x09, 0x0b);
const QColor kPanel(0x16, 0x1a, 0x20);
const QColor kStrip(0x18, 0x1c, 0x22);
const QColor kEvent(0xf5, 0xa6, 0x23);
const QColor kPark(0x9b, 0x7b, 0xe6);
const QColor kAlways(0x2e, 0x8f, 0xe6);
const QColor kClose(0xe5, 0x48, 0x4d);

QString g_out;
QString g_family = QStringLiteral("Noto Sans");

QFont font(int px, int weight = QFont::Normal, qreal spacing = 0) {
    QFont f(g_family);
    f.setPixelSize(px);
    f.setWeight(QFont::Weight(weight));
    if (spacing)
        f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

void save(const QImage& img, const char* name) {
    const QString path = g_out + QLatin1Char('/') + QLatin1String(name);
    QImage out = QString::fromLatin1(name).endsWith(QLatin1String(".png"))
                     ? img
                     : img.convertToFormat(QImage::Format_RGB888);
    if (!out.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

QImage canvas(int w, int h, QColor fill = Qt::black) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(fill);
    return img;
}

// ---- the background ----------------------------------------------------------------------------

QColor baseAt(int y, int height) {
    const double t = double(y) / std::max(1, height - 1);
    auto mix = [t](int a, int b) { return int(a + (b - a) * t); };
    return QColor(mix(0x17, 0x0b), mix(0x1b, 0x0d), mix(0x21, 0x11));
}

void fillBase(QPainter& p, int w, int h) {
    for (int y = 0; y < h; ++y)
        p.fillRect(0, y, w, 1, baseAt(y, 645));
}

void panelFrame(QPainter& p, QRectF r, qreal radius, QColor fill, bool inset = false) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // Soft drop shadow below, a hairline rim, a faint top highlight.
    for (int i = 3; i >= 1; --i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 28));
        p.drawRoundedRect(r.adjusted(-i, -i + 1, i, i + 1), radius + i, radius + i);
    }
    p.setBrush(fill);
    p.setPen(QPen(inset ? kEdgeDark : kEdge, 1));
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    if (!inset) {
        p.setPen(QPen(QColor(255, 255, 255, 14), 1));
        p.drawLine(QPointF(r.left() + radius, r.top() + 1.5),
                   QPointF(r.right() - radius, r.top() + 1.5));
    }
    p.restore();
}

void videoWell(QPainter& p, QRect pane) {
    // A recessed well one pixel around a video pane.
    panelFrame(p, QRectF(pane.adjusted(-3, -3, 3, 3)), 4, QColor(0x05, 0x06, 0x08), true);
}

QImage paintBackground() {
    QImage img = canvas(1021, 645);
    QPainter p(&img);
    fillBase(p, 1021, 645);
    p.setRenderHint(QPainter::Antialiasing);

    // Caption bar with a hairline below.
    QLinearGradient bar(0, 0, 0, 50);
    bar.setColorAt(0, QColor(0x1e, 0x23, 0x2b));
    bar.setColorAt(1, QColor(0x15, 0x19, 0x1f));
    p.fillRect(0, 0, 1021, 50, bar);
    p.fillRect(0, 50, 1021, 1, QColor(0x0a, 0x0c, 0x0f));
    p.fillRect(0, 51, 1021, 1, QColor(0x25, 0x2b, 0x33));
    // A thin accent line at the very top, brightest in the middle.
    QLinearGradient top(0, 0, 1021, 0);
    top.setColorAt(0, QColor(46, 168, 255, 0));
    top.setColorAt(0.5, QColor(46, 168, 255, 200));
    top.setColorAt(1, QColor(46, 168, 255, 0));
    p.fillRect(0, 0, 1021, 2, top);
    // Separator between the tool buttons and the title.
    p.fillRect(121, 12, 1, 30, QColor(0x2a, 0x31, 0x3a));

    // Left column: front video, G-sensor graph, transport strip.
    videoWell(p, QRect(15, 56, 646, 363));
    panelFrame(p, QRectF(12, 422, 652, 136), 5, QColor(0x0f, 0x12, 0x16), true);
    panelFrame(p, QRectF(12, 561, 652, 74), 6, kStrip);
    // Seek groove is drawn by the slider; a faint track line under it keeps the strip tidy.
    // Speed and zoom pills.
    auto pill = [&p](QRectF r) {
        p.setPen(QPen(QColor(0x0a, 0x0c, 0x0f), 1));
        p.setBrush(QColor(0x11, 0x14, 0x19));
        p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    };
    pill(QRectF(137.5, 602.5, 69, 25));
    pill(QRectF(220.5, 602.5, 75, 25));
    // Transport group plate behind rewind / play / forward.
    pill(QRectF(56.5, 601.5, 79, 29));
    // Plate behind the previous / next event buttons.
    pill(QRectF(314.5, 601.5, 56, 29));
    // Speaker glyph before the volume slider.
    {
        QPainterPath spk;
        spk.moveTo(577, 601.5);
        spk.lineTo(580, 601.5);
        spk.lineTo(584.5, 597.5);
        spk.lineTo(584.5, 611.5);
        spk.lineTo(580, 607.5);
        spk.lineTo(577, 607.5);
        spk.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x8d, 0x9a, 0xa8));
        p.drawPath(spk);
        p.setPen(QPen(QColor(0x8d, 0x9a, 0xa8), 1.3, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(584, 600, 5, 9), -60 * 16, 120 * 16);
        p.drawArc(QRectF(584, 597.5, 8.5, 14), -60 * 16, 120 * 16);
    }
    // Divider between the playback controls and the view controls.
    p.fillRect(305, 604, 1, 22, QColor(0x2a, 0x31, 0x3a));
    p.fillRect(470, 604, 1, 22, QColor(0x2a, 0x31, 0x3a));

    // Right column: tab row, list / map card, information band, rear video.
    panelFrame(p, QRectF(674, 83, 334, 302), 3, QColor(0x12, 0x15, 0x1a), true);
    videoWell(p, QRect(678, 384, 326, 246));
    return img;
}

QImage crop(const QImage& bg, QRect r) {
    QImage c = canvas(r.width(), r.height());
    QPainter p(&c);
    p.drawImage(QPoint(0, 0), bg, r);
    return c;
}

// ---- glyphs ------------------------------------------------------------------------------------

using Glyph = std::function<void(QPainter&, QRectF box, QColor colour)>;

void strokeStyle(QPainter& p, QColor c, qreal w) {
    p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
}

void glyphFolder(QPainter& p, QRectF b, QColor c) {
    const QPointF o = b.center();
    QPainterPath path;
    path.moveTo(o + QPointF(-11, -7));
    path.lineTo(o + QPointF(-4, -7));
    path.lineTo(o + QPointF(-2, -4.5));
    path.lineTo(o + QPointF(11, -4.5));
    path.lineTo(o + QPointF(11, 8));
    path.lineTo(o + QPointF(-11, 8));
    path.closeSubpath();
    strokeStyle(p, c, 1.8);
    p.drawPath(path);
    p.drawLine(o + QPointF(-11, -1), o + QPointF(11, -1));
}

void glyphGear(QPainter& p, QRectF b, QColor c) {
    const QPointF o = b.center();
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const double a0 = (i * M_PI) / teeth, a1 = ((i + 1) * M_PI) / teeth;
        const double r = (i % 2 == 0) ? 11.0 : 8.5;
        QPointF p0 = o + QPointF(std::cos(a0 + 0.06) * r, std::sin(a0 + 0.06) * r);
        QPointF p1 = o + QPointF(std::cos(a1 - 0.06) * r, std::sin(a1 - 0.06) * r);
        if (i == 0)
            gear.moveTo(p0);
        else
            gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    strokeStyle(p, c, 1.7);
    p.drawPath(gear);
    p.drawEllipse(o, 3.6, 3.6);
}

void glyphClock(QPainter& p, QRectF b, QColor c) {
    const QPointF o = b.center();
    strokeStyle(p, c, 1.8);
    p.drawEllipse(o, 10, 10);
    p.drawLine(o, o + QPointF(0, -6));
    p.drawLine(o, o + QPointF(4.5, 2.5));
}

void glyphCamera(QPainter& p, QRectF b, QColor c) {
    const QPointF o = b.center();
    strokeStyle(p, c, 1.8);
    p.drawRoundedRect(QRectF(o.x() - 11, o.y() - 6, 22, 15), 3, 3);
    p.drawRect(QRectF(o.x() - 4, o.y() - 9, 8, 3));
    p.drawEllipse(o + QPointF(0, 1.5), 4.5, 4.5);
}

void glyphMinimize(QPainter& p, QRectF b, QColor c) {
    strokeStyle(p, c, 1.6);
    const QPointF o = b.center();
    p.drawLine(o + QPointF(-5.5, 4), o + QPointF(5.5, 4));
}

void glyphMaximize(QPainter& p, QRectF b, QColor c) {
    strokeStyle(p, c, 1.5);
    const QPointF o = b.center();
    p.drawRect(QRectF(o.x() - 5.5, o.y() - 5, 11, 10));
}

void glyphClose(QPainter& p, QRectF b, QColor c) {
    strokeStyle(p, c, 1.6);
    const QPointF o = b.center();
    p.drawLine(o + QPointF(-5, -5), o + QPointF(5, 5));
    p.drawLine(o + QPointF(5, -5), o + QPointF(-5, 5));
}

void glyphPlay(QPainter& p, QRectF b, QColor c) {
    const QPointF o = b.center();
    QPainterPath t;
    t.moveTo(o + QPointF(-3.5, -6));
    t.lineTo(o + QPointF(6, 0));
    t.lineTo(o + QPointF(-3.5, 6));
    t.closeSubpath();
    p.setPen(QPen(c, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(c);
    p.drawPath(t);
}

void glyphPause(QPainter& p, QRectF b, QColor c) {
    const QPointF o = b.center();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(o.x() - 5, o.y() - 6, 3.6, 12), 1, 1);
    p.drawRoundedRect(QRectF(o.x() + 1.4, o.y() - 6, 3.6, 12), 1, 1);
}

void glyphSkip(QPainter& p, QRectF b, QColor c, bool forward) {
    const QPointF o = b.center();
    const double s = forward ? 1 : -1;
    p.setPen(QPen(c, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(c);
    for (double dx : {-5.0, 1.0}) {
        QPainterPath t;
        t.moveTo(o + QPointF(s * dx, -5));
        t.lineTo(o + QPointF(s * (dx + 5.5), 0));
        t.lineTo(o + QPointF(s * dx, 5));
        t.closeSubpath();
        p.drawPath(t);
    }
}

// Jump to an event: the event list icon's lightning bolt with a chevron on the side it goes to.
void glyphEventJump(QPainter& p, QRectF b, QColor c, bool forward) {
    const QPointF o = b.center() + QPointF(forward ? -2.5 : 2.5, 0);
    QPainterPath bolt;
    bolt.moveTo(o + QPointF(1.5, -6));
    bolt.lineTo(o + QPointF(-3.5, 1));
    bolt.lineTo(o + QPointF(-0.2, 1));
    bolt.lineTo(o + QPointF(-1.8, 6.5));
    bolt.lineTo(o + QPointF(3.8, -1.2));
    bolt.lineTo(o + QPointF(0.6, -1.2));
    bolt.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(bolt);
    const double s = forward ? 1 : -1;
    const QPointF tip = b.center() + QPointF(s * 7.5, 0);
    strokeStyle(p, c, 1.6);
    p.drawPolyline(QPolygonF({tip + QPointF(-s * 3, -3.5), tip, tip + QPointF(-s * 3, 3.5)}));
}

void glyphSwap(QPainter& p, QRectF b, QColor c) {
    const QPointF o = b.center();
    strokeStyle(p, c, 1.7);
    p.drawLine(o + QPointF(-8, -3.5), o + QPointF(8, -3.5));
    p.drawLine(o + QPointF(4.5, -7), o + QPointF(8, -3.5));
    p.drawLine(o + QPointF(4.5, 0), o + QPointF(8, -3.5));
    p.drawLine(o + QPointF(8, 4), o + QPointF(-8, 4));
    p.drawLine(o + QPointF(-4.5, 0.5), o + QPointF(-8, 4));
    p.drawLine(o + QPointF(-4.5, 7.5), o + QPointF(-8, 4));
}

void glyphFullScreen(QPainter& p, QRectF b, QColor c) {
    const QPointF o = b.center();
    strokeStyle(p, c, 1.7);
    const double w = 8.5, h = 6.5, k = 4;
    for (int sx : {-1, 1})
        for (int sy : {-1, 1}) {
            const QPointF corner = o + QPointF(sx * w, sy * h);
            p.drawLine(corner, corner - QPointF(sx * k, 0));
            p.drawLine(corner, corner - QPointF(0, sy * k));
        }
}

void glyphPlusMinus(QPainter& p, QRectF b, QColor c, bool plus) {
    const QPointF o = b.center();
    strokeStyle(p, c, 1.6);
    p.drawLine(o + QPointF(-3.5, 0), o + QPointF(3.5, 0));
    if (plus)
        p.drawLine(o + QPointF(0, -3.5), o + QPointF(0, 3.5));
}

void glyphMagnifier(QPainter& p, QRectF b, QColor c, bool plus) {
    const QPointF o = b.center() + QPointF(-1, -1);
    strokeStyle(p, c, 1.4);
    p.drawEllipse(o, 4.5, 4.5);
    p.drawLine(o + QPointF(3.4, 3.4), o + QPointF(6.5, 6.5));
    p.setPen(QPen(c, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(o + QPointF(-2.2, 0), o + QPointF(2.2, 0));
    if (plus)
        p.drawLine(o + QPointF(0, -2.2), o + QPointF(0, 2.2));
}

enum class Plate { None, Round, Square, Pill };

// Three slices: normal, hover, pressed.
QImage button3(const QImage& bg, QRect place, const Glyph& glyph, Plate plate, bool danger = false,
               bool accentNormal = false) {
    const int w = place.width(), h = place.height();
    QImage img = canvas(w * 3, h);
    QPainter p(&img);
    for (int i = 0; i < 3; ++i) {
        p.drawImage(QPoint(i * w, 0), crop(bg, place));
        p.save();
        p.translate(i * w, 0);
        p.setRenderHint(QPainter::Antialiasing);
        QRectF box(0, 0, w, h);
        if (i > 0 && plate != Plate::None) {
            QRectF r = box.adjusted(2, 2, -2, -2);
            if (plate == Plate::Round) {
                const double d = std::min(r.width(), r.height());
                r = QRectF(r.center().x() - d / 2, r.center().y() - d / 2, d, d);
            }
            const qreal radius = plate == Plate::Square ? 5 : std::min(r.width(), r.height()) / 2;
            QColor fill = danger ? kClose : QColor(255, 255, 255, i == 1 ? 22 : 10);
            if (danger && i == 2)
                fill = fill.darker(125);
            if (!danger && i == 2)
                fill = QColor(46, 168, 255, 40);
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            p.drawRoundedRect(r, radius, radius);
        }
        QColor c = i == 0 ? (accentNormal ? kAccent : kGlyph)
                          : (danger   ? Qt::white
                             : i == 1 ? kGlyphHover
                                      : kAccent);
        if (i == 2)
            p.translate(0, 1);
        glyph(p, box, c);
        p.restore();
    }
    return img;
}

// ---- the bitmaps -------------------------------------------------------------------------------

QImage paintTitle(const QImage& bg) {
    QImage img = crop(bg, QRect(285, 0, 452, 44));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // Lens mark: two rings and a glint.
    const QPointF lens(166, 25);
    QRadialGradient glow(lens, 14);
    glow.setColorAt(0, QColor(46, 168, 255, 90));
    glow.setColorAt(1, QColor(46, 168, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(lens, 14, 14);
    p.setPen(QPen(kAccent, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(lens, 8.5, 8.5);
    p.setPen(QPen(QColor(0xd6, 0xe6, 0xf5), 1.4));
    p.drawEllipse(lens, 3.6, 3.6);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(lens + QPointF(-3.5, -3.5), 1.2, 1.2);

    p.setFont(font(22, QFont::Bold, 5));
    p.setPen(QColor(0xee, 0xf3, 0xf8));
    p.drawText(QRectF(184, 6, 200, 34), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("ORVIK"));
    p.setFont(font(9, QFont::DemiBold, 2.2));
    p.setPen(QColor(0x7f, 0x8c, 0x99));
    p.drawText(QRectF(120, 0, 212, 12), Qt::AlignHCenter | Qt::AlignBottom, QString());
    return img;
}

QImage paintPanel(const QImage& bg) {
    QImage img = crop(bg, QRect(678, 323, 326, 61));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 61);
    g.setColorAt(0, QColor(0x1c, 0x21, 0x28));
    g.setColorAt(1, QColor(0x13, 0x17, 0x1c));
    p.setPen(QPen(kEdge, 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 325, 60), 4, 4);
    // Speed gauge glyph on the left.
    const QPointF gauge(14, 31);
    p.setPen(QPen(QColor(0x5d, 0x6a, 0x78), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(gauge.x() - 9, gauge.y() - 9, 18, 18), -30 * 16, 240 * 16);
    p.setPen(QPen(kAccent, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(gauge.x() - 9, gauge.y() - 9, 18, 18), 90 * 16, 120 * 16);
    p.drawLine(gauge, gauge + QPointF(5, -4.5));
    // Divider between speed and the GPS figures.
    p.fillRect(QRectF(136, 10, 1, 41), QColor(0x2a, 0x31, 0x3a));
    // Precision (crosshair) and satellites, with short captions.
    p.setFont(font(10, QFont::DemiBold, 1.2));
    auto caption = [&](qreal y, const QString& text) {
        p.setPen(QColor(0x7f, 0x8c, 0x99));
        p.drawText(QRectF(170, y - 8, 60, 16), Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    const QPointF cross(156, 17);
    p.setPen(QPen(kAccent, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(cross, 5.5, 5.5);
    p.drawLine(cross + QPointF(-8, 0), cross + QPointF(-3, 0));
    p.drawLine(cross + QPointF(3, 0), cross + QPointF(8, 0));
    p.drawLine(cross + QPointF(0, -8), cross + QPointF(0, -3));
    p.drawLine(cross + QPointF(0, 3), cross + QPointF(0, 8));
    caption(17, QStringLiteral("HDOP"));
    const QPointF sat(156, 44);
    p.save();
    p.translate(sat);
    p.rotate(-35);
    p.setPen(QPen(kAccent, 1.4));
    p.drawRect(QRectF(-2.5, -2.5, 5, 5));
    p.drawRect(QRectF(-9, -2, 5, 4));
    p.drawRect(QRectF(4, -2, 5, 4));
    p.restore();
    caption(44, QStringLiteral("SAT"));
    // Readout wells (the values are drawn by the readouts).
    p.setPen(QPen(QColor(0x0a, 0x0c, 0x0f), 1));
    p.setBrush(QColor(0x0f, 0x12, 0x16));
    p.drawRoundedRect(QRectF(233.5, 5.5, 72, 23), 4, 4);
    p.drawRoundedRect(QRectF(233.5, 32.5, 72, 23), 4, 4);
    return img;
}

QImage paintVideoPicture(int w, int h, const QString& label, bool large) {
    QImage img = canvas(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(w / 2.0, h * 0.42), w * 0.75);
    g.setColorAt(0, QColor(0x1a, 0x1f, 0x26));
    g.setColorAt(1, QColor(0x06, 0x07, 0x09));
    p.fillRect(img.rect(), g);
    // Perspective road lines toward a vanishing point: the camera's view, suggested.
    const QPointF vp(w / 2.0, h * 0.44);
    p.setPen(QPen(QColor(255, 255, 255, 12), 1));
    for (int i = -6; i <= 6; ++i)
        p.drawLine(vp, QPointF(w / 2.0 + i * w * 0.22, h));
    for (int k = 1; k <= 6; ++k) {
        const double y = vp.y() + (h - vp.y()) * std::pow(k / 6.0, 2.0);
        p.drawLine(QPointF(0, y), QPointF(w, y));
    }
    // Lens badge and channel label.
    const double r = large ? 30 : 18;
    const QPointF c(w / 2.0, h / 2.0 - (large ? 14 : 10));
    p.setPen(QPen(QColor(46, 168, 255, 170), large ? 2.5 : 2));
    p.setBrush(QColor(0x0b, 0x0e, 0x12, 220));
    p.drawEllipse(c, r, r);
    p.setPen(QPen(QColor(0xc8, 0xd4, 0xe0, 200), large ? 2 : 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r * 0.45, r * 0.45);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(c + QPointF(-r * 0.22, -r * 0.22), r * 0.09, r * 0.09);
    p.setFont(font(large ? 15 : 11, QFont::DemiBold, large ? 6 : 4));
    p.setPen(QColor(0x9d, 0xab, 0xb9));
    p.drawText(QRectF(0, c.y() + r + 8, w, 24), Qt::AlignHCenter | Qt::AlignTop, label);
    return img;
}

QImage paintTab(const QImage& bg, QRect place, int iconKind) {
    const int w = place.width(), h = place.height();
    QImage img = canvas(w * 2, h);
    QPainter p(&img);
    for (int i = 0; i < 2; ++i) {
        p.drawImage(QPoint(i * w, 0), crop(bg, place));
        p.save();
        p.translate(i * w, 0);
        p.setRenderHint(QPainter::Antialiasing);
        const bool selected = i == 1;
        QPainterPath shape;
        shape.addRoundedRect(QRectF(1.5, 2.5, w - 3, h + 6), 5, 5);
        QLinearGradient g(0, 0, 0, h);
        g.setColorAt(0, selected ? QColor(0x25, 0x2c, 0x35) : QColor(0x19, 0x1d, 0x23));
        g.setColorAt(1, selected ? QColor(0x1b, 0x20, 0x27) : QColor(0x15, 0x18, 0x1d));
        p.setClipRect(QRect(0, 0, w, h));
        p.setPen(QPen(selected ? QColor(0x34, 0x3d, 0x48) : kEdge, 1));
        p.setBrush(g);
        p.drawPath(shape);
        if (selected) {
            QLinearGradient a(0, 0, w, 0);
            a.setColorAt(0, QColor(46, 168, 255, 0));
            a.setColorAt(0.5, kAccent);
            a.setColorAt(1, QColor(46, 168, 255, 0));
            p.fillRect(QRectF(8, h - 2, w - 16, 2), a);
        }
        const QColor c = selected ? kAccent : QColor(0x6f, 0x7b, 0x88);
        const QRectF icon(10, 5, 20, 20);
        if (iconKind == 0) {
            // List rows.
            strokeStyle(p, c, 1.6);
            for (int r = 0; r < 3; ++r) {
                const double y = icon.top() + 5 + r * 5;
                p.drawLine(QPointF(icon.left() + 3, y), QPointF(icon.left() + 4, y));
                p.drawLine(QPointF(icon.left() + 7, y), QPointF(icon.right() - 3, y));
            }
        } else {
            // Map pin.
            QPainterPath pin;
            const QPointF o = icon.center() + QPointF(0, -2);
            pin.moveTo(o + QPointF(0, 9));
            pin.cubicTo(o + QPointF(-8, 0), o + QPointF(-6, -7), o + QPointF(0, -7));
            pin.cubicTo(o + QPointF(6, -7), o + QPointF(8, 0), o + QPointF(0, 9));
            strokeStyle(p, c, 1.6);
            p.drawPath(pin);
            p.drawEllipse(o + QPointF(0, -1), 2.2, 2.2);
        }
        p.restore();
    }
    return img;
}

QImage paintListIcons() {
    QImage img = canvas(6 * 53, 16, QColor(0xFF, 0x00, 0xFF));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor kinds[3] = {kAlways, kEvent, kPark};
    for (int i = 0; i < 6; ++i) {
        const int kind = i % 3;
        const bool front = i < 3;
        p.save();
        p.translate(i * 53, 0);
        // Badge: kind colour with its glyph, then the channel in a dark cap.
        QPainterPath badge;
        badge.addRoundedRect(QRectF(0.5, 1.5, 43, 13), 6.5, 6.5);
        p.setPen(Qt::NoPen);
        p.setBrush(kinds[kind]);
        p.drawPath(badge);
        p.setClipPath(badge);
        p.setBrush(QColor(0x1a, 0x1f, 0x26));
        p.drawRect(QRectF(27, 0, 26, 16));
        p.setClipping(false);
        const QColor ink = kind == 1 ? QColor(0x22, 0x18, 0x05) : Qt::white;
        p.setPen(QPen(ink, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        const QPointF o(13.5, 8);
        if (kind == 0) {
            // Continuous: a loop.
            p.drawArc(QRectF(o.x() - 9, o.y() - 3.5, 8, 7), 30 * 16, 300 * 16);
            p.drawArc(QRectF(o.x() + 1, o.y() - 3.5, 8, 7), -150 * 16, 300 * 16);
        } else if (kind == 1) {
            // Event: a lightning bolt.
            QPainterPath bolt;
            bolt.moveTo(o + QPointF(1.5, -5));
            bolt.lineTo(o + QPointF(-3, 1));
            bolt.lineTo(o + QPointF(0, 1));
            bolt.lineTo(o + QPointF(-1.5, 5.5));
            bolt.lineTo(o + QPointF(3.5, -1));
            bolt.lineTo(o + QPointF(0.5, -1));
            bolt.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(ink);
            p.drawPath(bolt);
        } else {
            p.setFont(font(11, QFont::Black));
            p.drawText(QRectF(o.x() - 8, 0, 16, 16), Qt::AlignCenter, QStringLiteral("P"));
        }
        p.setFont(font(10, QFont::Bold));
        p.setPen(front ? QColor(0xe8, 0xf1, 0xfa) : QColor(0xb6, 0xc2, 0xce));
        p.drawText(QRectF(27, 0, 16.5, 16), Qt::AlignCenter,
                   front ? QStringLiteral("F") : QStringLiteral("R"));
        p.restore();
    }
    // The mask colour must stay exact where nothing was drawn: antialiased edges are flattened
    // to either the badge or the mask.
    QImage out = img.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QColor c(line[x]);
            if (c.red() > 200 && c.blue() > 200 && c.green() < 90)
                line[x] = qRgb(255, 0, 255);
            else if (c.red() > 150 && c.blue() > 150 && c.green() < 110)
                line[x] = qRgb(0x40, 0x30, 0x50);
        }
    }
    return out;
}

QImage paintThumb() {
    QImage img = canvas(13, 13, QColor(0xFF, 0x00, 0xFF));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Drawn without antialiasing so the magenta key stays clean at the rim.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0a, 0x0c, 0x10));
    p.drawEllipse(QRect(0, 0, 13, 13));
    p.setBrush(QColor(0xf3, 0xf7, 0xfb));
    p.drawEllipse(QRect(1, 1, 11, 11));
    p.setBrush(kAccent);
    p.drawEllipse(QRect(4, 4, 5, 5));
    return img;
}

QImage paintProgress() {
    QImage img = canvas(595, 8);
    QPainter p(&img);
    QLinearGradient g(0, 0, 595, 0);
    g.setColorAt(0, kAccentDeep);
    g.setColorAt(1, kAccent);
    p.fillRect(img.rect(), g);
    QLinearGradient shine(0, 0, 0, 8);
    shine.setColorAt(0, QColor(255, 255, 255, 60));
    shine.setColorAt(0.5, QColor(255, 255, 255, 0));
    p.fillRect(img.rect(), shine);
    return img;
}

QImage paintStretch() {
    QImage img = canvas(1, 645);
    QPainter p(&img);
    fillBase(p, 1, 645);
    return img;
}

QImage paintControlPanel() {
    QImage img = canvas(656, 90);
    QPainter p(&img);
    fillBase(p, 656, 645);
    // Match the bottom of the stretched background.
    for (int y = 0; y < 90; ++y)
        p.fillRect(0, y, 656, 1, baseAt(555 + y, 645));
    panelFrame(p, QRectF(4, 8, 648, 80), 8, kStrip);
    return img;
}

QImage paintWindowIcon() {
    QImage img(64, 64, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, QColor(0x25, 0x2c, 0x35));
    g.setColorAt(1, QColor(0x10, 0x13, 0x18));
    p.setPen(QPen(QColor(0x3a, 0x44, 0x50), 1.5));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(3, 3, 58, 58), 14, 14);
    const QPointF c(32, 32);
    p.setPen(QPen(kAccent, 5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 17, 17);
    p.setPen(QPen(QColor(0xdc, 0xe8, 0xf4), 3));
    p.drawEllipse(c, 7.5, 7.5);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(c + QPointF(-7, -7), 2.5, 2.5);
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: orvik_paint_skin OUTPUT_FOLDER\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    for (const char* f : {"Noto Sans", "Noto Sans CJK KR", "DejaVu Sans"})
        if (QFont(QString::fromLatin1(f)).exactMatch()) {
            g_family = QString::fromLatin1(f);
            break;
        }

    const QImage bg = paintBackground();
    save(bg, "background.bmp");
    save(paintTitle(bg), "ci.bmp");
    save(paintPanel(bg), "panel.bmp");

    using namespace std::placeholders;
    auto skip = [](bool fwd) {
        return [fwd](QPainter& p, QRectF b, QColor c) { glyphSkip(p, b, c, fwd); };
    };
    auto pm = [](bool plus) {
        return [plus](QPainter& p, QRectF b, QColor c) { glyphPlusMinus(p, b, c, plus); };
    };
    auto mag = [](bool plus) {
        return [plus](QPainter& p, QRectF b, QColor c) { glyphMagnifier(p, b, c, plus); };
    };

    save(button3(bg, {969, 5, 35, 33}, glyphClose, Plate::Square, true), "close.bmp");
    save(button3(bg, {906, 5, 31, 33}, glyphMinimize, Plate::Square), "minimize.bmp");
    save(button3(bg, {936, 5, 32, 33}, glyphMaximize, Plate::Square), "maximize.bmp");
    save(button3(bg, {7, 5, 56, 47}, glyphFolder, Plate::Square), "open.bmp");
    save(button3(bg, {63, 5, 54, 47}, glyphGear, Plate::Square), "configuration.bmp");
    save(button3(bg, {171, 5, 54, 47}, glyphClock, Plate::Square), "clock.bmp");
    save(button3(bg, {117, 5, 54, 47}, glyphCamera, Plate::Square), "snapshot.bmp");
    save(button3(bg, {519, 594, 39, 33}, glyphFullScreen, Plate::Square), "fullscreen.bmp");
    save(button3(bg, {481, 594, 39, 33}, glyphSwap, Plate::Square), "swap.bmp");
    save(button3(bg, {61, 603, 23, 26}, skip(false), Plate::Round), "rewind.bmp");
    save(button3(bg, {84, 603, 23, 26}, glyphPlay, Plate::Round, false, true), "play.bmp");
    save(button3(bg, {84, 603, 23, 26}, glyphPause, Plate::Round, false, true), "pause.bmp");
    save(button3(bg, {107, 603, 23, 26}, skip(true), Plate::Round), "fastforward.bmp");
    auto eventJump = [](bool fwd) {
        return [fwd](QPainter& p, QRectF b, QColor c) { glyphEventJump(p, b, c, fwd); };
    };
    save(button3(bg, {318, 603, 23, 26}, eventJump(false), Plate::Round), "prevevent.bmp");
    save(button3(bg, {343, 603, 23, 26}, eventJump(true), Plate::Round), "nextevent.bmp");
    save(button3(bg, {186, 605, 16, 20}, pm(true), Plate::Round), "speedplus.bmp");
    save(button3(bg, {141, 605, 16, 20}, pm(false), Plate::Round), "speedminus.bmp");
    save(button3(bg, {275, 605, 16, 20}, mag(true), Plate::Round), "zoomin.bmp");
    save(button3(bg, {224, 605, 16, 20}, mag(false), Plate::Round), "zoomout.bmp");
    save(paintTab(bg, {674, 54, 167, 29}, 0), "record.bmp");
    save(paintTab(bg, {841, 54, 167, 29}, 1), "information.bmp");

    save(paintVideoPicture(646, 363, QStringLiteral("FRONT"), true), "front.bmp");
    save(paintVideoPicture(326, 246, QStringLiteral("REAR"), false), "rear.bmp");
    save(paintThumb(), "thumb.bmp");
    save(paintProgress(), "progress.bmp");
    save(paintStretch(), "stretch_bg.bmp");
    save(paintControlPanel(), "controlpanel.bmp");
    save(paintListIcons(), "listicons.bmp");
    save(paintWindowIcon(), "orvik.png");
    return 0;
}
