#include "shell/card_notice.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <algorithm>

#include "platform/strings.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

namespace {}  // namespace

CardNotice::CardNotice(QWidget* list) : QFrame(list) {
    setObjectName(QStringLiteral("cardNotice"));
    setAutoFillBackground(true);
    setStyleSheet(
        QStringLiteral("#cardNotice { background: #243447; border-top: 1px solid #2ea8ff; }"
                       "#cardNotice QLabel { color: #e8eef5; }"
                       "#cardNotice QPushButton { padding: 2px 8px; }"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 3, 6, 3);
    row->setSpacing(6);
    label_ = new QLabel(this);
    label_->setTextFormat(Qt::PlainText);
    label_->setWordWrap(true);
    QPalette text = label_->palette();
    text.setColor(QPalette::WindowText, QColor(0xe8, 0xee, 0xf5));
    label_->setPalette(text);
    open_ = new QPushButton(uiText(strings::shell::kCardOpen), this);
    dismiss_ = new QPushButton(uiText(strings::shell::kCardDismiss), this);
    for (QPushButton* b : {open_, dismiss_})
        b->setFocusPolicy(Qt::NoFocus);  // keys stay with playback
    row->addWidget(label_, 1);
    row->addWidget(open_);
    row->addWidget(dismiss_);
    connect(open_, &QPushButton::clicked, this, [this] {
        const QString root = root_;
        hide();
        emit openRequested(root);
    });
    connect(dismiss_, &QPushButton::clicked, this, &QWidget::hide);
    list->installEventFilter(this);
    hide();
}

void CardNotice::offerCard(const QString& root, const QString& name) {
    root_ = root;
    label_->setText(uiText(strings::shell::kCardInserted).arg(name));
    label_->setToolTip(root);
    open_->show();
    place();
    show();
    raise();
}

void CardNotice::showMessage(const QString& text) {
    root_.clear();
    label_->setText(text);
    label_->setToolTip(text);  // a long path may not fit
    open_->hide();
    place();
    show();
    raise();
}

QString CardNotice::text() const {
    return label_->text();
}

void CardNotice::place() {
    auto* list = qobject_cast<QAbstractScrollArea*>(parentWidget());
    if (!list)
        return;
    // Over the last rows, above the scroll bar, room for two lines of text, or three when the
    // text needs them.
    const QRect rows = list->viewport()->geometry();
    int buttons = dismiss_->sizeHint().width() + 24;
    if (!open_->isHidden())
        buttons += open_->sizeHint().width();
    const int spacing = label_->fontMetrics().lineSpacing();
    const int text = std::clamp(label_->heightForWidth(rows.width() - buttons), 2 * spacing,
                                3 * spacing);
    const int h = std::max(kHeight, text + 10);
    setGeometry(rows.left(), rows.bottom() + 1 - h, rows.width(), h);
    raise();
}

bool CardNotice::eventFilter(QObject* watched, QEvent* e) {
    if (watched == parentWidget() && e->type() == QEvent::Resize)
        place();
    return QFrame::eventFilter(watched, e);
}

}  // namespace orvik::shell
