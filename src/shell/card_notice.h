#pragma once
// A one-line notice over the bottom of the recording list: a message, and for an inserted card
// the buttons Open, Import and Dismiss; while a card is imported its progress with Cancel. It
// never takes the focus from playback or blocks the window.
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
    // Work in progress with Cancel only.
    void showProgress(const QString& text);

    QString text() const;
    QString offeredRoot() const { return root_; }
    QPushButton* openButton() const { return open_; }
    QPushButton* dismissButton() const { return dismiss_; }
    QPushButton* importButton() const { return import_; }
    QPushButton* cancelButton() const { return cancel_; }

  signals:
    void openRequested(const QString& root);
    void importRequested(const QString& root);
    void cancelRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void place();
    void showButtons(bool open, bool import, bool dismiss, bool cancel);
    QLabel* label_;
    QPushButton* open_;
    QPushButton* import_;
    QPushButton* dismiss_;
    QPushButton* cancel_;
    QString root_;
};

}  // namespace orvik::shell
