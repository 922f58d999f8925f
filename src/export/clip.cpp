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

void AudioQueue::beginPiece(const InputMedia& media, double from, double to, double clipSeconds) {
    if (clock_)
        previous_ = clock_;
    clock_ = std::make_shared<Clock>();
    Clock& c = *clock_;
    c.media = &media;
    c.clipSeconds = clipSeconds;
    if (const AVStream* a = media.audio()) {
        c.tb = a->time_base;
        c.startPts = a->start_time != AV_NOPTS_VALUE ? a->start_time : 0;
        c.toPts = c.startPts + static_cast<std::int64_t>(std::llround(to / av_q2d(c.tb)));
        c.keepFromPts =
            c.startPts + static_cast<std::int64_t>(std::llround((from - 1) / av_q2d(c.tb)));
    }
    startAt(from);
}

void AudioQueue::restartPiece(double from) {
    std::erase_if(queue_, [this](const auto& entry) { return entry.second == clock_; });
    if (clock_) {
        clock_->endPts = INT64_MIN;
        startAt(from);
    }
}

std::int64_t AudioQueue::outPts(const Clock& c, std::int64_t pts) const {
    return av_rescale_q(pts - c.fromPts, c.tb, outTb_) + c.outOffset;
}

void AudioQueue::startAt(double seconds) {
    if (!clock_)
        return;
    Clock& c = *clock_;
    c.fromPts = c.startPts + static_cast<std::int64_t>(std::llround(seconds / av_q2d(c.tb)));
    c.outOffset = static_cast<std::int64_t>(std::llround(c.clipSeconds / av_q2d(outTb_)));
    // Recordings of a drive carry on each other's sound: placed where the picture says, a
    // boundary would open a gap or overlap of a few milliseconds, heard as a click.
    if (previous_ && previous_->endPts != INT64_MIN) {
        const std::int64_t previousEnd = outPts(*previous_, previous_->endPts);
        const std::int64_t slack =
            av_rescale_q(std::max<std::int64_t>(previous_->lastDuration, 1), previous_->tb, outTb_);
        if (std::llabs(previousEnd - c.outOffset) <= slack)
            c.outOffset = previousEnd;
    }
}

void AudioQueue::offer(const AVPacket* p) {
    if (!clock_ || !clock_->media->audio() || p->pts == AV_NOPTS_VALUE)
        return;
    Clock& c = *clock_;
    if (p->pts < c.keepFromPts || p->pts >= c.toPts)
        return;
    if (AVPacket* copy = av_packet_clone(p)) {
        // The demuxer leaves some packets' duration unset: the codec's frame size or the step
        // from the packet before says it.
        std::int64_t duration = p->duration;
        const AVCodecParameters* par = c.media->audio()->codecpar;
        if (duration <= 0 && par->frame_size > 0 && par->sample_rate > 0)
            duration = av_rescale_q(par->frame_size, AVRational{1, par->sample_rate}, c.tb);
        if (duration <= 0 && c.lastPts != INT64_MIN && p->pts > c.lastPts)
            duration = p->pts - c.lastPts;
        c.lastPts = p->pts;
        c.endPts = std::max(c.endPts, p->pts + std::max<std::int64_t>(duration, 0));
        c.lastDuration = duration;
        queue_.emplace_back(PacketPtr(copy), clock_);
    }
}

bool AudioQueue::pastRange(const AVPacket* p) const {
    return clock_ && clock_->media->audio() && p->stream_index == clock_->media->audioIndex() &&
           p->pts != AV_NOPTS_VALUE && p->pts >= clock_->toPts;
}

Result<void> AudioQueue::writeUntil(FragmentMuxer& mux, double clipSeconds) {
    while (!queue_.empty()) {
        AVPacket* p = queue_.front().first.get();
        const Clock& c = *queue_.front().second;
        if (p->pts >= c.fromPts) {
            const std::int64_t pts = outPts(c, p->pts);
            if (static_cast<double>(pts) * av_q2d(outTb_) >= clipSeconds)
                break;
            p->dts = p->dts == AV_NOPTS_VALUE ? pts : outPts(c, p->dts);
            p->pts = pts;
            p->duration = av_rescale_q(p->duration, c.tb, outTb_);
            // The muxer's order rule: a packet out of order is dropped, not the file.
            if (p->dts >= lastDts_) {
                lastDts_ = p->dts;
                if (auto r = mux.writeAudio(p, outTb_); !r)
                    return r;
            }
        }
        queue_.pop_front();
    }
    return {};
}

Result<void> ClipJob::checkRange(const ClipPiece& piece, const InputMedia& main) const {
    const double from = piece.fromSeconds;
    const double to = piece.toSeconds;
    if (!std::isfinite(from) || !std::isfinite(to) || from < 0 || to <= from)
        return makeError("--to must be after --from, both 0 or more seconds");
    const double duration = main.durationSeconds();
    const double slack = main.frameDuration() / 2;
    if (from >= duration || to > duration + slack) {
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      "the range %.3f–%.3f s lies outside the recording (0–%.3f s)", from, to,
                      duration);
        return makeError(pieces_.size() > 1 ? main.path() + ": " + buf : std::string(buf));
    }
    return {};
}

Result<std::vector<std::string>> ClipJob::openPieces() {
    pieces_ = rq_.pieces;
    if (pieces_.empty())
        pieces_.push_back({rq_.input, rq_.fromSeconds, rq_.toSeconds});
    std::vector<std::string> sources;
    for (ClipPiece& piece : pieces_) {
        auto resolved = resolveSources(piece.input, rq_.layout);
        if (!resolved)
            return makeError(resolved.error());
        auto main = InputMedia::open(resolved->main);
        if (!main)
            return makeError(main.error());
        // A recording's length by its box headers (how a drive's stretch is measured) and by
        // its last frame differ by a frame or so; the piece ends with the recording.
        if (pieces_.size() > 1 && piece.toSeconds > (*main)->durationSeconds() &&
            piece.toSeconds < (*main)->durationSeconds() + 1)
            piece.toSeconds = (*main)->durationSeconds();
        if (auto r = checkRange(piece, **main); !r)
            return makeError(r.error());
        std::unique_ptr<InputMedia> inset;
        if (!resolved->inset.empty()) {
            auto opened = InputMedia::open(resolved->inset);
            if (!opened)
                return makeError(opened.error());
            inset = std::move(*opened);
        }
        sources.insert(sources.end(),
                       {piece.input, partnerOf(piece.input), resolved->main, resolved->inset});
        totalSeconds_ += piece.toSeconds - piece.fromSeconds;
        mains_.push_back(std::move(*main));
        insets_.push_back(std::move(inset));
    }
    return sources;
}

namespace {

bool sameBytes(const AVCodecParameters* a, const AVCodecParameters* b) {
    return a->extradata_size == b->extradata_size &&
           (a->extradata_size == 0 ||
            std::memcmp(a->extradata, b->extradata, static_cast<std::size_t>(a->extradata_size)) ==
                0);
}

}  // namespace

Result<bool> ClipJob::streamsMatch() const {
    bool videoMatches = true;
    const InputMedia& first = *mains_.front();
    for (const auto& m : mains_) {
        const AVCodecParameters* a = first.video()->codecpar;
        const AVCodecParameters* b = m->video()->codecpar;
        videoMatches = videoMatches && a->codec_id == b->codec_id && a->width == b->width &&
                       a->height == b->height && sameBytes(a, b);
        if (!first.audio() || !m->audio())
            continue;
        const AVCodecParameters* x = first.audio()->codecpar;
        const AVCodecParameters* y = m->audio()->codecpar;
        if (x->codec_id != y->codec_id || x->sample_rate != y->sample_rate ||
            x->ch_layout.nb_channels != y->ch_layout.nb_channels || !sameBytes(x, y))
            return makeError("the sound of " + m->path() + " is recorded differently from " +
                             first.path() + "'s; export them as clips of their own");
    }
    return videoMatches;
}

void ClipJob::selectPiece(std::size_t k) {
    if (main_)
        main_->closeDecoder();
    if (inset_)
        inset_->closeDecoder();
    piece_ = k;
    main_ = mains_[k].get();
    inset_ = insets_[k].get();
    from_ = pieces_[k].fromSeconds;
    to_ = pieces_[k].toSeconds;
    carriers_.reset();
    clipStart_ = clipEnd_;
    audio_->beginPiece(*main_, from_, to_, clipStart_);
}

bool ClipJob::reportProgress(double pieceSeconds) {
    if (!rq_.progress)
        return true;
    const double done = (clipStart_ + std::max(0.0, pieceSeconds)) / totalSeconds_;
    if (!rq_.progress(std::clamp(done, 0.0, 1.0)))
        cancelled_ = true;
    return !cancelled_;
}

void ClipJob::countFrame(double clipSeconds, bool encoded) {
    ++report_.frames;
    if (encoded)
        ++report_.encodedFrames;
    clipEnd_ = std::max(clipEnd_, clipSeconds + main_->frameDuration());
}

Result<void> ClipJob::openMuxer(const AVCodecParameters* video, AVRational videoTb,
                                AVRational frameRate) {
    MuxerStreams s;
    s.video = video;
    s.videoTimeBase = videoTb;
    s.frameRate = frameRate;
    if (const AVStream* a = mains_.front()->audio()) {
        s.audio = a->codecpar;
        s.audioTimeBase = a->time_base;
    }
    auto mux = FragmentMuxer::open(*out_, s, [this](std::size_t k) {
        if (k < outputAreas_.size())
            return outputAreas_[k];
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
            const double overlap = std::min(span->second, to_) - std::max(span->first, from_);
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

std::optional<std::uint64_t> ClipJob::sourceKey(std::optional<std::size_t> k) {
    const auto carrier = carrierOf(k);
    if (!carrier)
        return std::nullopt;
    return (static_cast<std::uint64_t>(piece_) << 32) | static_cast<std::uint64_t>(*carrier);
}

Result<void> ClipJob::enterFragment(std::optional<std::uint64_t> source, double clipSeconds) {
    if (!source || source == currentSource_)
        return {};
    if (currentSource_) {
        if (auto r = audio_->writeUntil(*mux_, clipSeconds); !r)
            return r;
        if (auto r = mux_->cutFragment(); !r)
            return r;
    }
    currentSource_ = source;
    const InputMedia& media = *mains_[static_cast<std::size_t>(*source >> 32)];
    auto area = media.telemetryArea(static_cast<std::size_t>(*source & 0xffffffffU));
    if (!area) {
        // The clip is not finished as if it carried the records: see run().
        if (telemetryError_.empty())
            telemetryError_ = area.error();
        outputAreas_.emplace_back(recordings::kTelemetryAreaSize, 0);
        return {};
    }
    report_.telemetryRecords += countRecords(*area);
    outputAreas_.push_back(std::move(*area));
    return {};
}

Result<void> ClipJob::beforeVideoPacket(std::optional<std::uint64_t> source, double clipSeconds) {
    if (!currentSource_ && !source)
        source = sourceKey(0);
    if (auto r = enterFragment(source, clipSeconds); !r)
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
    std::optional<std::uint64_t> frag = it != fragmentOfPts_.end() ? it->second : currentSource_;
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
    const std::int64_t videoLimit = m.toPts(to_ + 2);
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
    return main_->toPts(from_) - main_->halfFramePts();
}

std::int64_t ClipJob::rangeEndPts() const {
    return main_->toPts(to_) - main_->halfFramePts();
}

Result<ClipReport> ClipJob::run() {
    auto sources = openPieces();
    if (!sources)
        return makeError(sources.error());
    const AVStream* audio = mains_.front()->audio();
    audio_ = std::make_unique<AudioQueue>(audio ? audio->time_base : AVRational{1, 1});
    auto match = streamsMatch();
    if (!match)
        return makeError(match.error());
    // Pictures of recordings that differ (another size, other parameter sets) cannot follow one
    // another in one stream as they are.
    reencoding_ = rq_.caption || insets_.front() != nullptr || !*match;
    auto out = OutputFile::create(rq_.output, rq_.force, *sources);
    if (!out)
        return makeError(out.error());
    out_.emplace(std::move(*out));

    for (std::size_t k = 0; k < pieces_.size(); ++k) {
        selectPiece(k);
        auto done = reencoding_ ? reencodePiece() : copyOrSmartCut();
        if (!done)
            return makeError(done.error());
        readAudioTail();
    }
    if (reencoding_) {
        if (auto r = finishReencode(); !r)
            return makeError(r.error());
    }
    if (auto r = audio_->writeUntil(*mux_, clipEnd_ + 1); !r)
        return makeError(r.error());
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
    report_.seconds = static_cast<double>(report_.frames) * mains_.front()->frameDuration();
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
