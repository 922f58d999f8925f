// Clips by stream copy, with the frames before the first keyframe of the range re-encoded.
#include <algorithm>
#include <cstring>

#include "export/clip_job.h"
#include "export/h264.h"

namespace orvik::exporting::detail {

// Stream copy, with the head re-encoded when the range does not start on a keyframe.
Result<void> ClipJob::copyOrSmartCut() {
    InputMedia& m = *main_;
    AVStream* v = m.video();
    const AVRational tb = v->time_base;
    const std::int64_t fromPts = rangeStartPts();
    const std::int64_t toPts = rangeEndPts();
    if (auto r = m.seekTo(from_); !r)
        return r;

    // Read up to the first frame of the range, keeping the packets from the keyframe before it
    // (at most leadLimitBytes of them: a file with few keyframes is decoded afresh instead).
    std::vector<PacketPtr> lead;
    std::size_t leadBytes = 0;
    PacketPtr pkt = makePacket();
    PacketPtr first;
    for (;;) {
        int rc = av_read_frame(m.format(), pkt.get());
        if (rc < 0)
            return makeError("the range holds no frame of '" + m.path() + "'");
        if (pkt->stream_index == m.audioIndex()) {
            audio_->offer(pkt.get());
        } else if (pkt->stream_index == m.videoIndex()) {
            if (pkt->pts != AV_NOPTS_VALUE && pkt->pts >= fromPts) {
                first.reset(av_packet_clone(pkt.get()));
                av_packet_unref(pkt.get());
                break;
            }
            if (pkt->flags & AV_PKT_FLAG_KEY) {
                lead.clear();
                leadBytes = 0;
            }
            leadBytes += static_cast<std::size_t>(std::max(pkt->size, 0));
            if (leadBytes > rq_.leadLimitBytes) {
                av_packet_unref(pkt.get());
                lead.clear();
                return encodeInstead();
            }
            lead.emplace_back(av_packet_clone(pkt.get()));
        }
        av_packet_unref(pkt.get());
    }
    if (!first || first->pts >= toPts)
        return makeError("the range holds no frame of '" + m.path() + "'");

    // A range whose first frame is the last one before a keyframe starts on that keyframe: one
    // frame shorter, within the cut's tolerance, and copied; re-encoding that one frame would
    // mean decoding the whole group of pictures before it.
    PacketPtr pending;  // read ahead; handed out before the demuxer's next packet
    if (!(first->flags & AV_PKT_FLAG_KEY)) {
        PacketPtr peek = makePacket();
        while (av_read_frame(m.format(), peek.get()) >= 0) {
            if (peek->stream_index == m.videoIndex()) {
                pending = std::move(peek);
                break;
            }
            if (peek->stream_index == m.audioIndex())
                audio_->offer(peek.get());
            av_packet_unref(peek.get());
        }
        if (pending && (pending->flags & AV_PKT_FLAG_KEY) && pending->pts != AV_NOPTS_VALUE &&
            pending->pts < toPts)
            first = std::move(pending);
    }
    const auto readPacket = [&](PacketPtr& p) {
        if (pending) {
            p = std::move(pending);
            return true;
        }
        return av_read_frame(m.format(), p.get()) >= 0;
    };
    const std::int64_t origin = first->pts;  // the piece's start in the clip
    // From the piece's pts to the clip's.
    const std::int64_t shift =
        static_cast<std::int64_t>(std::llround(clipStart_ / av_q2d(tb))) - origin;
    audio_->startAt(m.toSeconds(origin));

    const std::vector<std::uint8_t> parameterSets = parameterSetsOf(v->codecpar);
    const bool startsOnKey = (first->flags & AV_PKT_FLAG_KEY) != 0;
    if (!startsOnKey && parameterSets.empty())
        return encodeInstead();  // not an H.264 stream that can be spliced

    if (!mux_) {
        if (auto r = openMuxer(v->codecpar, tb, m.frameRate()); !r)
            return r;
    }

    bool needParameterSets = false;
    PacketPtr next = std::move(first);
    if (!startsOnKey) {
        report_.method = ClipMethod::SmartCut;
        // Decode from the keyframe before the range, encode the frames up to the next keyframe.
        if (auto r = m.openDecoder(); !r)
            return r;
        EncoderPtr enc;
        if (auto r = openEncoder(enc, m.decoder()->width, m.decoder()->height, tb, m.frameRate(),
                                 m.decoder()->sample_aspect_ratio, false);
            !r)
            return r;
        FramePtr frame = makeFrame();
        PacketPtr out = makePacket();
        const auto encodeDecoded = [&]() -> Result<void> {
            for (;;) {
                int rc = avcodec_receive_frame(m.decoder(), frame.get());
                if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                    return {};
                if (rc < 0)
                    return makeError("cannot decode '" + m.path() + "': " + avErrorText(rc));
                const std::int64_t pts = frame->best_effort_timestamp;
                if (pts >= fromPts && pts < toPts) {
                    const std::int64_t clipPts = pts + shift;
                    fragmentOfPts_[clipPts] = sourceKey(m.fragmentAt(frame->pkt_pos));
                    frame->pts = clipPts;
                    frame->pict_type = pts == origin ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
                    countFrame(static_cast<double>(clipPts) * av_q2d(tb), true);
                    if (!reportProgress(m.toSeconds(pts) - from_))
                        return makeError("cancelled");
                    rc = avcodec_send_frame(enc.ctx, frame.get());
                    if (rc < 0)
                        return makeError("cannot encode: " + avErrorText(rc));
                    if (auto r = drainEncoder(enc.ctx, out.get(), true); !r)
                        return r;
                }
                av_frame_unref(frame.get());
            }
        };
        for (PacketPtr& p : lead) {
            avcodec_send_packet(m.decoder(), p.get());
            if (auto r = encodeDecoded(); !r)
                return r;
        }
        // Feed the range's packets until the next keyframe (or the end of the range).
        for (;;) {
            if (next->stream_index == m.videoIndex()) {
                if ((next->flags & AV_PKT_FLAG_KEY) || next->pts >= toPts)
                    break;
                avcodec_send_packet(m.decoder(), next.get());
                if (auto r = encodeDecoded(); !r)
                    return r;
            } else {
                audio_->offer(next.get());
            }
            av_packet_unref(next.get());
            if (!readPacket(next)) {
                next.reset();
                break;
            }
        }
        avcodec_send_packet(m.decoder(), nullptr);
        if (auto r = encodeDecoded(); !r)
            return r;
        avcodec_send_frame(enc.ctx, nullptr);
        if (auto r = drainEncoder(enc.ctx, out.get(), true); !r)
            return r;
        needParameterSets = true;
    }

    // Copy the rest of the range.
    while (next) {
        if (next->stream_index == m.audioIndex()) {
            audio_->offer(next.get());
        } else if (next->stream_index == m.videoIndex()) {
            if (next->pts != AV_NOPTS_VALUE && next->pts >= toPts)
                break;
            const double clipSeconds = static_cast<double>(next->pts + shift) * av_q2d(tb);
            if (!reportProgress(static_cast<double>(next->pts - origin) * av_q2d(tb)))
                return makeError("cancelled");
            if (auto r = beforeVideoPacket(sourceKey(m.fragmentAt(next->pos)), clipSeconds); !r)
                return r;
            PacketPtr copy(av_packet_clone(next.get()));
            copy->pts += shift;
            copy->dts = copy->dts == AV_NOPTS_VALUE ? copy->pts : copy->dts + shift;
            if (needParameterSets && (copy->flags & AV_PKT_FLAG_KEY)) {
                // The encoded head brought its own parameter sets; give the decoder back the
                // source's before the first copied picture.
                PacketPtr joined = makePacket();
                if (av_new_packet(joined.get(),
                                  static_cast<int>(parameterSets.size()) + copy->size) < 0)
                    return makeError("out of memory");
                std::memcpy(joined->data, parameterSets.data(), parameterSets.size());
                std::memcpy(joined->data + parameterSets.size(), copy->data,
                            static_cast<std::size_t>(copy->size));
                av_packet_copy_props(joined.get(), copy.get());
                copy = std::move(joined);
                needParameterSets = false;
            }
            countFrame(clipSeconds, false);
            if (auto r = mux_->writeVideo(copy.get(), tb); !r)
                return r;
        }
        av_packet_unref(next.get());
        if (!readPacket(next))
            break;
    }
    return {};
}

Result<void> ClipJob::encodeInstead() {
    // Once the first piece has started a copied stream, the others must join it as they are.
    if (mux_)
        return makeError("cannot join " + main_->path() +
                         " to the recordings before it without encoding the whole clip; "
                         "ask for a layout to have it encoded");
    reencoding_ = true;
    audio_->restartPiece(from_);
    return reencodePiece();
}

}  // namespace orvik::exporting::detail
