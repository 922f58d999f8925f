#include "displays/gsensor_graph.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace orvik::displays {

namespace {

// Geometry of the plot: the zero line starts at (20, 50), 600 pixels wide, 20 pixels per g, so
// the grid covers +-2 g from y = 10 to y = 90.
constexpr int kOriginX = 20;
constexpr int kOriginY = 50;
constexpr int kGraphWidth = 600;
constexpr float kUnitHeight = 20.0f;
constexpr int kTop = 10;
constexpr int kBottom = 90;

const QColor kBackground(28, 28, 28);
const QColor kAxis(160, 160, 160);
const QColor kGrid(160, 160, 160);
const QColor kXColour(255, 0, 0);
const QColor kYColour(0, 255, 0);
const QColor kZColour(128, 128, 255);
const QColor kCursorColour(255, 255, 255);
const QColor kScaleText(128, 128, 128);

QRect fromEdges(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

QPen thinPen(const QColor& colour) {
    QPen pen(colour);
    pen.setWidth(1);
    pen.setCosmetic(true);
    return pen;
}

// y of a value in g: the product in single precision, truncated toward zero. Absurd values are
// held far outside the widget rather than overflowing.
int valueY(float value) {
    if (!std::isfinite(value)) {
        value = 0.0f;
    }
    const float scaled = std::clamp(value * kUnitHeight, -1.0e6f, 1.0e6f);
    return kOriginY - static_cast<int>(scaled);
}

}  // namespace

GSensorGraph::GSensorGraph(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("gsensorGraph"));
    setProperty("controlId", kControlId);
    setGeometry(kX, kY, kWidth, kHeight);
    // Painted whole from an off-screen image: no background erase, so the 200 ms cursor moves
    // do not flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    readoutFont_ = font();
    readoutFont_.setPixelSize(12);
    scaleFont_ = font();
    scaleFont_.setPixelSize(10);
}

void GSensorGraph::setSamples(const std::vector<recordings::AccelSample>* samples) {
    samples_ = samples;
    reset();
}

void GSensorGraph::reset() {
    const std::size_t n = sampleCount();
    // One more than the sample count, so the whole recording fits on page 0 and the divisor is
    // never 0.
    samplesPerPage_ = static_cast<std::int32_t>(std::min<std::size_t>(n, INT32_MAX - 1) + 1);
    pageCount_ = static_cast<std::int32_t>((n + samplesPerPage_ - 1) / samplesPerPage_);
    setCursor(0);
}

void GSensorGraph::setCursor(std::int32_t index) {
    cursor_ = index;
    pageIndex_ = samplesPerPage_ > 0 ? index / samplesPerPage_ : 0;
    update();
}

void GSensorGraph::setReadoutFont(const QFont& font) {
    readoutFont_ = font;
    update();
}

int GSensorGraph::sampleX(std::int32_t i) const {
    return kOriginX +
           static_cast<int>(static_cast<std::int64_t>(i) * kGraphWidth / samplesPerPage_);
}

int GSensorGraph::cursorX() const {
    const std::int64_t offset = static_cast<std::int64_t>(cursor_) -
                                static_cast<std::int64_t>(pageIndex_) * samplesPerPage_;
    return kOriginX + static_cast<int>(offset * kGraphWidth / samplesPerPage_);
}

QImage GSensorGraph::renderImage() const {
    QImage image(std::max(width(), 1), std::max(height(), 1), QImage::Format_RGB32);
    QPainter painter(&image);
    paintGraph(painter);
    return image;
}

void GSensorGraph::paintEvent(QPaintEvent*) {
    const QImage buffer = renderImage();
    QPainter painter(this);
    painter.drawImage(0, 0, buffer);
}

void GSensorGraph::paintGraph(QPainter& painter) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRect(0, 0, width(), height()), kBackground);

    painter.setPen(thinPen(kAxis));
    painter.drawLine(kOriginX, kOriginY, kOriginX + kGraphWidth, kOriginY);
    painter.drawLine(kOriginX, kTop, kOriginX, kBottom);

    painter.setPen(thinPen(kGrid));
    for (int y : {30, 70, 10, 90}) {
        painter.drawLine(kOriginX, y, kOriginX + kGraphWidth, y);
    }

    painter.setFont(scaleFont_);
    painter.setPen(kScaleText);
    const struct {
        const char* text;
        int top;
    } scale[] = {{"+2", 3}, {"+1", 23}, {" 0", 43}, {"-1", 63}, {"-2", 83}};
    for (const auto& label : scale) {
        painter.drawText(fromEdges(0, label.top, 20, label.top + 14),
                         Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip,
                         QString::fromLatin1(label.text));
    }

    const std::size_t n = sampleCount();
    const std::int64_t first = static_cast<std::int64_t>(pageIndex_) * samplesPerPage_;
    auto drawCurve = [&](const QColor& colour, float recordings::AccelSample::*component) {
        painter.setPen(thinPen(colour));
        QPoint previous(kOriginX, kOriginY);
        for (std::int32_t i = 0; i < samplesPerPage_ && first + i < static_cast<std::int64_t>(n);
             ++i) {
            const auto& sample = (*samples_)[static_cast<std::size_t>(first + i)];
            const QPoint next(sampleX(i), valueY(sample.*component));
            painter.drawLine(previous, next);
            previous = next;
        }
    };
    if (samples_) {
        // A spike past ±2 g stops at the frame instead of running over the scale and readouts.
        painter.save();
        painter.setClipRect(QRect(kOriginX, kTop, kGraphWidth + 1, kBottom - kTop + 1));
        drawCurve(kXColour, &recordings::AccelSample::x);
        drawCurve(kYColour, &recordings::AccelSample::y);
        drawCurve(kZColour, &recordings::AccelSample::z);
        painter.restore();
    }

    painter.setPen(thinPen(kCursorColour));
    const int cx = cursorX();
    painter.drawLine(cx, kTop, cx, kBottom);

    recordings::AccelSample shown;
    if (cursor_ >= 0 && static_cast<std::size_t>(cursor_) < n) {
        shown = (*samples_)[static_cast<std::size_t>(cursor_)];
    }
    painter.setFont(readoutFont_);
    const struct {
        const char* format;
        float value;
        QColor colour;
        int left;
    } readout[] = {{"X=%+.2f", shown.x, kXColour, 20},
                   {"Y=%+.2f", shown.y, kYColour, 220},
                   {"Z=%+.2f", shown.z, kZColour, 420}};
    for (const auto& row : readout) {
        painter.setPen(row.colour);
        painter.drawText(fromEdges(row.left, 105, row.left + 200, 118),
                         Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip,
                         QString::asprintf(row.format, static_cast<double>(row.value)));
    }

    painter.setPen(thinPen(kAxis));
    painter.drawLine(kOriginX, kTop, kOriginX, kBottom);
    painter.restore();
}

}  // namespace orvik::displays
