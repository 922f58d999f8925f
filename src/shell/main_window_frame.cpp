// The skinned frame of the main window: its controls and their places, painting the skin and
// dragging the window by its background.
#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "playback/playback_controller.h"
#include "playback/video_pane.h"
#include "shell/control_ids.h"
#include "shell/export_menu.h"
#include "shell/main_window.h"
#include "shell/skin.h"
#include "shell/time_display.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

namespace {

struct ButtonSpec {
    int id;
    int image;
    int tooltip;  // 0: none
    QRect geometry;
    bool shown;
};

// The window's push buttons with their skin image, tooltip and place.
const ButtonSpec kButtons[] = {
    {ctl::kOpen, skin::kOpenButton, 258, {7, 5, 56, 47}, true},
    {ctl::kConfiguration, skin::kConfigurationButton, 261, {63, 5, 54, 47}, true},
    {ctl::kClock, skin::kClockButton, 262, {171, 5, 54, 47}, false},
    {ctl::kMinimize, skin::kMinimize, 0, {906, 5, 31, 33}, true},
    {ctl::kMaximize, skin::kMaximize, 0, {936, 5, 32, 33}, true},
    {ctl::kClose, skin::kClose, 0, {969, 5, 35, 33}, true},
    {ctl::kRecordTab, skin::kRecordTab, 0, {674, 54, 167, 29}, true},
    {ctl::kInformationTab, skin::kInformationTab, 0, {841, 54, 167, 29}, true},
    {ctl::kFullScreen, skin::kFullScreenButton, 278, {519, 594, 39, 33}, true},
    {ctl::kSwap, skin::kSwapButton, 286, {481, 594, 39, 33}, true},
    {ctl::kRewind, skin::kRewindButton, 279, {61, 603, 23, 26}, true},
    // Nothing plays at start: Play shows.
    {ctl::kPlay, skin::kPlayButton, 277, {84, 603, 23, 26}, true},
    {ctl::kPause, skin::kPauseButton, 280, {84, 603, 23, 26}, false},
    {ctl::kFastForward, skin::kFastForwardButton, 282, {107, 603, 23, 26}, true},
    {ctl::kSpeedDown, skin::kSpeedMinusButton, 284, {141, 605, 16, 20}, true},
    {ctl::kSpeedUp, skin::kSpeedPlusButton, 283, {186, 605, 16, 20}, true},
    {ctl::kZoomOut, skin::kZoomOutButton, 288, {224, 605, 16, 20}, true},
    {ctl::kZoomIn, skin::kZoomInButton, 287, {275, 605, 16, 20}, true},
};

// Template buttons that exist but are never offered: hidden and disabled, no command.
const int kDormantButtons[] = {ctl::kSnapshot, ctl::kPrint, ctl::kStop, ctl::kZoom};

}  // namespace

void MainWindow::createControls() {
    for (const auto& b : kButtons) {
        auto* button = new SkinButton(b.id, this);
        button->setImageId(b.image);
        button->setGeometry(b.geometry);
        if (b.tooltip)
            button->setTooltipTextId(b.tooltip);
        button->setVisible(b.shown);
        connect(button, &QAbstractButton::clicked, this, [this, id = b.id] { runCommand(id); });
    }
    button(ctl::kRecordTab)->setCaption(uiText(strings::shell::kRecordTab));
    button(ctl::kInformationTab)->setCaption(uiText(strings::shell::kInformationTab));
    // The Clock workflow is not offered.
    button(ctl::kClock)->setEnabled(false);
    for (int id : kDormantButtons) {
        auto* dormant = new SkinButton(id, this);
        dormant->setVisible(false);
        dormant->setEnabled(false);
    }

    // 8. Volume slider: 0..99 at 50.
    volumeSlider_ = new SkinSlider(ctl::kVolume, this);
    volumeSlider_->setRange(0, 99);
    volumeSlider_->setPosition(50);
    volumeSlider_->setGeometry(594, 598, 59, 13);

    // 9. Seek bar; the G-sensor graph comes with the displays.
    seekBar_ = new SkinSlider(ctl::kSeekBar, this);
    seekBar_->setGeometry(42, 570, 595, 13);
    seekBar_->setEnabled(false);  // until a seekable recording plays
    // 11. Rate and zoom labels; readouts, graph and map host come from the displays.
    auto makeLabel = [this](int id, const QString& text, const QRect& geometry) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QString::number(id));
        l->setGeometry(geometry);
        l->setAlignment(Qt::AlignCenter);
        l->setFont(SkinRegistry::instance().font(skin::kFontList));
        // Light text on the dark strip; the skin's label tone 0x3A3C44 is the strip itself.
        l->setStyleSheet(QStringLiteral("color: #d7dee6; background: transparent;"));
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->show();
        return l;
    };
    zoomLabel_ = makeLabel(ctl::kZoomLabel, QStringLiteral("1.0x"), {242, 606, 30, 18});
    {
        // The widest zoom text ("1.95x") fits the 30-pixel label in a slightly smaller font.
        QFont f = zoomLabel_->font();
        while (f.pixelSize() > 9 &&
               QFontMetrics(f).horizontalAdvance(QStringLiteral("1.95x")) > zoomLabel_->width())
            f.setPixelSize(f.pixelSize() - 1);
        zoomLabel_->setFont(f);
    }
    rateLabel_ = makeLabel(ctl::kRateLabel, QStringLiteral("1x"), {157, 606, 29, 18});
    timeDisplay_ = new TimeDisplay(this);
    placeTimeDisplay(kTitleLeft + kTitleHalfWidth);
}

void MainWindow::placeTimeDisplay(int titleCenter) {
    // The caption bar's free stretch right of the title's lettering, up to Minimize: the same in
    // both layouts, and no control has to make room for it.
    constexpr int kPastLettering = 72, kGap = 10;
    const QRect minimize = control(ctl::kMinimize)->geometry();
    const int left = titleCenter + kPastLettering;
    timeDisplay_->setGeometry(left, 6, std::max(0, minimize.left() - kGap - left), 42);
}

QWidget* MainWindow::control(int id) const {
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

SkinButton* MainWindow::button(int id) const {
    return findChild<SkinButton*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void MainWindow::setTabs(PanelView view) {
    // Record tab: the selected look is slice 1; Information tab the same.
    const bool records = view == PanelView::Recordings;
    if (auto* r = button(ctl::kRecordTab))
        r->setTabState(records ? 1 : 0, records ? 0 : 1);
    if (auto* i = button(ctl::kInformationTab))
        i->setTabState(records ? 0 : 1, records ? 1 : 0);
}

// ---- painting and mouse ------------------------------------------------------------------------

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const auto& reg = SkinRegistry::instance();
    p.fillRect(rect(), QColor(0x11, 0x13, 0x17));
    if (!isFullScreenMode()) {
        if (auto* img = reg.image(skin::kBackground))
            img->draw(p, {0, 0});
        if (auto* img = reg.image(skin::kTitle))
            img->draw(p, {kTitleLeft, 0});
        if (auto* img = reg.image(skin::kPanel))
            img->draw(p, {678, 323});
    } else {
        // The window covers its monitor now: its own size is the monitor's.
        if (auto* img = reg.image(skin::kStretchBackground))
            img->drawStretched(p, rect());
        if (auto* img = reg.image(skin::kTitle))
            img->draw(p, {width() / 2 - kTitleHalfWidth, 0});
        if (auto* img = reg.image(skin::kControlPanel))
            img->draw(p, {width() / 2 - 328, height() - 90});
    }
}

void MainWindow::mousePressEvent(QMouseEvent* e) {
    // The whole background drags the window, except in full screen. The drag starts only once the
    // pointer moves, so a double click on the background still reaches the window.
    if (e->button() == Qt::LeftButton && !isFullScreenMode()) {
        dragOffset_ = e->globalPosition().toPoint() - frameGeometry().topLeft();
        dragStart_ = e->globalPosition().toPoint();
        systemMoveTried_ = false;
        return;
    }
    QWidget::mousePressEvent(e);
}

void MainWindow::mouseMoveEvent(QMouseEvent* e) {
    if (dragOffset_ && (e->buttons() & Qt::LeftButton) && !isFullScreenMode()) {
        const QPoint global = e->globalPosition().toPoint();
        if (!systemMoveTried_) {
            if ((global - dragStart_).manhattanLength() < QApplication::startDragDistance())
                return;
            systemMoveTried_ = true;
            // On Wayland only the compositor may move a window. On X the window moves itself:
            // a window manager asked to move it there (openbox) never took the pointer from the
            // press the window holds, and the window stood still.
            if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) &&
                windowHandle() && windowHandle()->startSystemMove()) {
                dragOffset_.reset();
                return;
            }
        }
        move(global - *dragOffset_);
        return;
    }
    QWidget::mouseMoveEvent(e);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        dragOffset_.reset();
    QWidget::mouseReleaseEvent(e);
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        toggleFullScreen(0);
        return;
    }
    QWidget::mouseDoubleClickEvent(e);
}

void MainWindow::wheelEvent(QWheelEvent* e) {
    playback_->zoom(e->angleDelta().y() > 0 ? +1 : -1);
    e->accept();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    // Only the Close button ends the viewer; the window manager's close request is ignored.
    if (!closing_)
        e->ignore();
}

void MainWindow::contextMenuEvent(QContextMenuEvent* e) {
    for (playback::VideoPane* pane : {frontPane_, rearPane_}) {
        if (pane->isVisible() && pane->geometry().contains(e->pos())) {
            exportMenu_->showPaneMenu(pane, e->globalPos());
            e->accept();
            return;
        }
    }
    QWidget::contextMenuEvent(e);
}

}  // namespace orvik::shell
