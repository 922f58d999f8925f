#include "shell/card_notice.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
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
    import_ = new QPushButton(uiText(strings::shell::kCardImport), this);
    dismiss_ = new QPushButton(uiText(strings::shell::kCardDismiss), this);
    cancel_ = new QPushButton(uiText(strings::shell::kCardImportCancel), this);
    row->addWidget(label_, 1);
    for (QPushButton* b : {open_, import_, dismiss_, cancel_}) {
        b->setFocusPolicy(Qt::NoFocus);  // keys stay with playback
        row->addWidget(b);
    }
    connect(import_, &QPushButton::clicked, this, [this] { emit importRequested(root_); });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        cancel_->setEnabled(false);
        emit cancelRequested();
    });
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
    showButtons(true, true, true, false);
    place();
    show();
    raise();
}

void CardNotice::showMessage(const QString& text) {
    root_.clear();
    label_->setText(text);
    label_->setToolTip(text);  // a long path may not fit
    showButtons(false, false, true, false);
    place();
    show();
    raise();
}

void CardNotice::showProgress(const QString& text) {
    label_->setText(text);
    if (!cancel_->isVisible())
        cancel_->setEnabled(true);
    showButtons(false, false, false, true);
    place();
    show();
    raise();
}

void CardNotice::showButtons(bool open, bool import, bool dismiss, bool cancel) {
    open_->setVisible(open);
    import_->setVisible(import);
    dismiss_->setVisible(dismiss);
    cancel_->setVisible(cancel);
}

QString CardNotice::text() const {
    return label_->text();
}

void CardNotice::place() {
    auto* list = qobject_cast<QAbstractScrollArea*>(parentWidget());
    if (!list)
        return;
    // Over the last rows, above the scroll bar, as high as the text needs beside the buttons
    // shown (two lines at least).
    const QRect rows = list->viewport()->geometry();
    const QMargins margins = layout()->contentsMargins();
    int textWidth = rows.width() - margins.left() - margins.right();
    for (const QPushButton* b : {open_, import_, dismiss_, cancel_}) {
        if (!b->isHidden())
            textWidth -= b->sizeHint().width() + layout()->spacing();
    }
    const int text = label_->heightForWidth(std::max(textWidth, 40));
    const int h = std::max({kHeight, 2 * label_->fontMetrics().lineSpacing() + 10,
                            text + margins.top() + margins.bottom() + 4});
    setGeometry(rows.left(), rows.bottom() + 1 - h, rows.width(), h);
    raise();
}

bool CardNotice::eventFilter(QObject* watched, QEvent* e) {
    if (watched == parentWidget() && e->type() == QEvent::Resize)
        place();
    return QFrame::eventFilter(watched, e);
}

}  // namespace orvik::shell
