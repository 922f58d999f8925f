#pragma once
// Driving widgets as a user does: mouse clicks where a user would click, keys on the focused
// control, wheel notches, drags of a slider's thumb, list entries picked in the open list.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QWheelEvent>

namespace orvik::testing {

// Where a user clicks a button: the indicator of a radio or check box, the middle of others.
inline QPoint clickPoint(QWidget* w) {
    QStyleOptionButton opt;
    opt.initFrom(w);
    if (qobject_cast<QRadioButton*>(w))
        return w->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &opt, w).center();
    if (auto* box = qobject_cast<QCheckBox*>(w); box && !box->text().isEmpty())
        return w->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, w).center();
    return w->rect().center();
}

inline void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, clickPoint(w));
}

// Brings `w` where a user can click it: its window shown, and every tab page that holds it
// chosen with a click on its tab.
inline void bringToView(QWidget* w) {
    QWidget* window = w->window();
    if (!window->isVisible()) {
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
    }
    for (QWidget* page = w; page && page->parentWidget(); page = page->parentWidget()) {
        auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget());
        auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
        if (tabs && tabs->currentWidget() != page) {
            QTabBar* bar = tabs->tabBar();
            QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                              bar->tabRect(tabs->indexOf(page)).center());
        }
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->isVisible(); })) << w->objectName().toStdString();
}

// A click as the user gives it, wherever the control is.
inline void userClick(QWidget* w) {
    bringToView(w);
    click(w);
}

// One wheel notch per step, up (away from the user) for positive counts.
inline void wheel(QWidget* w, int notches) {
    const QPoint at = w->rect().center();
    for (int i = 0; i < std::abs(notches); ++i) {
        auto* e =
            new QWheelEvent(at, w->mapToGlobal(at), QPoint(), QPoint(0, notches > 0 ? 120 : -120),
                            Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::postEvent(w, e);
        QCoreApplication::sendPostedEvents(w, QEvent::Wheel);
    }
}

inline QRect sliderHandle(QSlider* s, int value) {
    QStyleOptionSlider opt;
    opt.initFrom(s);
    opt.orientation = s->orientation();
    opt.minimum = s->minimum();
    opt.maximum = s->maximum();
    opt.sliderPosition = value;
    opt.sliderValue = value;
    opt.tickPosition = s->tickPosition();
    opt.tickInterval = s->tickInterval();
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    return s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s);
}

// Presses the thumb, moves it to where `value` lies, and lets go.
inline void drag(QSlider* s, int value) {
    const QPoint from = sliderHandle(s, s->value()).center();
    const QPoint to = sliderHandle(s, value).center();
    QTest::mousePress(s, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(s, (from + to) / 2);
    QTest::mouseMove(s, to);
    QTest::mouseRelease(s, Qt::LeftButton, Qt::NoModifier, to);
}

// A click on the groove where `value` lies, away from the thumb. Depending on the style the thumb
// jumps there or moves one page toward it.
inline void clickGroove(QSlider* s, int value) {
    QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, sliderHandle(s, value).center());
}

// Gives `w` the keyboard focus the way a user does: a click (a list is opened and closed again,
// a slider's thumb is clicked without moving it).
inline bool focusByMouse(QWidget* w) {
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        QTest::mouseClick(combo, Qt::LeftButton, Qt::NoModifier, combo->rect().center());
        if (!QTest::qWaitFor([&] { return combo->view()->isVisible(); }))
            return false;
        QTest::keyClick(combo->view(), Qt::Key_Escape);
        if (!QTest::qWaitFor([&] { return !combo->view()->isVisible(); }))
            return false;
    } else if (auto* slider = qobject_cast<QSlider*>(w)) {
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier,
                          sliderHandle(slider, slider->value()).center());
    } else {
        click(w);
    }
    return QTest::qWaitFor([&] { return QApplication::focusWidget() == w; });
}

// A key pressed on whatever holds the focus.
inline void keyOnFocus(Qt::Key key) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, key);
}

// Opens the list with the mouse and picks `entry` with the keys of the open list.
inline void pickEntry(QComboBox* combo, int entry) {
    QTest::mouseClick(combo, Qt::LeftButton, Qt::NoModifier, combo->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return combo->view()->isVisible(); }));
    QAbstractItemView* view = combo->view();
    QTest::keyClick(view, Qt::Key_Home);
    for (int i = 0; i < entry; ++i)
        QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isVisible(); }));
}

}  // namespace orvik::testing
