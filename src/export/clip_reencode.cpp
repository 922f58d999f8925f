// Clips decoded, laid out, captioned and encoded whole: one pipeline and one encoder over all
// the pieces, so the layout and the caption run on across a boundary.
#include <cmath>

#include "export/clip_job.h"
#include "export/h264.h"

namespace orvik::exporting::detail {

Result<void> ClipJob::pullPipeline() {
    const AVRational outTb = pipe_->outTimeBase();
    PacketPtr pkt = makePacket();
    for (;;) {
        auto out = pipe_->pull();
        if (!out)
            return makeError(out.error());
        if (!*out)
            return {};
        AVFrame* f = out->get();
        auto it = fragmentStarts_.upper_bound(f->pts);
        std::optional<std::uint64_t> source;
        if (!fragmentStarts_.empty())
            source = it == fragmentStarts_.begin() ? it->second : std::prev(it)->second;
        f->pict_type = AV_PICTURE_TYPE_NONE;
        if (firstOut_ || source != lastOutSource_)
            f->pict_type = AV_PICTURE_TYPE_I;  // a fragment starts with a keyframe
        firstOut_ = false;
        lastOutSource_ = source;
        f->pts = av_rescale_q(f->pts, outTb, enc_.ctx->time_base);
        fragmentOfPts_[f->pts] = source;
        ++report_.encodedFrames;
        const int rc = avcodec_send_frame(enc_.ctx, f);
        if (rc < 0)
            return makeError("cannot encode: " + avErrorText(rc));
        if (auto r = drainEncoder(enc_.ctx, pkt.get(), false); !r)
            return r;
    }
}

// The piece decoded, laid out, captioned and handed to the clip's encoder.
Result<void> ClipJob::reencodePiece() {
    report_.method = ClipMethod::Reencode;
    InputMedia& m = *main_;
    const AVRational tb = m.video()->time_base;
    const std::int64_t fromPts = rangeStartPts();
    const std::int64_t toPts = rangeEndPts();
    const std::int64_t origin = m.toPts(from_);

    if (!m.decoder()) {
        if (auto r = m.openDecoder(); !r)
            return r;
    }
    if (auto r = m.seekTo(from_); !r)
        return r;
    const auto onAudio = [this](AVPacket* p) { audio_->offer(p); };
    auto firstFrame = m.nextFrame(fromPts, onAudio);
    if (!firstFrame)
        return makeError(firstFrame.error());
    FramePtr frame = std::move(*firstFrame);
    if (!frame || frame->pts >= toPts)
        return makeError("the range holds no frame of '" + m.path() + "'");

    std::optional<FramePipeline::Input> insetInput;
    FramePtr insetFrame;
    std::int64_t insetOrigin = 0, insetFromPts = 0;
    if (inset_) {
        if (auto r = inset_->openDecoder(); !r)
            return r;
        if (auto r = inset_->seekTo(from_); !r)
            return r;
        insetOrigin = inset_->toPts(from_);
        insetFromPts = insetOrigin - inset_->halfFramePts();
        auto f = inset_->nextFrame(insetFromPts);
        if (!f)
            return makeError(f.error());
        insetFrame = std::move(*f);
        if (!insetFrame)
            return makeError("the range holds no frame of '" + inset_->path() + "'");
        insetInput = FramePipeline::Input{
            insetFrame->width, insetFrame->height, static_cast<AVPixelFormat>(insetFrame->format),
            inset_->video()->time_base, insetFrame->sample_aspect_ratio};
    }
    if (!pipe_) {
        const FramePipeline::Input mainInput{frame->width, frame->height,
                                             static_cast<AVPixelFormat>(frame->format), tb,
                                             frame->sample_aspect_ratio};
        auto pipeline = FramePipeline::create(mainInput, insetInput, rq_.layout, rq_.caption,
                                              AV_PIX_FMT_YUV420P);
        if (!pipeline)
            return makeError(pipeline.error());
        pipe_ = std::move(*pipeline);
        mainTb_ = tb;
        insetTb_ = inset_ ? inset_->video()->time_base : AVRational{1, 1};
        mainWidth_ = frame->width;
        mainHeight_ = frame->height;
        if (auto r = openEncoder(enc_, pipe_->outWidth(), pipe_->outHeight(), pipe_->outTimeBase(),
                                 m.frameRate(), AVRational{1, 1}, true);
            !r)
            return r;
        AVCodecParameters* par = avcodec_parameters_alloc();
        avcodec_parameters_from_context(par, enc_.ctx);
        auto opened = openMuxer(par, enc_.ctx->time_base, m.frameRate());
        avcodec_parameters_free(&par);
        if (!opened)
            return opened;
    } else if (frame->width != mainWidth_ || frame->height != mainHeight_) {
        return makeError(m.path() +
                         " has pictures of another size than the recordings before it; "
                         "export it as a clip of its own");
    }
    const AVRational outTb = pipe_->outTimeBase();
    // From the piece's pts to the pipeline's.
    const std::int64_t mainShift = std::llround(clipStart_ / av_q2d(mainTb_));
    const std::int64_t insetShift = std::llround(clipStart_ / av_q2d(insetTb_));

    while (frame && frame->pts < toPts) {
        const double seconds = m.toSeconds(frame->pts);
        if (!reportProgress(seconds - from_))
            return makeError("cancelled");
        const std::int64_t rel = av_rescale_q(frame->pts - origin, tb, mainTb_) + mainShift;
        std::optional<std::uint64_t> source = sourceKey(m.fragmentAt(frame->pkt_pos));
        if (!source)
            source = lastInSource_;
        if (source && source != lastInSource_)
            fragmentStarts_[av_rescale_q(rel, mainTb_, outTb)] = source;
        lastInSource_ = source;
        if (rq_.caption) {
            if (auto r = pipe_->setCaption(captionFor(m, seconds, rq_.speedUnit)); !r)
                return r;
        }
        // The inset's frames up to this moment go in first, so the layout pairs them.
        while (insetFrame &&
               inset_->toSeconds(insetFrame->pts) <= seconds + inset_->frameDuration() / 4) {
            insetFrame->pts =
                av_rescale_q(insetFrame->pts - insetOrigin, inset_->video()->time_base, insetTb_) +
                insetShift;
            if (auto r = pipe_->pushInset(insetFrame.get()); !r)
                return r;
            auto f = inset_->nextFrame(insetFromPts);
            if (!f)
                return makeError(f.error());
            insetFrame = std::move(*f);
        }
        frame->pts = rel;
        countFrame(static_cast<double>(rel) * av_q2d(mainTb_), false);
        if (auto r = pipe_->pushMain(frame.get()); !r)
            return r;
        if (auto r = pullPipeline(); !r)
            return r;
        auto next = m.nextFrame(fromPts, onAudio);
        if (!next)
            return makeError(next.error());
        frame = std::move(*next);
    }
    // The inset's next frame lets the layout release the piece's last picture at the clip's
    // end; within the clip the next piece's frames do that.
    if (piece_ + 1 == pieces_.size() && insetFrame && inset_->toSeconds(insetFrame->pts) < to_) {
        insetFrame->pts =
            av_rescale_q(insetFrame->pts - insetOrigin, inset_->video()->time_base, insetTb_) +
            insetShift;
        (void)pipe_->pushInset(insetFrame.get());
    }
    return {};
}

Result<void> ClipJob::finishReencode() {
    if (!pipe_)
        return makeError("the clip holds no frame");
    if (insets_.front()) {
        if (auto r = pipe_->pushInset(nullptr); !r)
            return r;
    }
    if (auto r = pipe_->pushMain(nullptr); !r)
        return r;
    if (auto r = pullPipeline(); !r)
        return r;
    PacketPtr pkt = makePacket();
    avcodec_send_frame(enc_.ctx, nullptr);
    return drainEncoder(enc_.ctx, pkt.get(), false);
}

}  // namespace orvik::exporting::detail
