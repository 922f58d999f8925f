#pragma once
// What a user would see cut off: a label, button or group title wider (or a label taller) than
// the room its control gives it, measured with the control's own font, and a control that
// reaches outside the page or window it belongs to.
#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <string>
#include <vector>

namespace orvik::testing {

inline std::string describe(const QWidget* w) {
    const QString id = w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                                 : w->objectName();
    return id.toStdString();
}

// The text a button draws: mnemonics removed.
inline QString shownText(QString text) {
    static const QRegularExpression mnemonic(QStringLiteral("&(?!&)"));
    return text.remove(mnemonic).replace(QStringLiteral("&&"), QStringLiteral("&"));
}

inline int widestLine(const QFontMetrics& fm, const QString& text) {
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
}

// Problems of the visible controls under `area` (a page or a window).
inline std::vector<std::string> layoutProblems(QWidget* area) {
    std::vector<std::string> problems;
    auto report = [&](const QWidget* w, const std::string& what) {
        problems.push_back(describe(w) + " \"" +
                           (qobject_cast<const QLabel*>(w)
                                ? qobject_cast<const QLabel*>(w)->text().toStdString()
                            : qobject_cast<const QAbstractButton*>(w)
                                ? qobject_cast<const QAbstractButton*>(w)->text().toStdString()
                            : qobject_cast<const QGroupBox*>(w)
                                ? qobject_cast<const QGroupBox*>(w)->title().toStdString()
                                : std::string()) +
                           "\": " + what);
    };
    for (QWidget* w : area->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->isWindow() || w->window() != area->window())
            continue;
        const QRect inArea(w->mapTo(area, QPoint(0, 0)), w->size());
        if (!area->rect().contains(inArea))
            report(w, "lies outside its page (" + std::to_string(inArea.x()) + "," +
                          std::to_string(inArea.y()) + " " + std::to_string(inArea.width()) + "x" +
                          std::to_string(inArea.height()) + ")");
        const QFontMetrics fm(w->font());
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty() || label->wordWrap() || !label->pixmap().isNull())
                continue;
            const QString text = label->textFormat() == Qt::RichText ? QString() : label->text();
            const QRect room = label->contentsRect();
            const int lines = static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
            if (widestLine(fm, text) > room.width())
                report(w, "needs " + std::to_string(widestLine(fm, text)) + " px, has " +
                              std::to_string(room.width()));
            else if (!text.isEmpty() && lines * fm.height() > room.height() + 2)
                report(w, "needs " + std::to_string(lines * fm.height()) + " px high, has " +
                              std::to_string(room.height()));
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            const QString text = shownText(button->text());
            if (text.isEmpty())
                continue;
            QStyleOptionButton opt;
            opt.initFrom(button);
            opt.text = text;
            QStyle::SubElement contents = QStyle::SE_PushButtonContents;
            if (qobject_cast<QRadioButton*>(button))
                contents = QStyle::SE_RadioButtonContents;
            else if (qobject_cast<QCheckBox*>(button))
                contents = QStyle::SE_CheckBoxContents;
            QRect room = button->style()->subElementRect(contents, &opt, button);
            if (contents == QStyle::SE_PushButtonContents)
                room = room.adjusted(2, 0, -2, 0);  // the frame's inner margin
            if (widestLine(fm, text) > room.width())
                report(w, "needs " + std::to_string(widestLine(fm, text)) + " px, has " +
                              std::to_string(room.width()));
            else if (fm.height() > button->height())
                report(w, "needs " + std::to_string(fm.height()) + " px high, has " +
                              std::to_string(button->height()));
        } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
            if (box->title().isEmpty())
                continue;
            QStyleOptionGroupBox opt;
            opt.initFrom(box);
            opt.text = box->title();
            opt.lineWidth = 1;
            opt.textAlignment = box->alignment();
            opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &opt,
                                                             QStyle::SC_GroupBoxLabel, box);
            if (label.left() < 0 || label.right() >= box->width() ||
                fm.horizontalAdvance(shownText(box->title())) > label.width())
                report(w, "title needs " +
                              std::to_string(fm.horizontalAdvance(shownText(box->title()))) +
                              " px, the box is " + std::to_string(box->width()));
        }
    }
    return problems;
}

}  // namespace orvik::testing
