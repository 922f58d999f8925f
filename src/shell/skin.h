#pragma once
// The skin: bitmaps by id (optionally cut into equal slices), fonts by id, the cached UI texts,
// and the owner-drawn button and slider that paint themselves from it.
#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvik::shell {

// One skin bitmap, loaded on first use from the embedded ":/skin/<name>". With zero slices it is
// one picture; with n slices it is cut into n pieces of width / n, and `transparent` (if any)
// becomes see-through. A bitmap that is missing or empty is simply not drawn.
class SkinImage {
  public:
    SkinImage() = default;
    SkinImage(QString resourceName, int slices, std::optional<QRgb> transparent = std::nullopt)
        : name_(std::move(resourceName)), slices_(slices), transparent_(transparent) {}

    const QString& resourceName() const { return name_; }
    int sliceCount() const { return slices_; }
    std::optional<QRgb> transparentColour() const { return transparent_; }
    bool isNull() const;
    QSize size() const;       // whole bitmap
    QSize sliceSize() const;  // one slice (the whole bitmap when it has no slices)

    void draw(QPainter& p, QPoint at) const;
    void drawStretched(QPainter& p, const QRect& target) const;
    // Slice index outside 0..n-1 draws nothing.
    void drawSlice(QPainter& p, int index, QPoint at) const;
    QPixmap slice(int index) const;  // -1: the whole bitmap

  private:
    void load() const;
    QString name_;
    int slices_ = 0;
    std::optional<QRgb> transparent_;
    mutable bool loaded_ = false;
    mutable QPixmap pixmap_;
    mutable std::vector<QPixmap> pieces_;
};

// One per process, filled once at start and never emptied.
class SkinRegistry {
  public:
    static SkinRegistry& instance();

    // Registers the window's images, fonts and cached texts (in the current language).
    // Calling it again only refreshes the texts.
    void fill();

    const SkinImage* image(int id) const;
    QFont font(int id) const;
    // The cached text of a string id; "" when the id has none.
    QString text(int id) const;
    const std::vector<int>& cachedTextIds() const { return textIds_; }

    // The font family used for every skin font (covers Hangul).
    static QString fontFamily();

  private:
    SkinRegistry() = default;
    QHash<int, SkinImage> images_;
    QHash<int, QFont> fonts_;
    QHash<int, QString> texts_;
    std::vector<int> textIds_;
    bool filled_ = false;
};

// Image ids of the skin.
namespace skin {
inline constexpr int kBackground = 1, kClose = 2, kMinimize = 3, kMaximize = 4, kThumb = 5,
                     kProgress = 6, kFrontPicture = 7, kRearPicture = 8, kPanel = 9, kTitle = 10,
                     kStretchBackground = 11, kControlPanel = 12;
inline constexpr int kInformationTab = 1001, kRecordTab = 1002, kClockButton = 1100,
                     kOpenButton = 1101, kSnapshotButton = 1102, kConfigurationButton = 1103;
inline constexpr int kFullScreenButton = 1201, kRewindButton = 1202, kPlayButton = 1203,
                     kPauseButton = 1204, kSwapButton = 1205, kFastForwardButton = 1206,
                     kSpeedPlusButton = 1207, kSpeedMinusButton = 1208, kZoomInButton = 1301,
                     kZoomOutButton = 1302, kPreviousEventButton = 1303, kNextEventButton = 1304;
// The six 53 x 16 recording-list icons.
inline constexpr int kListIcons = 202;
// Font ids.
inline constexpr int kFontList = 100, kFontLarge = 101, kFont10pt = 0, kFont15pt = 1, kFont16pt = 2;
}  // namespace skin

// Owner-drawn push button: one slice for normal, hover and pressed (0, 1, 2 by default).
class SkinButton : public QAbstractButton {
    Q_OBJECT
  public:
    SkinButton(int controlId, QWidget* parent = nullptr);

    int controlId() const { return id_; }
    void setImageId(int imageId);
    int imageId() const { return imageId_; }
    void setSlices(int normal, int hover, int pressed);
    // Tab buttons: which slice shows normally and which while pressed; redraws at once.
    void setTabState(int normalSlice, int pressedSlice);
    int normalSlice() const { return normal_; }
    int pressedSlice() const { return pressed_; }
    // Text drawn over the picture (tab buttons), left of centre after the tab's glyph.
    void setCaption(const QString& caption);
    QString caption() const { return caption_; }
    // Tooltip text from the skin's text cache.
    void setTooltipTextId(int stringId);
    int tooltipTextId() const { return tooltipId_; }

    bool isHovered() const { return hovered_; }
    // The slice the button shows now.
    int currentSlice() const;
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;

  private:
    int id_;
    int imageId_ = 0;
    int normal_ = 0, hover_ = 1, pressed_ = 2;
    int tooltipId_ = 0;
    bool hovered_ = false;
    QString caption_;
};

// A mark drawn over a slider's groove: something that happened at that position (an event, an
// impact) or the ends of a chosen stretch (in and out points).
enum class SliderMarkKind { Event, Impact, In, Out };
struct SliderMark {
    std::int64_t position = 0;
    SliderMarkKind kind = SliderMarkKind::Event;
    friend bool operator==(const SliderMark&, const SliderMark&) = default;
};

// Skinned slider with a signed 64-bit range. Setting a position clamps it into the range; the
// position reads 0 while minimum equals maximum. When the left button lets go of the thumb the
// slider reports notify(id, kReleasedCode).
class SkinSlider : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kReleasedCode = 276;

    SkinSlider(int controlId, QWidget* parent = nullptr);
    int controlId() const { return id_; }

    void setRange(std::int64_t minimum, std::int64_t maximum);
    std::int64_t minimum() const { return min_; }
    std::int64_t maximum() const { return max_; }
    void setPosition(std::int64_t position);
    std::int64_t position() const;
    bool isPressed() const { return pressed_; }

    // Marks over the groove, drawn in their kind's colour under the thumb; they take no clicks.
    // Marks outside the range are not drawn.
    void setMarks(std::vector<SliderMark> marks);
    const std::vector<SliderMark>& marks() const { return marks_; }
    // The x of the thumb's centre at a position (where a mark of that position is drawn).
    int centreX(std::int64_t position) const;
    // The colour a kind of mark is drawn in.
    static QColor markColour(SliderMarkKind kind);

  signals:
    void notify(int controlId, int code);
    // While dragging, each new position (the thumb follows the pointer).
    void tracking(std::int64_t position);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

  private:
    std::int64_t positionAt(int x) const;
    int thumbX() const;
    int thumbXAt(std::int64_t position) const;
    void paintMark(QPainter& p, const SliderMark& mark) const;
    int id_;
    std::int64_t min_ = 0, max_ = 0, pos_ = 0;
    bool pressed_ = false;
    std::vector<SliderMark> marks_;
};

}  // namespace orvik::shell
