#pragma once
// The "SD Card Format" dialog: shows the card's file system and allocation unit, and on Start
// saves the camera settings away, formats the card FAT32, labels it and puts the settings back.
// The work runs on a worker thread; the dialog shows its progress and keeps its buttons
// disabled until it ends.
#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

#include "card_format/card_format.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QThread;

namespace orvik::card_format::ui {

class CardFormatDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 134;

    // The card behind `sourcePath` (the configuration file found on it, or its root folder).
    explicit CardFormatDialog(const QString& sourcePath, QWidget* parent = nullptr);
    // A card already resolved (or the reason it could not be).
    CardFormatDialog(const Result<CardTarget>& target, QWidget* parent = nullptr);
    ~CardFormatDialog() override;

    // The options every run uses; tests point the copy folder elsewhere and skip the remount.
    CardFormatRequest& request() { return request_; }
    bool hasTarget() const { return target_.has_value(); }
    bool isRunning() const { return worker_ != nullptr; }
    const std::optional<CardFormatOutcome>& lastOutcome() const { return outcome_; }

    // Button 1.
    void start();

    // Asked when the card's configuration file cannot be read or kept: true formats all the same
    // (the settings are lost). The default shows a message box; tests answer it themselves.
    using DiscardQuestion = std::function<bool(const QString& text)>;
    void setDiscardQuestion(DiscardQuestion question) { discardQuestion_ = std::move(question); }

  signals:
    // A run ended (after its message was shown).
    void runFinished(bool succeeded);

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void build();
    void fill(const Result<CardTarget>& target);
    void setRunning(bool running);
    void onStep(CardFormatStep step);
    void onProgress(quint64 written, quint64 total);
    void onWorkerDone();
    bool askDiscard(const QString& text);

    std::optional<CardTarget> target_;
    CardFormatRequest request_;
    std::optional<CardFormatOutcome> outcome_;
    DiscardQuestion discardQuestion_;
    bool discardOnce_ = false;  // the user agreed to lose the settings for the next run
    CardFormatOutcome pending_;
    QThread* worker_ = nullptr;
    QComboBox* allocation_ = nullptr;
    QComboBox* fileSystem_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* close_ = nullptr;
};

// Command 3003 of the settings editor: the card of the remembered configuration file
// (`rememberedPath`), or else a card root chosen in a folder browser (anything else is refused
// with text 301). `parent` owns the dialogs.
void startCardFormat(QWidget* parent, const QString& rememberedPath);

}  // namespace orvik::card_format::ui
