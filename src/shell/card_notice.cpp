#include "shell/card_notice.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "platform/strings.h"

namespace orvik::shell {
namespace {
constexpr int kStrCardInserted = 60050;
constexpr int kStrOpen = 60051;
constexpr int kStrDismiss = 60052;

QString uiText(int id) {
    return QString::fromStdString(platform::text(id));
}
}  // namespace

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
    open_ = new QPushButton(uiText(kStrOpen), this);
    dismiss_ = new QPushButton(uiText(kStrDismiss), this);
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
    label_->setText(uiText(kStrCardInserted).arg(name));
    label_->setToolTip(root);
    open_->show();
    place();
    show();
    raise();
}

void CardNotice::showMessage(const QString& text) {
    root_.clear();
    label_->setText(text);
    label_->setToolTip(QString());
    open_->hide();
    place();
    show();
    raise();
}

QString CardNotice::text() const {
    return label_->text();
}

void CardNotice::place() {
    QWidget* list = parentWidget();
    if (!list)
        return;
    // As tall as the wrapped text needs, at least one line.
    int buttons = dismiss_->sizeHint().width() +
                  (open_->isVisibleTo(this) ? open_->sizeHint().width() + 6 : 0);
    const int textWidth = std::max(40, list->width() - buttons - 26);
    const int h = std::max(kHeight, label_->heightForWidth(textWidth) + 8);
    setGeometry(0, list->height() - h, list->width(), h);
}

bool CardNotice::eventFilter(QObject* watched, QEvent* e) {
    if (watched == parentWidget() && e->type() == QEvent::Resize)
        place();
    return QFrame::eventFilter(watched, e);
}

}  // namespace orvik::shell
