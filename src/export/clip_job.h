#pragma once
// The state of one clip export, shared by its ways of making the clip (clip.cpp, clip_copy.cpp,
// clip_reencode.cpp). A clip over several recordings reads them one after the other into one
// muxer (and, when encoding, one encoder), each piece's timestamps moved on to where the one
// before it ended.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "export/export.h"
#include "export/fragment_muxer.h"
#include "export/h264.h"
#include "export/media.h"
#include "export/output_file.h"

namespace orvik::exporting::detail {

// Audio packets of the clip, held until the video has reached their time so the file stays
// interleaved fragment by fragment. Each piece has its own clock; a packet keeps the clock of
// the piece it came from, so an encoder running a few frames behind still places it right.
class AudioQueue {
  public:
    explicit AudioQueue(AVRational outTimeBase) : outTb_(outTimeBase) {}
    // The audio of `media` in [from, to) seconds goes on at clip time `clipSeconds`.
    void beginPiece(const InputMedia& media, double from, double to, double clipSeconds);
    // Moves the piece's start (seconds into its recording) to where its first picture is, so
    // sound and picture start together; before anything of the piece is written. Where the
    // sound of the piece before ends within one packet of that, the piece's sound follows it
    // without a gap or an overlap.
    void startAt(double seconds);
    // Drops what was queued of the current piece and starts it again at `from` (the piece is
    // read once more another way).
    void restartPiece(double from);
    void offer(const AVPacket* p);
    // Whether `p` is an audio packet at or after the end of the piece: nothing after it is due.
    bool pastRange(const AVPacket* p) const;
    // Writes the packets that start before `clipSeconds`.
    Result<void> writeUntil(FragmentMuxer& mux, double clipSeconds);

  private:
    struct Clock {
        const InputMedia* media = nullptr;
        AVRational tb{1, 1};
        std::int64_t startPts = 0;     // the stream's start
        std::int64_t fromPts = 0;      // the piece's start in the clip
        std::int64_t keepFromPts = 0;  // packets before this are of no use whatever the start
        std::int64_t toPts = 0;
        std::int64_t endPts = INT64_MIN;  // the end of the last packet offered
        std::int64_t lastPts = INT64_MIN;
        std::int64_t lastDuration = 0;
        double clipSeconds = 0;      // where the piece starts in the clip
        std::int64_t outOffset = 0;  // the same in the output's time base, as placed
    };
    std::int64_t outPts(const Clock& c, std::int64_t pts) const;

    AVRational outTb_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Clock> previous_;
    std::int64_t lastDts_ = INT64_MIN;
    std::deque<std::pair<PacketPtr, std::shared_ptr<Clock>>> queue_;
};

// Everything one clip export holds while it runs.
class ClipJob {
  public:
    explicit ClipJob(const ClipRequest& rq) : rq_(rq) {}
    Result<ClipReport> run();

  private:
    // Opens every piece's recordings and checks its range; the files an output must not be.
    Result<std::vector<std::string>> openPieces();
    Result<void> checkRange(const ClipPiece& piece, const InputMedia& main) const;
    // Whether every piece's streams can be copied into the first piece's.
    Result<bool> streamsMatch() const;
    void selectPiece(std::size_t k);
    bool reportProgress(double pieceSeconds);
    Result<void> openMuxer(const AVCodecParameters* video, AVRational videoTb,
                           AVRational frameRate);
    // The source fragment whose telemetry the frames of source fragment k travel with: k itself
    // when the piece covers at least half of it, else the nearest such fragment. A cut at
    // whole seconds thus carries exactly the records of those seconds, even when the
    // recording's frames sit a little off the second.
    std::optional<std::size_t> carrierOf(std::optional<std::size_t> k);
    // The carrier of the current piece's fragment k as a key over all pieces.
    std::optional<std::uint64_t> sourceKey(std::optional<std::size_t> k);
    // Starts a new output fragment when the source fragment differs from the current one.
    Result<void> enterFragment(std::optional<std::uint64_t> source, double clipSeconds);
    Result<void> copyOrSmartCut();
    Result<void> reencodePiece();
    // The current piece cannot be cut by copying: the clip is encoded whole, when it can be.
    Result<void> encodeInstead();
    Result<void> finishReencode();
    // Encodes what the pipeline has ready.
    Result<void> pullPipeline();
    // Before a video packet at `clipSeconds` from a source fragment: the output fragment it
    // opens, if any, and the audio due before it.
    Result<void> beforeVideoPacket(std::optional<std::uint64_t> source, double clipSeconds);
    // Writes the packets the encoder has ready; encoded pictures go length-prefixed when they
    // are spliced in front of copied ones.
    Result<void> drainEncoder(AVCodecContext* enc, AVPacket* pkt, bool toLengthPrefixed);
    Result<void> writeEncoded(AVCodecContext* enc, AVPacket* pkt, bool toLengthPrefixed);
    // The audio of the piece the demuxer has not reached when its video ends: packets are read
    // on, not decoded, up to the first audio packet after the piece or two seconds of video.
    void readAudioTail();
    // A frame taken into the clip at `clipSeconds` (for where the next piece goes on).
    void countFrame(double clipSeconds, bool encoded);
    // The piece in the main video's time base: frames from `from` up to before `to`, each less
    // half a frame (the frame shown at a moment starts at most half a frame after it).
    std::int64_t rangeStartPts() const;
    std::int64_t rangeEndPts() const;

    const ClipRequest& rq_;
    std::vector<ClipPiece> pieces_;
    std::vector<std::unique_ptr<InputMedia>> mains_;
    std::vector<std::unique_ptr<InputMedia>> insets_;
    std::size_t piece_ = 0;
    InputMedia* main_ = nullptr;   // the current piece's
    InputMedia* inset_ = nullptr;  // the current piece's second channel, if laid out
    double from_ = 0, to_ = 0;     // the current piece
    double clipStart_ = 0;         // where the current piece starts in the clip
    double clipEnd_ = 0;           // the end of the last frame taken
    double totalSeconds_ = 0;
    bool reencoding_ = false;
    std::optional<OutputFile> out_;
    std::unique_ptr<FragmentMuxer> mux_;
    std::unique_ptr<AudioQueue> audio_;
    std::vector<std::vector<std::uint8_t>> outputAreas_;  // the area of each output fragment
    std::optional<std::uint64_t> currentSource_;
    std::map<std::int64_t, std::optional<std::uint64_t>> fragmentOfPts_;  // encoded frames
    std::optional<std::vector<std::size_t>> carriers_;  // fragments the piece covers by half

    // Encoding over all pieces: one pipeline and one encoder.
    std::unique_ptr<FramePipeline> pipe_;
    EncoderPtr enc_;
    AVRational mainTb_{1, 1}, insetTb_{1, 1};  // the first piece's, the pipeline's inputs
    std::map<std::int64_t, std::optional<std::uint64_t>> fragmentStarts_;  // pipeline time
    std::optional<std::uint64_t> lastInSource_;
    std::optional<std::uint64_t> lastOutSource_;
    int mainWidth_ = 0, mainHeight_ = 0;
    bool firstOut_ = true;

    ClipReport report_;
    bool cancelled_ = false;
    std::string telemetryError_;  // the first telemetry area that could not be read
};

}  // namespace orvik::exporting::detail
