#pragma once
// Writes a recording-shaped fragmented MP4: "ftyp" (major brand "iso4"), "moov", then one
// "moof"+"mdat" pair per fragment, every "mdat" ending in a 2222-byte telemetry area. The
// muxer's box stream passes through a rewriter that grows each "mdat" by the area of its
// fragment; fragments are cut only when the caller says so, so they can follow the source's.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "export/output_file.h"
#include "platform/result.h"

namespace orvik::exporting {

// Rewrites a top-level box stream: every "mdat" gets the next telemetry area appended (its size
// patched), a trailing "mfra" (absolute offsets) is dropped, all else passes unchanged.
class BoxRewriter {
  public:
    using Area = std::vector<std::uint8_t>;
    // areaFor(k) gives the area of the k-th media box (2222 bytes).
    BoxRewriter(OutputFile& out, std::function<Area(std::size_t)> areaFor)
        : out_(out), areaFor_(std::move(areaFor)) {}
    bool feed(const std::uint8_t* data, std::size_t size);
    bool finish();  // false when the stream ended inside a box
    std::size_t mediaBoxes() const { return mediaBoxes_; }
    const std::string& error() const { return error_; }

  private:
    bool emit(const std::uint8_t* data, std::size_t size);
    OutputFile& out_;
    std::function<Area(std::size_t)> areaFor_;
    std::uint8_t header_[8]{};
    std::size_t headerFill_ = 0;
    std::uint64_t remaining_ = 0;  // body bytes of the current box still to come
    bool inMdat_ = false;
    bool dropping_ = false;
    std::size_t mediaBoxes_ = 0;
    std::string error_;
};

struct MuxerStreams {
    const AVCodecParameters* video = nullptr;
    AVRational videoTimeBase{1, 90000};
    AVRational frameRate{0, 1};
    const AVCodecParameters* audio = nullptr;  // optional, stream-copied
    AVRational audioTimeBase{1, 48000};
};

class FragmentMuxer {
  public:
    static Result<std::unique_ptr<FragmentMuxer>> open(
        OutputFile& out, const MuxerStreams& streams,
        std::function<BoxRewriter::Area(std::size_t)> areaFor);
    ~FragmentMuxer();

    AVRational videoTimeBase() const;
    AVRational audioTimeBase() const;
    bool hasAudio() const { return audioStream_ != nullptr; }

    // Packets in the streams' time bases (as given in MuxerStreams); timestamps rescaled here.
    Result<void> writeVideo(AVPacket* packet, AVRational from);
    Result<void> writeAudio(AVPacket* packet, AVRational from);
    // Ends the current fragment (nothing happens when it is empty).
    Result<void> cutFragment();
    Result<void> finish();
    std::size_t fragments() const { return rewriter_.mediaBoxes(); }

  private:
    FragmentMuxer(OutputFile& out, std::function<BoxRewriter::Area(std::size_t)> areaFor)
        : rewriter_(out, std::move(areaFor)) {}
    Result<void> check(int rc, const char* what);
    static int writePacket(void* opaque, std::uint8_t* buf, int size);

    BoxRewriter rewriter_;
    AVFormatContext* ctx_ = nullptr;
    AVIOContext* io_ = nullptr;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    bool pendingInFragment_ = false;
    bool failed_ = false;
};

std::string avErrorText(int err);

}  // namespace orvik::exporting
