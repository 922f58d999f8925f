#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "device_config/ui/settings_pages.h"

namespace orvik::device_config::ui {

// One cell of a motion-area grid: a check box drawn as a tile of the camera picture, filled
// when the camera watches that cell for motion.
class MotionCell : public QCheckBox {
  public:
    explicit MotionCell(int id) {
        setObjectName(idName(id));
        setFixedSize(66, 46);
        setCursor(Qt::PointingHandCursor);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        const bool on = isChecked();
        QColor fill = on ? QColor(228, 92, 52) : QColor(58, 64, 74);
        QColor edge = on ? QColor(160, 48, 20) : QColor(30, 34, 40);
        if (!isEnabled()) {
            fill = on ? QColor(200, 130, 110) : QColor(120, 124, 130);
            edge = QColor(96, 96, 96);
        }
        p.setPen(QPen(edge, 1.5));
        p.setBrush(fill);
        p.drawRoundedRect(r, 4, 4);
        if (on) {
            p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            const QPointF c = r.center();
            p.drawPolyline(QPolygonF({c + QPointF(-8, 0), c + QPointF(-2, 6), c + QPointF(9, -6)}));
        }
        if (hasFocus()) {
            p.setPen(QPen(QColor(255, 255, 255, 180), 1, Qt::DotLine));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(r.adjusted(3, 3, -3, -3), 3, 3);
        }
    }
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

namespace {
// Box k of a grid (row by row from the top left) and the mask bit it carries: the top row holds
// bits 8..11, the middle row 4..7, the bottom row 0..3.
constexpr int kCellBit[12] = {8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3};
// The two middle cells are always watched.
constexpr uint32_t kFixedBits = (1u << 5) | (1u << 6);

bool fixedCell(int k) {
    return (kFixedBits >> kCellBit[k]) & 1u;
}
}  // namespace

MotionPage::MotionPage(EditorState& state, QWidget* parent) : SettingsPage(state, 219, parent) {
    front_.create(4003, 4008, {4009, 4010, 4011, 4012, 4013, 4014});
    rear_.create(4015, 4020, {4021, 4022, 4023, 4024, 4025, 4026});

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(10, 10, 10, 10);
    page->setSpacing(10);
    auto* sensitivity = group(4000);
    auto* rows = new QGridLayout(sensitivity);
    rows->addWidget(caption(4001), 0, 0);
    rows->addWidget(front_.row(), 0, 1);
    rows->addWidget(caption(4002), 1, 0);
    rows->addWidget(rear_.row(), 1, 1);
    rows->setColumnStretch(1, 1);
    page->addWidget(sensitivity);

    auto* areas = new QHBoxLayout;
    auto makeGrid = [this](int groupId, int firstId, std::array<MotionCell*, 12>& cells) {
        auto* box = group(groupId);
        auto* v = new QVBoxLayout(box);
        auto* frame = new QWidget;
        frame->setObjectName(idName(groupId) + QLatin1String("-area"));
        frame->setAutoFillBackground(true);
        QPalette pal = frame->palette();
        pal.setColor(QPalette::Window, QColor(24, 27, 32));
        frame->setPalette(pal);
        auto* grid = new QGridLayout(frame);
        grid->setContentsMargins(6, 6, 6, 6);
        grid->setSpacing(4);
        for (int k = 0; k < 12; ++k) {
            cells[k] = new MotionCell(firstId + k);
            grid->addWidget(cells[k], k / 4, k % 4);
            if (fixedCell(k))
                cells[k]->setEnabled(false);
        }
        v->addWidget(frame, 0, Qt::AlignHCenter);
        return box;
    };
    areas->addWidget(makeGrid(4028, 4029, frontCells_));
    areas->addWidget(makeGrid(4041, 4042, rearCells_));
    page->addLayout(areas);
    auto* hint = caption(4027);
    hint->setWordWrap(true);
    page->addWidget(hint);
    page->addStretch();

    // The front view's bottom row is shown but not editable.
    for (int k = 8; k < 12; ++k)
        frontCells_[k]->setEnabled(false);

    front_.onClicked([this](int p) { set("frontMotionSensitivity", static_cast<uint32_t>(p)); });
    rear_.onClicked([this](int p) { set("rearMotionSensitivity", static_cast<uint32_t>(p)); });
}

void MotionPage::showFields() {
    front_.show(static_cast<int>(get("frontMotionSensitivity")));
    rear_.show(static_cast<int>(get("rearMotionSensitivity")));
    auto showMask = [](const std::array<MotionCell*, 12>& cells, uint32_t mask) {
        mask |= kFixedBits;
        for (int k = 0; k < 12; ++k)
            cells[k]->setChecked((mask >> kCellBit[k]) & 1u);
    };
    showMask(frontCells_, get("frontMotionArea"));
    showMask(rearCells_, get("rearMotionArea"));
}

void MotionPage::openPage() {
    showFields();
}
void MotionPage::loadPage() {
    showFields();
}

void MotionPage::gatherAreas() {
    auto mask = [](const std::array<MotionCell*, 12>& cells) {
        uint32_t m = kFixedBits;
        for (int k = 0; k < 12; ++k)
            if (cells[k]->isChecked())
                m |= 1u << kCellBit[k];
        return m;
    };
    set("frontMotionArea", mask(frontCells_));
    set("rearMotionArea", mask(rearCells_));
}

}  // namespace orvik::device_config::ui
