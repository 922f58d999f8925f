// Clips: the frames [from, to) of a recording as a recording of their own.
//
// Three ways, cheapest first (clip_copy.cpp, clip_reencode.cpp): stream copy when the first frame
// of the range is a keyframe; otherwise the frames up to the next keyframe are re-encoded and the
// rest copied (the copied part gets the source's parameter sets in-band, the encoded part its
// own); a layout with two channels or a caption re-encodes everything. Fragments follow the
// source's: each output fragment holds the frames of one source fragment and carries that
// fragment's telemetry area.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "export/clip_job.h"
#include "export/h264.h"
#include "recordings/telemetry.h"

namespace orvik::exporting {

namespace detail {

namespace {

std::size_t countRecords(const std::vector<std::uint8_t>& area) {
    std::size_t n = 0;
    for (std::size_t slot = 0; slot < recordings::kTelemetrySlotsPerFragment; ++slot) {
        const std::size_t at = slot * recordings::kTelemetrySlotSize + 2;
        if (at + recordings::kTelemetryRecordSize > area.size())
            break;
        const auto* b = reinterpret_cast<const std::byte*>(area.data() + at);
        n += recordings::parseTelemetryRecord(
                 std::span<const std::byte, recordings::kTelemetryRecordSize>(
                     b, recordings::kTelemetryRecordSize))
                 .has_value();
    }
    return n;
}

}  // namespace

AudioQueue::AudioQueue(const InputMedia& media, double from, double to) : media_(media) {
    if (const AVStream* a = media.audio()) {
        tb_ = a->time_base;
        startPts_ = a->start_time != AV_NOPTS_VALUE ? a->start_time : 0;
        toPts_ = startPts_ + static_cast<std::int64_t>(std::llround(to / av_q2d(tb_)));
        keepFromPts_ =
            startPts_ + static_cast<std::int64_t>(std::llround((from - 1) / av_q2d(tb_)));
        startAt(from);
    }
}

void AudioQueue::startAt(double seconds) {
    fromPts_ = startPts_ + static_cast<std::int64_t>(std::llround(seconds / av_q2d(tb_)));
}

void AudioQueue::offer(const AVPacket* p) {
    if (!media_.audio() || p->pts == AV_NOPTS_VALUE || p->pts < keepFromPts_ || p->pts >= toPts_)
        return;
    if (AVPacket* copy = av_packet_clone(p))
        queue_.emplace_back(copy);
}

bool AudioQueue::pastRange(const AVPacket* p) const {
    return media_.audio() && p->stream_index == media_.audioIndex() && p->pts != AV_NOPTS_VALUE &&
           p->pts >= toPts_;
}

Result<void> AudioQueue::writeUntil(FragmentMuxer& mux, double seconds) {
    while (!queue_.empty()) {
        AVPacket* p = queue_.front().get();
        if (p->pts >= fromPts_) {
            if (static_cast<double>(p->pts - fromPts_) * av_q2d(tb_) >= seconds)
                break;
            p->dts = p->dts == AV_NOPTS_VALUE ? p->pts : p->dts;
            p->pts -= fromPts_;
            p->dts -= fromPts_;
            // The muxer's order rule: a packet out of order is dropped, not the file.
            if (p->dts >= lastDts_) {
                lastDts_ = p->dts;
                if (auto r = mux.writeAudio(p, tb_); !r)
                    return r;
            }
        }
        queue_.pop_front();
    }
    return {};
}

Result<void> ClipJob::checkRange() {
    const double from = rq_.fromSeconds;
    const double to = rq_.toSeconds;
    if (!std::isfinite(from) || !std::isfinite(to) || from < 0 || to <= from)
        return makeError("--to must be after --from, both 0 or more seconds");
    const double duration = main_->durationSeconds();
    const double slack = main_->frameDuration() / 2;
    if (from >= duration || to > duration + slack) {
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      "the range %.3f–%.3f s lies outside the recording (0–%.3f s)", from, to,
                      duration);
        return makeError(buf);
    }
    return {};
}

bool ClipJob::reportProgress(double clipSeconds) {
    if (!rq_.progress)
        return true;
    const double span = rq_.toSeconds - rq_.fromSeconds;
    if (!rq_.progress(std::clamp(clipSeconds / span, 0.0, 1.0)))
        cancelled_ = true;
    return !cancelled_;
}

Result<void> ClipJob::openMuxer(const AVCodecParameters* video, AVRational videoTb,
                                AVRational frameRate) {
    MuxerStreams s;
    s.video = video;
    s.videoTimeBase = videoTb;
    s.frameRate = frameRate;
    if (const AVStream* a = main_->audio()) {
        s.audio = a->codecpar;
        s.audioTimeBase = a->time_base;
    }
    auto mux = FragmentMuxer::open(*out_, s, [this](std::size_t k) {
        if (k < outputSources_.size()) {
            auto area = main_->telemetryArea(outputSources_[k]);
            if (!area) {
                // The clip is not finished as if it carried the records: see run().
                if (telemetryError_.empty())
                    telemetryError_ = area.error();
                return std::vector<std::uint8_t>(recordings::kTelemetryAreaSize, 0);
            }
            report_.telemetryRecords += countRecords(*area);
            return std::move(*area);
        }
        return std::vector<std::uint8_t>(recordings::kTelemetryAreaSize, 0);
    });
    if (!mux)
        return makeError(mux.error());
    mux_ = std::move(*mux);
    return {};
}

std::optional<std::size_t> ClipJob::carrierOf(std::optional<std::size_t> k) {
    if (!k)
        return k;
    if (!carriers_) {
        carriers_.emplace();
        std::size_t best = 0;
        double bestOverlap = -1;
        for (std::size_t f = 0; f < main_->fragments().size(); ++f) {
            const auto span = main_->fragmentSpan(f);
            if (!span)
                continue;
            const double overlap =
                std::min(span->second, rq_.toSeconds) - std::max(span->first, rq_.fromSeconds);
            if (overlap > bestOverlap) {
                bestOverlap = overlap;
                best = f;
            }
            if (overlap > 0 && overlap >= (span->second - span->first) / 2)
                carriers_->push_back(f);
        }
        if (carriers_->empty() && bestOverlap > 0)
            carriers_->push_back(best);
    }
    if (carriers_->empty())
        return k;
    const auto it = std::lower_bound(carriers_->begin(), carriers_->end(), *k);
    if (it != carriers_->end() && *it == *k)
        return k;
    if (it == carriers_->end())
        return carriers_->back();
    if (it == carriers_->begin())
        return *it;
    return *k - *std::prev(it) <= *it - *k ? *std::prev(it) : *it;
}

Result<void> ClipJob::enterFragment(std::optional<std::size_t> sourceFragment, double clipSeconds) {
    sourceFragment = carrierOf(sourceFragment);
    if (!sourceFragment || sourceFragment == currentSource_)
        return {};
    if (currentSource_) {
        if (auto r = audio_->writeUntil(*mux_, clipSeconds); !r)
            return r;
        if (auto r = mux_->cutFragment(); !r)
            return r;
    }
    currentSource_ = sourceFragment;
    outputSources_.push_back(*sourceFragment);
    return {};
}

Result<void> ClipJob::beforeVideoPacket(std::optional<std::size_t> sourceFragment,
                                        double clipSeconds) {
    if (!currentSource_ && !sourceFragment)
        sourceFragment = 0;
    if (auto r = enterFragment(sourceFragment, clipSeconds); !r)
        return r;
    return audio_->writeUntil(*mux_, clipSeconds);
}

Result<void> ClipJob::drainEncoder(AVCodecContext* enc, AVPacket* pkt, bool toLengthPrefixed) {
    for (;;) {
        const int rc = avcodec_receive_packet(enc, pkt);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return {};
        if (rc < 0)
            return makeError("cannot encode: " + avErrorText(rc));
        auto written = writeEncoded(enc, pkt, toLengthPrefixed);
        av_packet_unref(pkt);
        if (!written)
            return written;
    }
}

Result<void> ClipJob::writeEncoded(AVCodecContext* enc, AVPacket* pkt, bool toLengthPrefixed) {
    const auto it = fragmentOfPts_.find(pkt->pts);
    std::optional<std::size_t> frag = it != fragmentOfPts_.end() ? it->second : currentSource_;
    if (it != fragmentOfPts_.end())
        fragmentOfPts_.erase(fragmentOfPts_.begin(), std::next(it));
    if (pkt->duration <= 0 && enc->framerate.num > 0)
        pkt->duration = av_rescale_q(1, av_inv_q(enc->framerate), enc->time_base);
    const double clipSeconds = static_cast<double>(pkt->pts) * av_q2d(enc->time_base);
    if (auto r = beforeVideoPacket(frag, clipSeconds); !r)
        return r;
    if (!toLengthPrefixed)
        return mux_->writeVideo(pkt, enc->time_base);
    const auto bytes = annexBToLengthPrefixed(pkt->data, static_cast<std::size_t>(pkt->size));
    PacketPtr converted = makePacket();
    if (av_new_packet(converted.get(), static_cast<int>(bytes.size())) < 0)
        return makeError("out of memory");
    std::memcpy(converted->data, bytes.data(), bytes.size());
    av_packet_copy_props(converted.get(), pkt);
    return mux_->writeVideo(converted.get(), enc->time_base);
}

void ClipJob::readAudioTail() {
    InputMedia& m = *main_;
    if (!m.audio())
        return;
    const std::int64_t videoLimit = m.toPts(rq_.toSeconds + 2);
    PacketPtr p = makePacket();
    while (av_read_frame(m.format(), p.get()) >= 0) {
        bool done = audio_->pastRange(p.get());
        if (p->stream_index == m.audioIndex())
            audio_->offer(p.get());
        else if (p->stream_index == m.videoIndex())
            done = p->pts != AV_NOPTS_VALUE && p->pts > videoLimit;
        av_packet_unref(p.get());
        if (done)
            return;
    }
}

std::int64_t ClipJob::rangeStartPts() const {
    return main_->toPts(rq_.fromSeconds) - main_->halfFramePts();
}

std::int64_t ClipJob::rangeEndPts() const {
    return main_->toPts(rq_.toSeconds) - main_->halfFramePts();
}

Result<ClipReport> ClipJob::run() {
    auto sources = resolveSources(rq_.input, rq_.layout);
    if (!sources)
        return makeError(sources.error());
    auto main = InputMedia::open(sources->main);
    if (!main)
        return makeError(main.error());
    main_ = std::move(*main);
    if (!sources->inset.empty()) {
        auto inset = InputMedia::open(sources->inset);
        if (!inset)
            return makeError(inset.error());
        inset_ = std::move(*inset);
    }
    if (auto r = checkRange(); !r)
        return makeError(r.error());
    auto out = OutputFile::create(rq_.output, rq_.force,
                                  {rq_.input, partnerOf(rq_.input), sources->main, sources->inset});
    if (!out)
        return makeError(out.error());
    out_.emplace(std::move(*out));
    audio_ = std::make_unique<AudioQueue>(*main_, rq_.fromSeconds, rq_.toSeconds);

    const bool composite = inset_ != nullptr || rq_.caption;
    auto done = composite ? reencode() : copyOrSmartCut();
    if (!done)
        return makeError(done.error());
    if (auto r = mux_->finish(); !r)
        return makeError(r.error());
    report_.fragments = mux_->fragments();
    mux_.reset();
    // A clip whose telemetry could not be read would look complete and carry none: an evidence
    // file must not say less than its source without saying so. Nothing is left behind.
    if (!telemetryError_.empty())
        return makeError(telemetryError_);
    if (auto r = out_->commit(); !r)
        return makeError(r.error());
    report_.seconds = static_cast<double>(report_.frames) * main_->frameDuration();
    if (rq_.progress)
        rq_.progress(1.0);
    return report_;
}

}  // namespace detail

Result<ClipReport> exportClip(const ClipRequest& request) {
    detail::ClipJob job(request);
    return job.run();
}

}  // namespace orvik::exporting
