#include "shell/skin.h"

#include <QBitmap>
#include <QEnterEvent>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>

#include "platform/strings.h"
#include "ui_common/dialog_look.h"

// The skin bitmaps live in a static library, so their resource must be registered by hand.
static void registerSkinResources() {
    Q_INIT_RESOURCE(skin);
}

namespace orvik::shell {

// ---- SkinImage ---------------------------------------------------------------------------------

void SkinImage::load() const {
    if (loaded_)
        return;
    loaded_ = true;
    QImage image(QStringLiteral(":/skin/") + name_);
    if (image.isNull() || image.width() == 0 || image.height() == 0)
        return;
    pixmap_ = QPixmap::fromImage(image);
    if (transparent_) {
        // Magenta marks see-through pixels, as in an image list with a mask.
        QImage withAlpha = image.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = *transparent_ & 0xFFFFFF;
        for (int y = 0; y < withAlpha.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(withAlpha.scanLine(y));
            for (int x = 0; x < withAlpha.width(); ++x)
                if ((line[x] & 0xFFFFFF) == key)
                    line[x] = 0;
        }
        pixmap_ = QPixmap::fromImage(withAlpha);
    }
    if (slices_ >= 1) {
        const int w = pixmap_.width() / slices_;
        if (w <= 0) {
            pixmap_ = QPixmap();
            return;
        }
        for (int i = 0; i < slices_; ++i)
            pieces_.push_back(pixmap_.copy(i * w, 0, w, pixmap_.height()));
    }
}

bool SkinImage::isNull() const {
    load();
    return pixmap_.isNull();
}

QSize SkinImage::size() const {
    load();
    return pixmap_.size();
}

QSize SkinImage::sliceSize() const {
    load();
    if (pixmap_.isNull())
        return {};
    return slices_ >= 1 ? QSize(pixmap_.width() / slices_, pixmap_.height()) : pixmap_.size();
}

void SkinImage::draw(QPainter& p, QPoint at) const {
    load();
    if (!pixmap_.isNull())
        p.drawPixmap(at, pixmap_);
}

void SkinImage::drawStretched(QPainter& p, const QRect& target) const {
    load();
    if (!pixmap_.isNull())
        p.drawPixmap(target, pixmap_);
}

void SkinImage::drawSlice(QPainter& p, int index, QPoint at) const {
    load();
    if (index >= 0 && index < static_cast<int>(pieces_.size()))
        p.drawPixmap(at, pieces_[index]);
}

QPixmap SkinImage::slice(int index) const {
    load();
    if (index == -1)
        return pixmap_;  // the whole bitmap
    if (index >= 0 && index < static_cast<int>(pieces_.size()))
        return pieces_[index];
    return {};
}

// ---- SkinRegistry ------------------------------------------------------------------------------

SkinRegistry& SkinRegistry::instance() {
    static SkinRegistry registry;
    return registry;
}

QString SkinRegistry::fontFamily() {
    return ui_common::registeredFontFamily();
}

void SkinRegistry::fill() {
    if (!filled_) {
        filled_ = true;
        registerSkinResources();
        const QRgb magenta = 0xFF00FF;
        struct Entry {
            int id;
            const char* name;
            int slices;
            bool transparent;
        };
        const Entry entries[] = {
            {skin::kBackground, "background.bmp", 0, false},
            {skin::kClose, "close.bmp", 3, false},
            {skin::kMinimize, "minimize.bmp", 3, false},
            {skin::kMaximize, "maximize.bmp", 3, false},
            {skin::kThumb, "thumb.bmp", 1, true},
            {skin::kProgress, "progress.bmp", 1, false},
            {skin::kFrontPicture, "front.bmp", 0, false},
            {skin::kRearPicture, "rear.bmp", 0, false},
            {skin::kPanel, "panel.bmp", 0, false},
            {skin::kTitle, "ci.bmp", 0, false},
            {skin::kStretchBackground, "stretch_bg.bmp", 0, false},
            {skin::kControlPanel, "controlpanel.bmp", 0, false},
            {skin::kInformationTab, "information.bmp", 2, false},
            {skin::kRecordTab, "record.bmp", 2, false},
            {skin::kClockButton, "clock.bmp", 3, false},
            {skin::kOpenButton, "open.bmp", 3, false},
            {skin::kSnapshotButton, "snapshot.bmp", 3, false},
            {skin::kConfigurationButton, "configuration.bmp", 3, false},
            {skin::kFullScreenButton, "fullscreen.bmp", 3, false},
            {skin::kRewindButton, "rewind.bmp", 3, false},
            {skin::kPlayButton, "play.bmp", 3, false},
            {skin::kPauseButton, "pause.bmp", 3, false},
            {skin::kSwapButton, "swap.bmp", 3, false},
            {skin::kFastForwardButton, "fastforward.bmp", 3, false},
            {skin::kSpeedPlusButton, "speedplus.bmp", 3, false},
            {skin::kSpeedMinusButton, "speedminus.bmp", 3, false},
            {skin::kZoomInButton, "zoomin.bmp", 3, false},
            {skin::kZoomOutButton, "zoomout.bmp", 3, false},
            {skin::kPreviousEventButton, "prevevent.bmp", 3, false},
            {skin::kNextEventButton, "nextevent.bmp", 3, false},
            {skin::kListIcons, "listicons.bmp", 6, true},
        };
        for (const auto& e : entries)
            images_.insert(e.id,
                           SkinImage(QString::fromLatin1(e.name), e.slices,
                                     e.transparent ? std::optional<QRgb>(magenta) : std::nullopt));

        auto pixelFont = [](int px) {
            QFont f(fontFamily());
            f.setPixelSize(px);
            f.setWeight(QFont::Normal);
            f.setHintingPreference(QFont::PreferNoHinting);
            return f;
        };
        auto pointFont = [](int pt) {
            QFont f(fontFamily());
            f.setPointSize(pt);
            f.setWeight(QFont::Normal);
            return f;
        };
        fonts_.insert(skin::kFontList, pixelFont(14));
        fonts_.insert(skin::kFontLarge, pixelFont(17));
        fonts_.insert(skin::kFont10pt, pointFont(10));
        fonts_.insert(skin::kFont15pt, pointFont(15));
        fonts_.insert(skin::kFont16pt, pointFont(16));
        // The dialogs give the controls they name these fonts.
        for (auto it = fonts_.cbegin(); it != fonts_.cend(); ++it)
            ui_common::setRegisteredFont(it.key(), it.value());

        // The texts other parts of the window take from the cache, in this order.
        auto range = [this](int from, int to) {
            for (int id = from; id <= to; ++id)
                textIds_.push_back(id);
        };
        range(258, 273);
        for (int id : {289, 276, 278, 277})
            textIds_.push_back(id);
        range(279, 285);
        for (int id : {287, 288, 286, 274, 275, 238, 239, 234, 240, 241, 242, 243,
                       235, 236, 244, 237, 306, 307, 308, 309, 363, 364, 352})
            textIds_.push_back(id);
        range(315, 321);
        for (int id : {314, 322, 323, 324, 325, 384, 326, 327, 328, 329, 330, 332, 333, 335})
            textIds_.push_back(id);
        range(337, 354);
        range(357, 373);
    }
    texts_.clear();
    for (int id : textIds_)
        texts_.insert(id, QString::fromStdString(platform::text(id)).left(255));
}

const SkinImage* SkinRegistry::image(int id) const {
    auto it = images_.constFind(id);
    return it == images_.constEnd() ? nullptr : &it.value();
}

QFont SkinRegistry::font(int id) const {
    return fonts_.value(id, QFont(fontFamily()));
}

QString SkinRegistry::text(int id) const {
    return texts_.value(id);
}

// ---- SkinButton --------------------------------------------------------------------------------

SkinButton::SkinButton(int controlId, QWidget* parent) : QAbstractButton(parent), id_(controlId) {
    setObjectName(QString::number(controlId));
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}

void SkinButton::setImageId(int imageId) {
    imageId_ = imageId;
    update();
}

void SkinButton::setSlices(int normal, int hover, int pressed) {
    normal_ = normal;
    hover_ = hover;
    pressed_ = pressed;
    update();
}

void SkinButton::setTabState(int normalSlice, int pressedSlice) {
    normal_ = normalSlice;
    pressed_ = pressedSlice;
    repaint();
}

void SkinButton::setCaption(const QString& caption) {
    caption_ = caption;
    update();
}

void SkinButton::setTooltipTextId(int stringId) {
    tooltipId_ = stringId;
    setToolTip(SkinRegistry::instance().text(stringId));
}

int SkinButton::currentSlice() const {
    if (!hovered_)
        return normal_;
    if (isDown())
        return pressed_;
    const SkinImage* img = SkinRegistry::instance().image(imageId_);
    return img && img->sliceCount() == 3 ? hover_ : normal_;
}

QSize SkinButton::sizeHint() const {
    const SkinImage* img = SkinRegistry::instance().image(imageId_);
    return img ? img->sliceSize() : QSize(16, 16);
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int slice = currentSlice();
    if (const SkinImage* img = SkinRegistry::instance().image(imageId_))
        img->drawSlice(p, slice, QPoint(0, 0));
    if (!caption_.isEmpty()) {
        // Slice 1 of a tab is its selected look.
        const bool selected = slice == 1;
        p.setFont(SkinRegistry::instance().font(skin::kFontList));
        p.setPen(selected ? QColor(0xee, 0xf3, 0xf8) : QColor(0x8d, 0x99, 0xa6));
        p.drawText(rect().adjusted(36, 0, -8, 0), Qt::AlignLeft | Qt::AlignVCenter, caption_);
    }
}

void SkinButton::enterEvent(QEnterEvent* e) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(e);
}

void SkinButton::leaveEvent(QEvent* e) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(e);
}

void SkinButton::mouseMoveEvent(QMouseEvent* e) {
    // The first move inside counts as entering (a button shown under a resting pointer).
    if (!hovered_ && rect().contains(e->position().toPoint())) {
        hovered_ = true;
        update();
    }
    QAbstractButton::mouseMoveEvent(e);
}

// ---- SkinSlider --------------------------------------------------------------------------------

SkinSlider::SkinSlider(int controlId, QWidget* parent) : QWidget(parent), id_(controlId) {
    setObjectName(QString::number(controlId));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

void SkinSlider::setRange(std::int64_t minimum, std::int64_t maximum) {
    min_ = minimum;
    max_ = std::max(minimum, maximum);
    setPosition(pos_);
    update();
}

void SkinSlider::setPosition(std::int64_t position) {
    pos_ = std::clamp(position, min_, max_);
    update();
}

std::int64_t SkinSlider::position() const {
    return min_ == max_ ? 0 : pos_;
}

int SkinSlider::thumbX() const {
    return thumbXAt(pos_);
}

int SkinSlider::thumbXAt(std::int64_t position) const {
    const int thumb = 13;
    const int travel = std::max(0, width() - thumb);
    if (max_ <= min_)
        return 0;
    // Long double keeps 64-bit ranges (media time in 100 ns units) exact enough for pixels.
    const long double f = static_cast<long double>(std::clamp(position, min_, max_) - min_) /
                          static_cast<long double>(max_ - min_);
    return static_cast<int>(f * travel + 0.5L);
}

int SkinSlider::centreX(std::int64_t position) const {
    return thumbXAt(position) + 13 / 2;
}

void SkinSlider::setMarks(std::vector<SliderMark> marks) {
    if (marks == marks_)
        return;
    marks_ = std::move(marks);
    update();
}

QColor SkinSlider::markColour(SliderMarkKind kind) {
    switch (kind) {
        case SliderMarkKind::Event:
            return QColor(0xff, 0xb3, 0x1f);  // the amber of the Event list icon
        case SliderMarkKind::Impact:
            return QColor(0xf0, 0x4a, 0x3a);
        case SliderMarkKind::In:
        case SliderMarkKind::Out:
            return QColor(0x6f, 0xe0, 0x9a);
    }
    return Qt::white;
}

// A tick across the groove with a dark rim, so it reads on the played and the unplayed part;
// in and out points get a foot pointing into the stretch they bound.
void SkinSlider::paintMark(QPainter& p, const SliderMark& mark) const {
    if (mark.position < min_ || mark.position > max_ || max_ <= min_)
        return;
    const int x = centreX(mark.position);
    const QColor colour = markColour(mark.kind);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0b, 0x0d, 0x10));
    p.drawRect(QRect(x - 2, 0, 5, height()));
    p.setBrush(colour);
    p.drawRect(QRect(x - 1, 1, 3, height() - 2));
    if (mark.kind == SliderMarkKind::In || mark.kind == SliderMarkKind::Out) {
        const int dir = mark.kind == SliderMarkKind::In ? 1 : -1;
        p.drawRect(QRect(dir > 0 ? x + 2 : x - 4, 1, 3, 2));
        p.drawRect(QRect(dir > 0 ? x + 2 : x - 4, height() - 3, 3, 2));
    }
    p.restore();
}

std::int64_t SkinSlider::positionAt(int x) const {
    const int thumb = 13;
    const int travel = std::max(1, width() - thumb);
    const int thumbCentre = thumb / 2;  // whole pixels, as the thumb is drawn
    const long double f =
        std::clamp(static_cast<long double>(x - thumbCentre) / travel, 0.0L, 1.0L);
    return min_ + static_cast<std::int64_t>(f * static_cast<long double>(max_ - min_) + 0.5L);
}

void SkinSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const auto& reg = SkinRegistry::instance();
    const int trackH = 8;
    const QRect track(0, (height() - trackH) / 2, width(), trackH);
    // The groove, then the played part from the progress bitmap, then the thumb.
    p.setPen(QColor(0x0b, 0x0d, 0x10));
    p.setBrush(QColor(0x23, 0x28, 0x30));
    p.drawRoundedRect(QRectF(track).adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
    const int tx = thumbX();
    if (isEnabled() && tx > 0) {
        if (const SkinImage* progress = reg.image(skin::kProgress)) {
            p.save();
            p.setClipRect(QRect(track.left(), track.top(), tx + 6, trackH));
            QPainterPath clip;
            clip.addRoundedRect(QRectF(track), 4, 4);
            p.setClipPath(clip, Qt::IntersectClip);
            progress->drawStretched(p, track);
            p.restore();
        }
    }
    for (const SliderMark& mark : marks_)
        paintMark(p, mark);
    if (const SkinImage* thumb = reg.image(skin::kThumb)) {
        if (!isEnabled())
            p.setOpacity(0.45);
        thumb->drawSlice(p, 0, QPoint(tx, (height() - 13) / 2));
    }
}

void SkinSlider::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || max_ <= min_)
        return;
    pressed_ = true;
    setPosition(positionAt(e->position().toPoint().x()));
    emit tracking(pos_);
}

void SkinSlider::mouseMoveEvent(QMouseEvent* e) {
    if (!pressed_)
        return;
    setPosition(positionAt(e->position().toPoint().x()));
    emit tracking(pos_);
}

void SkinSlider::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !pressed_)
        return;
    pressed_ = false;
    setPosition(positionAt(e->position().toPoint().x()));
    emit notify(id_, kReleasedCode);
}

}  // namespace orvik::shell
