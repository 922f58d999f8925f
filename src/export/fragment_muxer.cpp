#include "export/fragment_muxer.h"

#include <cstring>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/opt.h>
}

#include "platform/byte_order.h"
#include "recordings/telemetry.h"

namespace orvik::exporting {

namespace {

constexpr std::size_t kAreaSize = recordings::kTelemetryAreaSize;

}  // namespace

std::string avErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

bool BoxRewriter::emit(const std::uint8_t* data, std::size_t size) {
    if (!out_.write({data, size})) {
        error_ = out_.error();
        return false;
    }
    return true;
}

bool BoxRewriter::feed(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        if (remaining_ == 0 && headerFill_ < 8) {
            const std::size_t n = std::min<std::size_t>(8 - headerFill_, size);
            std::memcpy(header_ + headerFill_, data, n);
            headerFill_ += n;
            data += n;
            size -= n;
            if (headerFill_ < 8)
                return true;
            const std::uint32_t boxSize = platform::loadBe32(header_, 0);
            if (boxSize < 8) {
                error_ = "the muxer wrote a box without a 32-bit size";
                return false;
            }
            remaining_ = boxSize - 8;
            inMdat_ = std::memcmp(header_ + 4, "mdat", 4) == 0;
            dropping_ = std::memcmp(header_ + 4, "mfra", 4) == 0;
            if (inMdat_) {
                if (boxSize > 0xFFFFFFFFu - kAreaSize) {
                    error_ = "a fragment is too large";
                    return false;
                }
                platform::storeBe32(header_, 0, static_cast<std::uint32_t>(boxSize + kAreaSize));
            }
            if (!dropping_ && !emit(header_, 8))
                return false;
            if (remaining_ > 0)
                continue;
        } else {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, size));
            if (!dropping_ && !emit(data, n))
                return false;
            remaining_ -= n;
            data += n;
            size -= n;
        }
        if (remaining_ == 0) {
            headerFill_ = 0;
            if (inMdat_) {
                const Area area = areaFor_(mediaBoxes_++);
                Area padded(kAreaSize, 0);
                std::memcpy(padded.data(), area.data(), std::min(area.size(), kAreaSize));
                if (!emit(padded.data(), padded.size()))
                    return false;
                inMdat_ = false;
            }
            dropping_ = false;
        }
    }
    return true;
}

bool BoxRewriter::finish() {
    if (remaining_ != 0 || headerFill_ != 0) {
        if (error_.empty())
            error_ = "the muxer's output ended inside a box";
        return false;
    }
    return true;
}

int FragmentMuxer::writePacket(void* opaque, std::uint8_t* buf, int size) {
    auto* self = static_cast<FragmentMuxer*>(opaque);
    if (self->failed_ || !self->rewriter_.feed(buf, static_cast<std::size_t>(size))) {
        self->failed_ = true;
        return AVERROR(EIO);
    }
    return size;
}

Result<std::unique_ptr<FragmentMuxer>> FragmentMuxer::open(
    OutputFile& out, const MuxerStreams& streams,
    std::function<BoxRewriter::Area(std::size_t)> areaFor) {
    std::unique_ptr<FragmentMuxer> m(new FragmentMuxer(out, std::move(areaFor)));
    if (avformat_alloc_output_context2(&m->ctx_, nullptr, "mp4", nullptr) < 0 || !m->ctx_)
        return makeError("cannot create the MP4 writer");
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    m->io_ = avio_alloc_context(buffer, kBufferSize, 1, m.get(), nullptr,
                                &FragmentMuxer::writePacket, nullptr);
    if (!m->io_)
        return makeError("out of memory");
    m->io_->seekable = 0;
    m->ctx_->pb = m->io_;
    m->ctx_->flags |= AVFMT_FLAG_CUSTOM_IO;

    m->videoStream_ = avformat_new_stream(m->ctx_, nullptr);
    if (!m->videoStream_ || avcodec_parameters_copy(m->videoStream_->codecpar, streams.video) < 0)
        return makeError("cannot set up the video track");
    m->videoStream_->codecpar->codec_tag = 0;
    m->videoStream_->time_base = streams.videoTimeBase;
    if (streams.frameRate.num > 0)
        m->videoStream_->avg_frame_rate = streams.frameRate;
    if (streams.audio) {
        m->audioStream_ = avformat_new_stream(m->ctx_, nullptr);
        if (!m->audioStream_ ||
            avcodec_parameters_copy(m->audioStream_->codecpar, streams.audio) < 0)
            return makeError("cannot set up the audio track");
        m->audioStream_->codecpar->codec_tag = 0;
        m->audioStream_->time_base = streams.audioTimeBase;
    }
    AVDictionary* opts = nullptr;
    // Fragments are cut by the caller (at the source's fragment starts); no index at the end,
    // whose absolute offsets the grown media boxes would break.
    av_dict_set(&opts, "movflags", "frag_custom+empty_moov+default_base_moof+skip_trailer", 0);
    av_dict_set(&opts, "brand", "iso4", 0);
    const int rc = avformat_write_header(m->ctx_, &opts);
    av_dict_free(&opts);
    if (rc < 0) {
        if (!m->rewriter_.error().empty())
            return makeError(m->rewriter_.error());
        return makeError("cannot start the MP4 file: " + avErrorText(rc));
    }
    return m;
}

FragmentMuxer::~FragmentMuxer() {
    if (ctx_)
        avformat_free_context(ctx_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

AVRational FragmentMuxer::videoTimeBase() const {
    return videoStream_->time_base;
}

AVRational FragmentMuxer::audioTimeBase() const {
    return audioStream_ ? audioStream_->time_base : AVRational{1, 1};
}

Result<void> FragmentMuxer::check(int rc, const char* what) {
    if (rc >= 0)
        return {};
    if (!rewriter_.error().empty())
        return makeError(rewriter_.error());
    return makeError(std::string("cannot write ") + what + ": " + avErrorText(rc));
}

Result<void> FragmentMuxer::writeVideo(AVPacket* packet, AVRational from) {
    av_packet_rescale_ts(packet, from, videoStream_->time_base);
    packet->stream_index = videoStream_->index;
    packet->pos = -1;
    pendingInFragment_ = true;
    return check(av_write_frame(ctx_, packet), "the video");
}

Result<void> FragmentMuxer::writeAudio(AVPacket* packet, AVRational from) {
    if (!audioStream_)
        return {};
    av_packet_rescale_ts(packet, from, audioStream_->time_base);
    packet->stream_index = audioStream_->index;
    packet->pos = -1;
    pendingInFragment_ = true;
    return check(av_write_frame(ctx_, packet), "the audio");
}

Result<void> FragmentMuxer::cutFragment() {
    if (!pendingInFragment_)
        return {};
    pendingInFragment_ = false;
    return check(av_write_frame(ctx_, nullptr), "a fragment");
}

Result<void> FragmentMuxer::finish() {
    if (auto r = check(av_write_trailer(ctx_), "the end of the file"); !r)
        return r;
    avio_flush(io_);
    if (failed_ || !rewriter_.finish())
        return makeError(rewriter_.error().empty() ? "cannot write the file" : rewriter_.error());
    return {};
}

}  // namespace orvik::exporting
