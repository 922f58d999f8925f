#include "device_config/ui/information_page.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <algorithm>

#include "device_config/opened_card.h"
#include "device_config/ui/position_window.h"
#include "device_config/ui/settings_page.h"
#include "strings/string_ids.h"
#include "ui_common/ui_common.h"

namespace orvik::device_config::ui {

using namespace ui_common;

namespace {

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

void DriveRouteModel::setRows(std::vector<DriveRouteRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

QStringList DriveRouteModel::headers() const {
    QStringList out;
    for (const DriveRouteColumn& column : driveRouteColumns()) {
        const QString text = uiText(column.stringId);
        out << (text.isEmpty() ? fromView(column.englishHeader) : text);
    }
    return out;
}

int DriveRouteModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int DriveRouteModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kDrvColumnCount);
}

QVariant DriveRouteModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromStdString(rows_[index.row()][index.column()]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignVCenter |
                                   (index.column() == 0 ? Qt::AlignLeft : Qt::AlignRight));
    return {};
}

QVariant DriveRouteModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return headers().at(section);
    if (role == Qt::ToolTipRole)
        return headers().at(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignVCenter |
                                   (section == 0 ? Qt::AlignLeft : Qt::AlignRight));
    return {};
}

InformationPage::InformationPage(QWidget* parent) : QWidget(parent) {
    setObjectName(idName(kResourceId));
    setFixedSize(kPageWidth, kPageHeight);
    model_ = new DriveRouteModel(this);

    list_ = new QTableView(this);
    list_->setObjectName(idName(3718));
    list_->setModel(model_);
    list_->setGeometry(0, 0, 626, 452);
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setWordWrap(false);
    list_->setAlternatingRowColors(true);
    list_->verticalHeader()->setVisible(false);
    list_->verticalHeader()->setDefaultSectionSize(20);
    list_->horizontalHeader()->setHighlightSections(false);
    list_->horizontalHeader()->setMinimumSectionSize(24);
    list_->horizontalHeader()->setTextElideMode(Qt::ElideRight);

    export_ = new QPushButton(uiText(3716), this);
    export_->setObjectName(idName(3716));
    export_->setGeometry(530, 462, 86, 21);
    open_ = new QPushButton(uiText(3719), this);
    open_->setObjectName(idName(3719));
    open_->setGeometry(430, 462, 86, 21);

    connect(open_, &QPushButton::clicked, this, &InformationPage::onOpen);
    connect(export_, &QPushButton::clicked, this, &InformationPage::onExport);
    connect(list_, &QTableView::doubleClicked, this, &InformationPage::showSelectionOnMap);
}

InformationPage::~InformationPage() {
    releaseMap();
}

void InformationPage::releaseMap() {
    if (position_)
        delete position_.data();
}

PositionWindow* InformationPage::positionWindow() const {
    return position_.data();
}

void InformationPage::openPage() {
    records_.clear();
    path_.clear();
    if (auto found = findDriveRouteOnCard(cardVolumes())) {
        path_ = QString::fromStdString(*found);
        readFile(path_);
    }
    refresh();
}

void InformationPage::readFile(const QString& path) {
    records_.clear();
    auto file = readDriveRouteFile(path.toStdString());
    if (file.ok())
        records_ = std::move(file->records);
    else
        showMessage(this, MessageIcon::Warning, uiText(strings::device_config::kErrorCaption),
                    uiFormat(strings::device_config::kReadFailed, path.toUtf8().constData(),
                             file.error().c_str()));
}

void InformationPage::refresh() {
    model_->setRows(buildDriveRouteTable(records_));
    // The listed widths, widened where the header text (English or Korean) would not fit.
    QHeaderView* header = list_->horizontalHeader();
    int column = 0;
    for (const DriveRouteColumn& c : driveRouteColumns()) {
        list_->setColumnWidth(column, std::max(c.width, header->sectionSizeHint(column)));
        ++column;
    }
}

void InformationPage::openFile(const QString& path) {
    path_ = path;
    readFile(path);
    refresh();
}

void InformationPage::onOpen() {
    FileDialogRequest request;
    request.save = false;
    request.title = uiText(strings::device_config::kOpenTitle);
    request.filters = {QStringLiteral("obd Files (*.obd)"), QStringLiteral("All Files (*.*)")};
    request.proposedName = fromView(kDrvFileName);
    request.defaultSuffix = QStringLiteral("drv");
    const QString path = askFileName(this, request);
    if (!path.isEmpty())
        openFile(path);
}

bool InformationPage::exportTo(const QString& path) {
    std::vector<std::string> headers;
    for (const QString& h : model_->headers())
        headers.push_back(h.toStdString());
    const SaveOutcome outcome = exportDriveRouteCsv(path.toStdString(), model_->rows(), headers);
    if (outcome.saved())
        return true;
    if (outcome.status != SaveStatus::Cancelled) {
        showMessage(
            this, MessageIcon::Critical, uiText(strings::device_config::kErrorCaption),
            uiFormat(strings::device_config::kExportFailed, path.toUtf8().constData(),
                     (outcome.status == SaveStatus::WriteProtected ? uiText(300).toStdString()
                                                                   : outcome.error)
                         .c_str()));
    }
    return false;
}

void InformationPage::onExport() {
    if (model_->rows().empty())
        return;
    FileDialogRequest request;
    request.save = true;
    request.title = uiText(strings::device_config::kExportTitle);
    request.filters = {QStringLiteral("CSV Files (*.csv)"), QStringLiteral("All Files (*.*)")};
    request.proposedName = fromView(kDrvCsvFileName);
    request.defaultSuffix = QStringLiteral("csv");
    const QString path = askFileName(this, request);
    if (!path.isEmpty())
        exportTo(path);
}

void InformationPage::showSelectionOnMap() {
    QModelIndexList selected = list_->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    if (selected.isEmpty())
        return;
    std::vector<DriveRouteRecord> chosen;
    for (const QModelIndex& index : selected)
        if (index.row() < static_cast<int>(records_.size()))
            chosen.push_back(records_[index.row()]);
    if (chosen.empty())
        return;

    if (!position_)
        position_ = new PositionWindow(window());
    for (const DriveRouteRecord& record : chosen)
        position_->showRecord(record);
    position_->showRoute(chosen);

    const QPoint topLeft = mapToGlobal(QPoint(0, 0));
    position_->setGeometry(topLeft.x() + kPositionOffsetX, topLeft.y(), PositionWindow::kWidth,
                           PositionWindow::kHeight);
    position_->show();
    position_->raise();
    update();
}

}  // namespace orvik::device_config::ui
