#pragma once
// The state of one clip export, shared by its ways of making the clip (clip.cpp, clip_copy.cpp,
// clip_reencode.cpp).
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "export/export.h"
#include "export/fragment_muxer.h"
#include "export/media.h"
#include "export/output_file.h"

namespace orvik::exporting::detail {

// Audio packets of the range, held until the video has reached their time so the file stays
// interleaved fragment by fragment.
class AudioQueue {
  public:
    AudioQueue(const InputMedia& media, double from, double to);
    // Moves the clip's start (seconds into the recording) to where its first picture is, so
    // sound and picture start together; before anything is written.
    void startAt(double seconds);
    void offer(const AVPacket* p);
    // Whether `p` is an audio packet at or after the end of the range: nothing after it is due.
    bool pastRange(const AVPacket* p) const;
    // Writes the packets that start before `seconds` (clip time).
    Result<void> writeUntil(FragmentMuxer& mux, double seconds);

  private:
    const InputMedia& media_;
    AVRational tb_{1, 1};
    std::int64_t startPts_ = 0;     // the stream's start
    std::int64_t fromPts_ = 0;      // clip time 0
    std::int64_t keepFromPts_ = 0;  // packets before this are of no use whatever the start
    std::int64_t toPts_ = 0;
    std::int64_t lastDts_ = INT64_MIN;
    std::deque<PacketPtr> queue_;
};

// Everything one clip export holds while it runs.
class ClipJob {
  public:
    explicit ClipJob(const ClipRequest& rq) : rq_(rq) {}
    Result<ClipReport> run();

  private:
    Result<void> checkRange();
    bool reportProgress(double clipSeconds);
    Result<void> openMuxer(const AVCodecParameters* video, AVRational videoTb,
                           AVRational frameRate);
    // The source fragment whose telemetry the frames of source fragment k travel with: k itself
    // when the range covers at least half of it, else the nearest such fragment. A cut at
    // whole seconds thus carries exactly the records of those seconds, even when the
    // recording's frames sit a little off the second.
    std::optional<std::size_t> carrierOf(std::optional<std::size_t> k);
    // Starts a new output fragment when `sourceFragment` differs from the current one.
    Result<void> enterFragment(std::optional<std::size_t> sourceFragment, double clipSeconds);
    Result<void> copyOrSmartCut();
    Result<void> reencode();
    // Before a video packet at `clipSeconds` from a source fragment: the output fragment it
    // opens, if any, and the audio due before it.
    Result<void> beforeVideoPacket(std::optional<std::size_t> sourceFragment, double clipSeconds);
    // Writes the packets the encoder has ready; encoded pictures go length-prefixed when they
    // are spliced in front of copied ones.
    Result<void> drainEncoder(AVCodecContext* enc, AVPacket* pkt, bool toLengthPrefixed);
    Result<void> writeEncoded(AVCodecContext* enc, AVPacket* pkt, bool toLengthPrefixed);
    // The audio of the range the demuxer has not reached when the video ends: packets are read
    // on, not decoded, up to the first audio packet after the range or two seconds of video.
    void readAudioTail();
    // The range in the main video's time base: frames from `from` up to before `to`, each less
    // half a frame (the frame shown at a moment starts at most half a frame after it).
    std::int64_t rangeStartPts() const;
    std::int64_t rangeEndPts() const;

    const ClipRequest& rq_;
    std::unique_ptr<InputMedia> main_;
    std::unique_ptr<InputMedia> inset_;
    std::optional<OutputFile> out_;
    std::unique_ptr<FragmentMuxer> mux_;
    std::unique_ptr<AudioQueue> audio_;
    std::vector<std::size_t> outputSources_;  // the source fragment of each output fragment
    std::optional<std::size_t> currentSource_;
    std::map<std::int64_t, std::optional<std::size_t>> fragmentOfPts_;  // encoded frames
    std::optional<std::vector<std::size_t>> carriers_;  // fragments the range covers by half
    ClipReport report_;
    bool cancelled_ = false;
    std::string telemetryError_;  // the first telemetry area that could not be read
};

}  // namespace orvik::exporting::detail
