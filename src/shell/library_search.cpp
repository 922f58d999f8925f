#include "shell/library_search.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "displays/map_host.h"
#include "recordings/recording_file.h"
#include "strings/string_ids.h"
#include "ui_common/background.h"
#include "ui_common/dialog_look.h"
#include "ui_common/ui_common.h"

namespace orvik::shell {

using recordings::RecordingKind;
using ui_common::uiText;
namespace text = strings::shell;

namespace {

constexpr int kDefaultRadiusMetres = 500;
constexpr int kMaxRadiusMetres = 100'000;

// The camera's local time of a day's first (or last) second, as the index counts it.
std::int64_t daySeconds(const QDate& day, bool endOfDay) {
    constexpr std::int64_t kDay = 86'400;
    return QDate(1970, 1, 1).daysTo(day) * kDay + (endOfDay ? kDay - 1 : 0);
}

QDateEdit* makeDateEdit(QWidget* parent) {
    auto* edit = new QDateEdit(QDate::currentDate(), parent);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setEnabled(false);
    return edit;
}

struct Outcome {
    std::vector<library::SearchHit> hits;
    std::string error;
};

}  // namespace

LibrarySearchDialog::LibrarySearchDialog(QWidget* parent, std::string libraryFolder,
                                         std::optional<displays::MapPoint> point)
    : QDialog(parent), folder_(std::move(libraryFolder)), point_(point) {
    setObjectName(QStringLiteral("LibrarySearch"));
    setWindowTitle(uiText(text::kLibraryFindTitle).arg(QString::fromStdString(folder_)));
    ui_common::applyDialogLook(this);

    auto* form = new QFormLayout;
    // An unticked end leaves the range open on that side.
    auto dateRow = [&](QCheckBox*& box, QDateEdit*& edit, int label) {
        box = new QCheckBox(uiText(label), this);
        edit = makeDateEdit(this);
        connect(box, &QCheckBox::toggled, edit, &QWidget::setEnabled);
        form->addRow(box, edit);
    };
    dateRow(fromBox_, fromDate_, text::kLibraryFrom);
    dateRow(toBox_, toDate_, text::kLibraryTo);

    kind_ = new QComboBox(this);
    kind_->addItem(uiText(text::kLibraryAnyKind));
    const std::pair<int, RecordingKind> kinds[] = {{text::kLibraryAlways, RecordingKind::Always},
                                                   {text::kLibraryEvent, RecordingKind::Event},
                                                   {text::kLibraryUser, RecordingKind::User},
                                                   {text::kLibraryPark, RecordingKind::Park}};
    for (const auto& [label, kind] : kinds)
        kind_->addItem(uiText(label), static_cast<int>(kind));
    form->addRow(uiText(text::kLibraryKind), kind_);

    nearBox_ = new QCheckBox(this);
    radius_ = new QSpinBox(this);
    radius_->setRange(10, kMaxRadiusMetres);
    radius_->setSingleStep(100);
    radius_->setValue(kDefaultRadiusMetres);
    radius_->setSuffix(uiText(text::kLibraryMetres));
    radius_->setEnabled(false);
    if (point_) {
        nearBox_->setText(uiText(text::kLibraryNear)
                              .arg(point_->latitude, 0, 'f', 5)
                              .arg(point_->longitude, 0, 'f', 5));
        connect(nearBox_, &QCheckBox::toggled, radius_, &QWidget::setEnabled);
    } else {
        nearBox_->setText(uiText(text::kLibraryNoPoint));
        nearBox_->setEnabled(false);
    }
    auto* nearRow = new QHBoxLayout;
    nearRow->addWidget(nearBox_, 1);
    nearRow->addWidget(radius_);

    // A rectangle dragged on a map of the dialog's own: while the box is ticked a drag draws the
    // area instead of moving the map.
    areaBox_ = new QCheckBox(uiText(text::kLibraryArea), this);
    map_ = new displays::MapHost(this);
    map_->setObjectName(QStringLiteral("libraryMap"));
    map_->setFixedSize(420, 240);
    map_->loadPage();
    if (point_)
        map_->callPageFunction(
            QStringLiteral("setLatLag"),
            {QString::fromStdString(displays::formatCoordinate(point_->longitude)),
             QString::fromStdString(displays::formatCoordinate(point_->latitude)),
             QStringLiteral("1")});
    connect(areaBox_, &QCheckBox::toggled, this, [this](bool on) {
        map_->callPageFunction(QStringLiteral("setAreaMode"),
                               {on ? QStringLiteral("1") : QStringLiteral("0")});
        if (!on) {
            area_.reset();
            areaBox_->setText(uiText(text::kLibraryArea));
        }
    });
    connect(
        map_, &displays::MapHost::pageEvent, this,
        [this](const QString& name, const QJsonArray& args) {
            if (name != QLatin1String("areaChosen") || args.size() != 4 || !areaBox_->isChecked())
                return;
            library::GeoBox box{args[0].toDouble(), args[1].toDouble(), args[2].toDouble(),
                                args[3].toDouble()};
            areaChosen(box);
        });

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    // An answer belongs to the question it answered: a changed question takes it away.
    const auto forgetAnswer = [this] {
        if (search_ && search_->isEnabled())
            status_->clear();
    };
    for (QCheckBox* box : {fromBox_, toBox_, nearBox_, areaBox_})
        connect(box, &QCheckBox::toggled, this, forgetAnswer);
    for (QDateEdit* edit : {fromDate_, toDate_})
        connect(edit, &QDateEdit::dateChanged, this, forgetAnswer);
    connect(kind_, &QComboBox::currentIndexChanged, this, forgetAnswer);
    connect(radius_, &QSpinBox::valueChanged, this, forgetAnswer);
    connect(map_, &displays::MapHost::pageEvent, this, [forgetAnswer](const QString& name) {
        if (name == QLatin1String("areaChosen"))
            forgetAnswer();
    });

    auto* buttons = new QDialogButtonBox(this);
    search_ = buttons->addButton(uiText(text::kLibrarySearch), QDialogButtonBox::AcceptRole);
    search_->setDefault(true);
    QPushButton* close =
        buttons->addButton(uiText(text::kLibraryClose), QDialogButtonBox::RejectRole);
    connect(search_, &QPushButton::clicked, this, &LibrarySearchDialog::startSearch);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(nearRow);
    layout->addWidget(areaBox_);
    layout->addWidget(map_, 0, Qt::AlignHCenter);
    layout->addWidget(status_);
    layout->addWidget(buttons);
}

library::SearchQuery LibrarySearchDialog::query() const {
    library::SearchQuery q;
    if (fromBox_->isChecked())
        q.from = daySeconds(fromDate_->date(), false);
    if (toBox_->isChecked())
        q.to = daySeconds(toDate_->date(), true);
    if (const QVariant kind = kind_->currentData(); kind.isValid())
        q.kind = static_cast<RecordingKind>(kind.toInt());
    if (point_ && nearBox_->isChecked())
        q.near = library::GeoCircle{point_->latitude, point_->longitude,
                                    static_cast<double>(radius_->value())};
    if (area_ && areaBox_->isChecked())
        q.box = area_;
    return q;
}

void LibrarySearchDialog::areaChosen(const library::GeoBox& box) {
    // A click without a drag is no area.
    if (!(box.north > box.south) || box.east == box.west)
        return;
    area_ = box;
    areaBox_->setText(uiText(text::kLibraryAreaChosen)
                          .arg(box.south, 0, 'f', 5)
                          .arg(box.west, 0, 'f', 5)
                          .arg(box.north, 0, 'f', 5)
                          .arg(box.east, 0, 'f', 5));
}

void LibrarySearchDialog::startSearch() {
    search_->setEnabled(false);
    status_->setText(uiText(text::kLibrarySearching));
    // A big library on a slow disk (or one rebuilt first) must not stall the window.
    ui_common::runDetached(
        this,
        [folder = folder_, q = query()] {
            Outcome outcome;
            if (auto hits = library::searchLibrary(folder, q))
                outcome.hits = std::move(*hits);
            else
                outcome.error = hits.error();
            return outcome;
        },
        [this](const Outcome& outcome) {
            search_->setEnabled(true);
            if (!outcome.error.empty()) {
                status_->setText(
                    uiText(text::kLibrarySearchFailed).arg(QString::fromStdString(outcome.error)));
            } else if (outcome.hits.empty()) {
                status_->setText(uiText(text::kLibraryNoMatch));
            } else {
                status_->setText(uiText(text::kLibraryFound).arg(outcome.hits.size()));
                emit found(outcome.hits, QString::fromStdString(folder_));
                accept();
            }
        });
}

}  // namespace orvik::shell
