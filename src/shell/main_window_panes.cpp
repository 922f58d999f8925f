// The two video panes and their players.
#include "playback/media_player.h"
#include "playback/video_pane.h"
#include "shell/main_window.h"
#include "shell/private_messages.h"
#include "shell/skin.h"

namespace orvik::shell {
namespace {

QImage picture(int imageId) {
    const SkinImage* img = SkinRegistry::instance().image(imageId);
    return img && !img->isNull() ? img->slice(-1).toImage() : QImage();
}

}  // namespace

void MainWindow::createVideoPanes() {
    using playback::VideoPane;
    frontPane_ = new VideoPane(this, VideoPane::kFrontChannel);
    rearPane_ = new VideoPane(this, VideoPane::kRearChannel);
    struct {
        VideoPane* pane;
        const char* name;
        QRect rect;
        int image;
    } panes[] = {{frontPane_, "frontPane", kFrontPaneRect, skin::kFrontPicture},
                 {rearPane_, "rearPane", kRearPaneRect, skin::kRearPicture}};
    for (const auto& p : panes) {
        p.pane->setObjectName(QString::fromLatin1(p.name));
        p.pane->setGeometry(p.rect);
        p.pane->setBackground(picture(p.image));
        p.pane->setMessageWindow(this);
        p.pane->setMouseTracking(true);
        p.pane->show();
    }
    rearPane_->raise();
    frontPaneWidget_ = frontPane_;
    rearPaneWidget_ = rearPane_;

    // The front player tells the window when its core has events.
    frontPlayer_ = new playback::MediaPlayer(frontPane_);
    frontPlayer_->SetEventWindow(this, WM_GRAPH_EVENT);
    frontPane_->setPlayer(frontPlayer_);
    rearPlayer_ = new playback::MediaPlayer(rearPane_);
    rearPane_->setPlayer(rearPlayer_);
}

void MainWindow::destroyVideoPanes() {
    // Players first: each one draws into its pane until it is gone.
    for (playback::MediaPlayer** player : {&frontPlayer_, &rearPlayer_}) {
        if (*player) {
            (void)(*player)->Stop();
            delete *player;
            *player = nullptr;
        }
    }
    if (frontPane_)
        frontPane_->setPlayer(nullptr);
    if (rearPane_)
        rearPane_->setPlayer(nullptr);
}

}  // namespace orvik::shell
