#include "shell/recording_list.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDate>
#include <QHeaderView>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTime>

#include "platform/strings.h"
#include "shell/list_pictures.h"
#include "shell/skin.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using ui_common::uiText;

namespace {

// Rows as the style allows them at least (the header's minimum wins over a smaller size), and
// tall enough for a picture with a margin while the picture column is shown.
constexpr int kRowHeight = 20;
constexpr int kPictureRowHeight = 40;

// The Type column: the kind icon hard at the left, the label right after it, so the label
// still fits the narrow column beside the wide icon.
class TypeColumnDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const QWidget* w = opt.widget;
        QStyle* style = w ? w->style() : QApplication::style();
        opt.text.clear();
        opt.icon = QIcon();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, p, w);
        const QPixmap icon = index.data(Qt::DecorationRole).value<QPixmap>();
        int x = opt.rect.left() + 4;
        if (!icon.isNull()) {
            p->drawPixmap(opt.rect.left() + 1,
                          opt.rect.top() + (opt.rect.height() - icon.height()) / 2, icon);
            x = opt.rect.left() + 1 + kIconArtWidth + 4;
        }
        const bool selected = opt.state & QStyle::State_Selected;
        p->setPen(selected ? opt.palette.color(QPalette::HighlightedText)
                           : index.data(Qt::ForegroundRole).value<QColor>());
        p->setFont(opt.font);
        const QRect textRect(x, opt.rect.top(), opt.rect.right() - x - 1, opt.rect.height());
        const QString text =
            opt.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, textRect.width());
        p->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    // The visible part of each 53-pixel icon; the rest of the slice is see-through.
    static constexpr int kIconArtWidth = 44;
};

// The picture column: the row's picture once it has been made, a pale frame while it is made,
// nothing for a recording that has none.
class PictureColumnDelegate : public QStyledItemDelegate {
  public:
    PictureColumnDelegate(QObject* parent, ListPictures& pictures)
        : QStyledItemDelegate(parent), pictures_(pictures) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const QWidget* w = opt.widget;
        (w ? w->style() : QApplication::style())
            ->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, p, w);
        const QString path = index.siblingAtColumn(RecordingListModel::FullPath).data().toString();
        const QRect box(opt.rect.left() + (opt.rect.width() - ListPictures::kWidth) / 2,
                        opt.rect.top() + 2, ListPictures::kWidth, opt.rect.height() - 4);
        if (const QPixmap* picture = pictures_.picture(path, index.row())) {
            const QPixmap fitted =
                picture->height() > box.height() ? picture->scaledToHeight(box.height()) : *picture;
            p->drawPixmap(box.left() + (box.width() - fitted.width()) / 2,
                          box.top() + (box.height() - fitted.height()) / 2, fitted);
        } else if (!pictures_.failed(path)) {
            p->fillRect(box, QColor(0xe8, 0xeb, 0xef));
        }
    }

  private:
    ListPictures& pictures_;
};
}  // namespace

int RecordingListModel::columnWidth(int column) {
    static const int widths[ColumnCount] = {98, 85, 65, 186, 0, 0, 0, 72};
    return column >= 0 && column < ColumnCount ? widths[column] : 0;
}

Qt::Alignment RecordingListModel::columnAlignment(int column) {
    return (column == Date || column == Time ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

RecordingListModel::RecordingListModel(QObject* parent) : QAbstractTableModel(parent) {
    if (const SkinImage* img = SkinRegistry::instance().image(skin::kListIcons))
        for (int i = 0; i < img->sliceCount(); ++i)
            icons_.push_back(img->slice(i));
    refreshTexts();
}

void RecordingListModel::refreshTexts() {
    using recordings::RecordingKind;
    for (int k = 0; k < 5; ++k)
        kindLabels_[k] = uiText(recordings::kindStringId(RecordingKind(k)));
    for (size_t i = 0; i < rows_.size(); ++i) {
        dates_[i] = dateText(rows_[i]);
        times_[i] = timeText(rows_[i]);
    }
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

QString RecordingListModel::dateText(const recordings::RecordingFile& f) {
    const auto& t = f.timestamp;
    const QDate date(t.year, t.month, t.day);
    if (!t.validDate() || !date.isValid())
        return QStringLiteral(" ");
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

QString RecordingListModel::timeText(const recordings::RecordingFile& f) {
    const auto& t = f.timestamp;
    if (!t.validDate())
        return QStringLiteral(" ");
    const QTime time(t.hour, t.minute, t.second);
    // A real date with an impossible time (hour 24 and above) shows no time either.
    if (!time.isValid())
        return QStringLiteral(" ");
    return QLocale::system().toString(time, QStringLiteral("HH:mm:ss"));
}

void RecordingListModel::setRows(std::vector<recordings::RecordingFile> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    dates_.resize(rows_.size());
    times_.resize(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) {
        dates_[i] = dateText(rows_[i]);
        times_[i] = timeText(rows_[i]);
    }
    endResetModel();
}

const recordings::RecordingFile* RecordingListModel::row(int index) const {
    return index >= 0 && index < static_cast<int>(rows_.size()) ? &rows_[index] : nullptr;
}

void RecordingListModel::setCurrentRow(int row) {
    const int old = currentRow_;
    currentRow_ = row;
    for (int r : {old, row})
        if (r >= 0 && r < rowCount())
            emit dataChanged(index(r, 0), index(r, ColumnCount - 1), {Qt::BackgroundRole});
}

int RecordingListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RecordingListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RecordingListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const auto& f = rows_[index.row()];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            switch (index.column()) {
                case Type:
                    return kindLabels_[std::clamp(static_cast<int>(f.kind), 0, 4)];
                case Date:
                    return dates_[index.row()];
                case Time:
                    return times_[index.row()];
                case FileName:
                    return role == Qt::ToolTipRole ? QString::fromStdString(f.fullPath)
                                                   : QString::fromStdString(f.name);
                case Key:
                    return QString::fromStdString(f.key);
                case Channel:
                    return QString::fromStdString(f.channelText());
                case FullPath:
                    return QString::fromStdString(f.fullPath);
            }
            return {};
        case Qt::DecorationRole:
            if (index.column() == Type) {
                const int icon = recordings::kindIconIndex(f.kind, f.channel);
                // Index 6 lies outside the six icons: User and Unknown rows have none.
                if (icon >= 0 && icon < static_cast<int>(icons_.size()))
                    return icons_[icon];
            }
            return {};
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(columnAlignment(index.column()));
        case Qt::ForegroundRole:
            return QColor(Qt::black);
        case Qt::BackgroundRole:
            return index.row() == currentRow_ ? QColor(200, 200, 255) : QColor(Qt::white);
    }
    return {};
}

QVariant RecordingListModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        static const int ids[ColumnCount] = {
            strings::shell::kTypeHeader,     strings::shell::kDateHeader,
            strings::shell::kTimeHeader,     strings::shell::kFileNameHeader,
            strings::shell::kFileNameHeader, strings::shell::kFileNameHeader,
            strings::shell::kFileNameHeader, strings::shell::kPictureHeader};
        return section >= 0 && section < ColumnCount ? uiText(ids[section]) : QVariant();
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columnAlignment(section));
    return {};
}

// ---- view --------------------------------------------------------------------------------------

RecordingListView::RecordingListView(QWidget* parent)
    : QTableView(parent), pictures_(new ListPictures(this, [this] { return visibleRows(); })) {
    setObjectName(QStringLiteral("1011"));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setIconSize(QSize(53, 16));
    setFont(SkinRegistry::instance().font(skin::kFontList));
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    // Fixed row height: 20 000 rows lay out without measuring each one.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setFixedHeight(22);
    horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(horizontalHeader(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { emit contextMenuAt(horizontalHeader()->mapToGlobal(p)); });
    connect(pictures_, &ListPictures::arrived, this, [this](int row) {
        if (picturesShown_ && model())
            viewport()->update(visualRect(model()->index(row, RecordingListModel::Picture)));
    });
    setFocusPolicy(Qt::ClickFocus);
    setStyleSheet(
        QStringLiteral("QTableView { background: #ffffff; color: #000000; gridline-color: #d4d8de;"
                       "  border: 1px solid #0b0d10; selection-background-color: #2f7fd8;"
                       "  selection-color: #ffffff; outline: 0; }"
                       "QHeaderView::section { background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
                       "  stop:0 #2c323b, stop:1 #1f242b); color: #c9d3de; border: none;"
                       "  border-right: 1px solid #14181d; border-bottom: 1px solid #0b0d10;"
                       "  padding: 0 6px; }"
                       "QTableView QTableCornerButton::section, QAbstractScrollArea::corner {"
                       "  background: #1a1e24; border: none; }"
                       "QScrollBar:vertical { background: #1a1e24; width: 12px; margin: 0; }"
                       "QScrollBar::handle:vertical { background: #4a5562; min-height: 24px;"
                       "  border-radius: 4px; margin: 2px; }"
                       "QScrollBar::handle:vertical:hover { background: #5d6b7b; }"
                       "QScrollBar::add-line, QScrollBar::sub-line { height: 0; width: 0; }"
                       "QScrollBar:horizontal { background: #1a1e24; height: 12px; margin: 0; }"
                       "QScrollBar::handle:horizontal { background: #4a5562; min-width: 24px;"
                       "  border-radius: 4px; margin: 2px; }"));
}

void RecordingListView::setListModel(RecordingListModel* model) {
    setModel(model);
    setItemDelegateForColumn(RecordingListModel::Type, new TypeColumnDelegate(this));
    setItemDelegateForColumn(RecordingListModel::Picture,
                             new PictureColumnDelegate(this, *pictures_));
    for (int c = 0; c < RecordingListModel::ColumnCount; ++c) {
        setColumnWidth(c, RecordingListModel::columnWidth(c));
        setColumnHidden(c, RecordingListModel::columnWidth(c) == 0);
    }
    // The picture leads the row, where it is seen without scrolling sideways.
    horizontalHeader()->moveSection(horizontalHeader()->visualIndex(RecordingListModel::Picture),
                                    0);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setStretchLastSection(false);
    connect(model, &QAbstractItemModel::modelReset, pictures_, &ListPictures::rowsChanged);
    setPicturesShown(picturesShown_);
}

void RecordingListView::setPicturesShown(bool shown) {
    picturesShown_ = shown;
    setColumnHidden(RecordingListModel::Picture, !shown);
    verticalHeader()->setDefaultSectionSize(shown ? kPictureRowHeight : kRowHeight);
}

std::pair<int, int> RecordingListView::visibleRows() const {
    if (!model() || model()->rowCount() == 0)
        return {-1, -1};
    const int first = rowAt(0);
    const int last = rowAt(viewport()->height() - 1);
    return {first, last < 0 ? model()->rowCount() - 1 : last};
}

std::vector<int> RecordingListView::selectedRowsInOrder() const {
    std::vector<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& i : selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void RecordingListView::setEmptyText(const QString& text) {
    emptyText_ = text;
    viewport()->update();
}

void RecordingListView::paintEvent(QPaintEvent* e) {
    QTableView::paintEvent(e);
    if (emptyText_.isEmpty() || (model() && model()->rowCount() > 0))
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, emptyText_);
}

void RecordingListView::mouseDoubleClickEvent(QMouseEvent* e) {
    const QModelIndex i = indexAt(e->position().toPoint());
    QTableView::mouseDoubleClickEvent(e);
    if (i.isValid() && e->button() == Qt::LeftButton)
        emit rowDoubleClicked(i.row());
}

void RecordingListView::contextMenuEvent(QContextMenuEvent* e) {
    if (model() && model()->rowCount() > 0)
        emit contextMenuAt(e->globalPos());
}

}  // namespace orvik::shell
