#pragma once
// The pieces an export is built from: a recording opened for demuxing and decoding (with the
// layout of its fragments, so packets can be tied to the fragment and telemetry area they came
// from), and the filter graph that lays out channels and burns in the caption.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

#include "export/export.h"
#include "platform/result.h"
#include "recordings/recording_file.h"
#include "recordings/telemetry.h"

namespace orvik::exporting {

struct AvPacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AvFrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using PacketPtr = std::unique_ptr<AVPacket, AvPacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, AvFrameDeleter>;
PacketPtr makePacket();
FramePtr makeFrame();

// One moof + media-box pair of a source recording.
class InputMedia {
  public:
    // Refuses what is not a regular file (a FIFO would block the demuxer) before opening.
    static Result<std::unique_ptr<InputMedia>> open(const std::string& path);
    ~InputMedia();

    const std::string& path() const { return path_; }
    AVFormatContext* format() const { return fmt_; }
    AVStream* video() const { return fmt_->streams[videoIndex_]; }
    AVStream* audio() const { return audioIndex_ >= 0 ? fmt_->streams[audioIndex_] : nullptr; }
    int videoIndex() const { return videoIndex_; }
    int audioIndex() const { return audioIndex_; }
    double durationSeconds() const { return duration_; }
    AVRational frameRate() const;       // the stream's nominal rate (30/1 when it gives none)
    double frameDuration() const;       // seconds per frame
    std::int64_t halfFramePts() const;  // half a frame in the video's time base, at least 1

    const std::vector<recordings::Fragment>& fragments() const { return fragments_; }
    // Index of the fragment holding a byte offset, or nothing.
    std::optional<std::size_t> fragmentAt(std::int64_t pos) const;
    // The time span [start, end) of a fragment's video in seconds, from the demuxer's index
    // (the next fragment's start, or the duration, ends it); nothing when not indexed.
    std::optional<std::pair<double, double>> fragmentSpan(std::size_t fragment) const;
    // The 2222 bytes of a fragment's telemetry area (zeros when it has none).
    // An error when the area is there but cannot be read (a pulled card, a bad sector).
    Result<std::vector<std::uint8_t>> telemetryArea(std::size_t fragment) const;

    // The recording's telemetry (Reset + Read recording) and its name's timestamp.
    const recordings::TelemetryTrack& telemetry() const { return telemetry_; }
    const recordings::RecordingTimestamp& nameTimestamp() const { return name_.timestamp; }

    // Opens the video decoder (all cores, frame threads).
    Result<void> openDecoder();
    AVCodecContext* decoder() const { return decoder_; }
    // Frees the decoder and its frames once this recording's part of a longer clip is done.
    void closeDecoder() {
        if (decoder_)
            avcodec_free_context(&decoder_);
    }
    // Seeks so that decoding starts at the keyframe at or before `seconds`.
    Result<void> seekTo(double seconds);
    // Next decoded video frame with pts ≥ fromPts (in the stream's time base); nothing at the end.
    // Audio packets met on the way go to `onAudio` when given.
    Result<FramePtr> nextFrame(std::int64_t fromPts,
                               const std::function<void(AVPacket*)>& onAudio = nullptr);
    bool atEnd() const { return drained_; }

    std::int64_t toPts(double seconds) const;  // seconds → the video stream's time base
    double toSeconds(std::int64_t pts) const;

  private:
    InputMedia() = default;
    // Whether the container's header gives all an export needs without probing the streams.
    bool headerSuffices() const;
    AVRational indexRate_{0, 1};  // from the sample index, when there is one
    std::string path_;
    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    int videoIndex_ = -1;
    int audioIndex_ = -1;
    double duration_ = 0;
    std::vector<recordings::Fragment> fragments_;
    std::vector<double> fragmentStarts_;  // seconds; NaN when the index has no entry
    recordings::TelemetryTrack telemetry_;
    recordings::RecordingFile name_;
    bool sentEof_ = false;
    bool drained_ = false;
    int fd_ = -1;
};

// Where the inputs of an export come from, after the partner rule.
struct Sources {
    std::string main;   // the picture the layout is built on (its telemetry and audio are used)
    std::string inset;  // the second channel for side-by-side / picture-in-picture, else ""
};
Result<Sources> resolveSources(const std::string& input, Layout layout);
// Where the recording's partner would be ("" when the rule names none), whatever the layout: an
// export must not replace it either.
std::string partnerOf(const std::string& input);

// Lays out the channels and burns in the caption. The main input's frames set the output's
// timing; the inset's frames are matched by timestamp.
class FramePipeline {
  public:
    struct Input {
        int width = 0, height = 0;
        AVPixelFormat format = AV_PIX_FMT_YUV420P;
        AVRational timeBase{1, 1};
        AVRational sampleAspect{0, 1};
    };
    static Result<std::unique_ptr<FramePipeline>> create(const Input& main,
                                                         const std::optional<Input>& inset,
                                                         Layout layout, bool caption,
                                                         AVPixelFormat outFormat);
    ~FramePipeline();
    Result<void> setCaption(const std::string& text);
    Result<void> pushMain(AVFrame* frame);  // nullptr: end of input
    Result<void> pushInset(AVFrame* frame);
    // A laid-out frame, or nothing when none is ready yet (or at the end).
    Result<FramePtr> pull();
    int outWidth() const;
    int outHeight() const;
    AVRational outTimeBase() const;
    // The caption's font size in pixels (for checks of legibility).
    int captionFontSize() const { return fontSize_; }

  private:
    FramePipeline() = default;
    Result<void> writeCaptionFile(const std::string& text);
    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* mainSrc_ = nullptr;
    AVFilterContext* insetSrc_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    AVFilterContext* drawtext_ = nullptr;
    std::string caption_;
    // The caption is read from this file (in the user's private folder) for every frame: the
    // text filter's "reinit" command, the other way to change it, leaks the option strings of
    // the filter it replaces (FFmpeg 5.1), a little for every second of a captioned clip.
    std::string captionFile_;
    int captionFd_ = -1;  // held from its exclusive creation: written in place, never reopened
    int fontSize_ = 0;
};

// Text for the caption of the frame that starts `frameSeconds` into the main source: the moment
// of a frame is the middle of its display time, so a frame a hair before a whole second still
// shows that second.
std::string captionFor(const InputMedia& main, double frameSeconds,
                       std::optional<recordings::SpeedUnit> unit);

}  // namespace orvik::exporting
