// Snapshots: the frame at a moment at native size (or laid out with the partner channel), as
// PNG or JPEG; a JPEG carries the moment's GPS position and time as EXIF.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

extern "C" {
#include <libavutil/opt.h>
}

#include "export/caption.h"
#include "export/exif.h"
#include "export/export.h"
#include "export/fragment_muxer.h"
#include "export/media.h"
#include "recordings/track_formats.h"

namespace orvik::exporting {

namespace {

enum class ImageKind { Png, Jpeg };

std::optional<ImageKind> imageKindOf(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".png")
        return ImageKind::Png;
    if (ext == ".jpg" || ext == ".jpeg")
        return ImageKind::Jpeg;
    return std::nullopt;
}

// The frame shown at `seconds`: the first whose time is at or after it, less half a frame.
Result<FramePtr> frameAt(InputMedia& media, double seconds) {
    if (!media.decoder()) {
        if (auto r = media.openDecoder(); !r)
            return makeError(r.error());
    }
    if (auto r = media.seekTo(seconds); !r)
        return makeError(r.error());
    auto frame = media.nextFrame(media.toPts(seconds) - media.halfFramePts());
    if (!frame)
        return frame;
    if (!*frame)
        return makeError("no frame at that moment in '" + media.path() + "'");
    return frame;
}

Result<std::vector<std::uint8_t>> encodeImage(AVFrame* frame, ImageKind kind) {
    const AVCodec* codec =
        avcodec_find_encoder(kind == ImageKind::Png ? AV_CODEC_ID_PNG : AV_CODEC_ID_MJPEG);
    if (!codec)
        return makeError("no image encoder in this FFmpeg");
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c)
        return makeError("out of memory");
    c->width = frame->width;
    c->height = frame->height;
    c->pix_fmt = static_cast<AVPixelFormat>(frame->format);
    c->time_base = {1, 25};
    c->thread_count = 0;
    if (kind == ImageKind::Png) {
        // Fast deflate: a 1080p frame in well under the snapshot budget, a few percent larger.
        c->compression_level = 1;
    } else {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * 2;
        c->color_range = AVCOL_RANGE_JPEG;
    }
    std::vector<std::uint8_t> bytes;
    int rc = avcodec_open2(c, codec, nullptr);
    if (rc >= 0) {
        frame->pts = 0;
        rc = avcodec_send_frame(c, frame);
    }
    if (rc >= 0)
        rc = avcodec_send_frame(c, nullptr);
    PacketPtr pkt = makePacket();
    while (rc >= 0) {
        rc = avcodec_receive_packet(c, pkt.get());
        if (rc == 0) {
            bytes.insert(bytes.end(), pkt->data, pkt->data + pkt->size);
            av_packet_unref(pkt.get());
        }
    }
    avcodec_free_context(&c);
    if (rc != AVERROR_EOF || bytes.empty())
        return makeError("cannot encode the picture: " + avErrorText(rc));
    return bytes;
}

ExifTags exifFor(const InputMedia& media, double seconds, int width, int height) {
    ExifTags tags;
    tags.width = width;
    tags.height = height;
    const auto& track = media.telemetry();
    if (const auto index = entryForMoment(track, seconds, media.durationSeconds())) {
        if (recordings::isTrackPoint(track, *index))
            tags.position = recordings::positionOf(track.fixes()[*index]);
        if (*index < track.receiverStates().size() &&
            recordings::isoTime(track.receiverStates()[*index].time)) {
            tags.utc = track.receiverStates()[*index].time;
        }
    }
    if (tags.utc) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%04u:%02u:%02u %02u:%02u:%02u", unsigned{tags.utc->year},
                      unsigned{tags.utc->month}, unsigned{tags.utc->day}, unsigned{tags.utc->hour},
                      unsigned{tags.utc->minute}, unsigned{tags.utc->second});
        tags.dateTimeOriginal = buf;
        tags.dateTimeIsUtc = true;
    } else if (auto local = momentOf(media.nameTimestamp(), seconds)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%04d:%02d:%02d %02d:%02d:%02d", local->year, local->month,
                      local->day, local->hour, local->minute, local->second);
        tags.dateTimeOriginal = buf;
    }
    return tags;
}

}  // namespace

Result<SnapshotReport> exportSnapshot(const SnapshotRequest& rq) {
    const auto kind = imageKindOf(rq.output);
    if (!kind)
        return makeError("the snapshot file must end in .png, .jpg or .jpeg");
    auto sources = resolveSources(rq.input, rq.layout);
    if (!sources)
        return makeError(sources.error());
    auto mainOpened = InputMedia::open(sources->main);
    if (!mainOpened)
        return makeError(mainOpened.error());
    InputMedia& main = **mainOpened;
    std::unique_ptr<InputMedia> inset;
    if (!sources->inset.empty()) {
        auto opened = InputMedia::open(sources->inset);
        if (!opened)
            return makeError(opened.error());
        inset = std::move(*opened);
    }
    if (!std::isfinite(rq.atSeconds) || rq.atSeconds < 0 ||
        rq.atSeconds >= main.durationSeconds()) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "--at %.3f s lies outside the recording (0–%.3f s)",
                      rq.atSeconds, main.durationSeconds());
        return makeError(buf);
    }
    auto out = OutputFile::create(rq.output, rq.force,
                                  {rq.input, partnerOf(rq.input), sources->main, sources->inset});
    if (!out)
        return makeError(out.error());

    auto frame = frameAt(main, rq.atSeconds);
    if (!frame)
        return makeError(frame.error());
    FramePtr mainFrame = std::move(*frame);
    const double frameSeconds = main.toSeconds(mainFrame->pts);
    FramePtr insetFrame;
    std::optional<FramePipeline::Input> insetInput;
    if (inset) {
        auto f = frameAt(*inset, rq.atSeconds);
        if (!f)
            return makeError(f.error());
        insetFrame = std::move(*f);
        insetInput = FramePipeline::Input{
            insetFrame->width, insetFrame->height, static_cast<AVPixelFormat>(insetFrame->format),
            inset->video()->time_base, insetFrame->sample_aspect_ratio};
    }
    const AVPixelFormat outFormat =
        *kind == ImageKind::Png ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_YUVJ420P;
    auto pipeline = FramePipeline::create(
        {mainFrame->width, mainFrame->height, static_cast<AVPixelFormat>(mainFrame->format),
         main.video()->time_base, mainFrame->sample_aspect_ratio},
        insetInput, rq.layout, rq.caption, outFormat);
    if (!pipeline)
        return makeError(pipeline.error());
    FramePipeline& pipe = **pipeline;
    if (rq.caption) {
        if (auto r = pipe.setCaption(captionFor(main, frameSeconds, rq.speedUnit)); !r)
            return makeError(r.error());
    }
    mainFrame->pts = 0;
    if (insetFrame) {
        insetFrame->pts = 0;
        if (auto r = pipe.pushInset(insetFrame.get()); !r)
            return makeError(r.error());
        if (auto r = pipe.pushInset(nullptr); !r)
            return makeError(r.error());
    }
    if (auto r = pipe.pushMain(mainFrame.get()); !r)
        return makeError(r.error());
    if (auto r = pipe.pushMain(nullptr); !r)
        return makeError(r.error());
    auto picture = pipe.pull();
    if (!picture)
        return makeError(picture.error());
    if (!*picture)
        return makeError("cannot lay out the picture");
    AVFrame* pic = picture->get();

    auto bytes = encodeImage(pic, *kind);
    if (!bytes)
        return makeError(bytes.error());
    SnapshotReport report;
    report.width = pic->width;
    report.height = pic->height;
    report.frameSeconds = frameSeconds;
    if (*kind == ImageKind::Jpeg) {
        const ExifTags tags =
            exifFor(main, frameSeconds + main.frameDuration() / 2, pic->width, pic->height);
        auto exif = buildExif(tags);
        if (!exif)
            return makeError(exif.error());
        auto tagged = insertExif(*bytes, *exif);
        if (!tagged)
            return makeError(tagged.error());
        bytes = std::move(*tagged);
        report.gpsTagged = tags.position.has_value();
    }
    if (!out->write(*bytes))
        return makeError(out->error());
    if (auto r = out->commit(); !r)
        return makeError(r.error());
    return report;
}

}  // namespace orvik::exporting
