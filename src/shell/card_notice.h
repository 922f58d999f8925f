#pragma once
// A one-line notice over the bottom of the recording list: a message, and for an inserted card
// the buttons Open and Dismiss. It never takes the focus from playback or blocks the window.
#include <QFrame>
#include <QString>

class QLabel;
class QPushButton;

namespace orvik::shell {

class CardNotice : public QFrame {
    Q_OBJECT
  public:
    static constexpr int kHeight = 34;
    explicit CardNotice(QWidget* list);

    // Offers to list the card at `root`.
    void offerCard(const QString& root, const QString& name);
    // A message with Dismiss only.
    void showMessage(const QString& text);

    QString text() const;
    QString offeredRoot() const { return root_; }
    QPushButton* openButton() const { return open_; }
    QPushButton* dismissButton() const { return dismiss_; }

  signals:
    void openRequested(const QString& root);

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void place();
    QLabel* label_;
    QPushButton* open_;
    QPushButton* dismiss_;
    QString root_;
};

}  // namespace orvik::shell
