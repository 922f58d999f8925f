// The two video panes and their players.
#include <QPainter>

#include "shell/main_window.h"
#include "shell/skin.h"

namespace orvik::shell {
namespace {

// Stands in for a video pane until a player draws into it: the pane's idle picture.
class PicturePane : public QWidget {
  public:
    PicturePane(int imageId, QWidget* parent) : QWidget(parent), imageId_(imageId) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
        setFocusPolicy(Qt::ClickFocus);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        if (const SkinImage* img = SkinRegistry::instance().image(imageId_))
            img->drawStretched(p, rect());
    }

  private:
    int imageId_;
};

}  // namespace

void MainWindow::createVideoPanes() {
    auto* front = new PicturePane(skin::kFrontPicture, this);
    front->setObjectName(QStringLiteral("frontPane"));
    front->setGeometry(kFrontPaneRect);
    auto* rear = new PicturePane(skin::kRearPicture, this);
    rear->setObjectName(QStringLiteral("rearPane"));
    rear->setGeometry(kRearPaneRect);
    rear->raise();
    front->show();
    rear->show();
    frontPaneWidget_ = front;
    rearPaneWidget_ = rear;
}

void MainWindow::destroyVideoPanes() {
    frontPlayer_ = nullptr;
    rearPlayer_ = nullptr;
}

}  // namespace orvik::shell
