#include "export/media.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "export/caption.h"
#include "export/fragment_muxer.h"
#include "platform/byte_order.h"
#include "platform/private_folder.h"
#include "platform/system_error.h"
#include "recordings/byte_source.h"
#include "recordings/fragment_walk.h"
#include "recordings/partner.h"
#include "recordings/track_formats.h"

namespace orvik::exporting {

namespace {

// The most common step between the first samples of the index, as frames per second.
AVRational rateOfIndex(AVStream* v) {
    const int entries = std::min(avformat_index_get_entries_count(v), 121);
    std::map<std::int64_t, int> steps;
    for (int i = 1; i < entries; ++i) {
        const std::int64_t step = avformat_index_get_entry(v, i)->timestamp -
                                  avformat_index_get_entry(v, i - 1)->timestamp;
        if (step > 0)
            ++steps[step];
    }
    const auto most =
        std::max_element(steps.begin(), steps.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    if (most == steps.end() || v->time_base.num <= 0)
        return {0, 1};
    AVRational r{};
    av_reduce(&r.num, &r.den, v->time_base.den, std::int64_t{v->time_base.num} * most->first,
              INT32_MAX);
    return r;
}

// A value as a filter graph description takes it: escaped once for the option parser and once
// more for the graph parser.
std::string graphOptionValue(const std::string& text) {
    std::string option, graph;
    for (char c : text) {
        if (c == '\\' || c == '\'' || c == ':')
            option += '\\';
        option += c;
    }
    for (char c : option) {
        if (c == '\\' || c == '\'' || c == '[' || c == ']' || c == ',' || c == ';')
            graph += '\\';
        graph += c;
    }
    return graph;
}

// Calls visit(header) for each box inside [from, to), in order; a box that would not advance or
// runs past `to` ends the list.
template <typename Visit>
void forEachChildBox(recordings::ByteSource& source, std::uint64_t from, std::uint64_t to,
                     Visit&& visit) {
    for (std::uint64_t at = from; at + 8 <= to;) {
        const auto box = recordings::readBoxHeader(source, at);
        if (!box || box->size < 8 || box->end() > to)
            return;
        visit(*box);
        at = box->end();
    }
}

// FFmpeg's MP4 reader makes an index entry for every sample a track run claims before it looks
// whether the fragment could hold them: a 64-byte run claiming fifty million samples takes
// gigabytes and minutes. So every fragment box the reader will meet (also one whose media box is
// cut short) has its runs held to what can be there: their per-sample fields inside the run's
// box, and at least one byte of the file after the fragment box for each sample.
Result<void> checkTrackRuns(recordings::ByteSource& source,
                            const recordings::RecordingLayout& layout) {
    const std::uint64_t fileSize = source.size();
    std::string problem;
    std::size_t fragment = 0;
    std::uint64_t at = layout.movieOffset() + layout.movieSize;
    while (problem.empty() && at + 8 <= fileSize) {
        const auto box = recordings::readBoxHeader(source, at, /*largeSizes=*/true);
        if (!box || box->size < 8)
            break;
        const std::uint64_t end = std::min(box->end(), fileSize);
        if (box->is("moof")) {
            ++fragment;
            const std::uint64_t after = fileSize - end;
            forEachChildBox(source, at + 8, end, [&](const auto& traf) {
                if (!traf.is("traf"))
                    return;
                forEachChildBox(source, traf.offset + 8, traf.end(), [&](const auto& trun) {
                    std::array<std::byte, 8> head{};
                    if (!trun.is("trun") || trun.size < 16 ||
                        source.readAt(trun.offset + 8, head) != 8)
                        return;
                    const std::uint32_t flags = platform::loadBe32(head, 0) & 0xFFFFFFu;
                    const std::uint64_t count = platform::loadBe32(head, 4);
                    // Data offset and first-sample flags, then duration, size, flags and
                    // composition offset for each sample, as the flags say.
                    const std::uint64_t fixed =
                        16 + ((flags & 0x1) ? 4 : 0) + ((flags & 0x4) ? 4 : 0);
                    const std::uint64_t perSample =
                        4 *
                        static_cast<std::uint64_t>(((flags & 0x100) != 0) + ((flags & 0x200) != 0) +
                                                   ((flags & 0x400) != 0) + ((flags & 0x800) != 0));
                    const bool fits = trun.size >= fixed &&
                                      count * perSample <= trun.size - fixed && count <= after;
                    if (!fits && problem.empty())
                        problem = "fragment " + std::to_string(fragment) + " claims " +
                                  std::to_string(count) + " samples it cannot hold";
                });
            });
        }
        if (box->end() <= at)
            break;
        at = box->end();
    }
    if (!problem.empty())
        return makeError(problem);
    return {};
}

const char* captionFont() {
    return ORVIK_CAPTION_FONT;
}

}  // namespace

PacketPtr makePacket() {
    return PacketPtr(av_packet_alloc());
}

FramePtr makeFrame() {
    return FramePtr(av_frame_alloc());
}

std::optional<Layout> parseLayout(std::string_view text) {
    if (text.empty())
        return Layout::Given;
    if (text == "front")
        return Layout::Front;
    if (text == "rear")
        return Layout::Rear;
    if (text == "side-by-side")
        return Layout::SideBySide;
    if (text == "picture-in-picture")
        return Layout::PictureInPicture;
    return std::nullopt;
}

std::string_view layoutName(Layout layout) {
    switch (layout) {
        case Layout::Given:
            return "";
        case Layout::Front:
            return "front";
        case Layout::Rear:
            return "rear";
        case Layout::SideBySide:
            return "side-by-side";
        case Layout::PictureInPicture:
            return "picture-in-picture";
    }
    return "";
}

std::string_view clipMethodName(ClipMethod method) {
    switch (method) {
        case ClipMethod::StreamCopy:
            return "stream copy";
        case ClipMethod::SmartCut:
            return "stream copy after re-encoding up to the first keyframe";
        case ClipMethod::Reencode:
            return "re-encoded";
    }
    return "";
}

std::string partnerOf(const std::string& input) {
    return recordings::channelOfRecording(input).partnerPath.value_or(std::string());
}

Result<Sources> resolveSources(const std::string& input, Layout layout) {
    const recordings::ChannelOfRecording channel = recordings::channelOfRecording(input);
    const bool front = channel.front;
    const std::string partner = channel.partnerPath.value_or(std::string());
    std::error_code ec;
    const bool havePartner = !partner.empty() && std::filesystem::exists(partner, ec);
    const auto needPartner = [&](const char* which) -> Result<Sources> {
        if (partner.empty())
            return makeError("'" + input + "' has no " + which + " channel's recording");
        return makeError(std::string("the ") + which + " channel's recording '" + partner +
                         "' is missing");
    };
    switch (layout) {
        case Layout::Given:
            return Sources{input, ""};
        case Layout::Front:
            if (front)
                return Sources{input, ""};
            return havePartner ? Result<Sources>(Sources{partner, ""}) : needPartner("front");
        case Layout::Rear:
            if (!front)
                return Sources{input, ""};
            return havePartner ? Result<Sources>(Sources{partner, ""}) : needPartner("rear");
        case Layout::SideBySide:
        case Layout::PictureInPicture:
            if (!havePartner)
                return needPartner(front ? "rear" : "front");
            return front ? Sources{input, partner} : Sources{partner, input};
    }
    return makeError("unknown layout");
}

Result<std::unique_ptr<InputMedia>> InputMedia::open(const std::string& path) {
    std::string error;
    auto source = recordings::FileByteSource::open(path, &error);
    if (!source)
        return makeError(error);
    std::unique_ptr<InputMedia> m(new InputMedia());
    m->path_ = path;
    // Only the camera's recordings (clips are recordings too) are opened: "ftyp" with major
    // brand "iso4" first. A recording without readable telemetry still exports its pictures;
    // the track stays empty.
    auto layout = recordings::walkRecording(*source);
    if (!layout)
        return makeError("'" + path + "' is not a recording: " + layout.error());
    if (auto runs = checkTrackRuns(*source, *layout); !runs)
        return makeError("'" + path + "' is a damaged recording: " + runs.error());
    m->fragments_ = layout->fragments;
    m->telemetry_.readRecords(*source, *layout);
    const std::string name = std::filesystem::path(path).filename().string();
    m->name_ = recordings::parseRecordingName(name, path);
    m->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);

    // The MP4 reader alone, on this one local file: a card file that is really a playlist or
    // another format must never make the demuxer pull in other files or addresses.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "enable_drefs", "0", 0);
    int rc = avformat_open_input(&m->fmt_, path.c_str(), av_find_input_format("mp4"), &options);
    av_dict_free(&options);
    if (rc < 0)
        return makeError("'" + path + "' is not a readable recording: " + avErrorText(rc));
    // An MP4's header already gives the codecs, sizes and the sample index of every fragment;
    // probing would decode several frames first, a good part of a snapshot's time.
    if (!m->headerSuffices()) {
        rc = avformat_find_stream_info(m->fmt_, nullptr);
        if (rc < 0)
            return makeError("'" + path + "' is not a readable recording: " + avErrorText(rc));
    } else {
        // What probing would have found: each stream starts at its first sample.
        for (unsigned i = 0; i < m->fmt_->nb_streams; ++i) {
            AVStream* st = m->fmt_->streams[i];
            if (st->start_time == AV_NOPTS_VALUE && avformat_index_get_entries_count(st) > 0)
                st->start_time = avformat_index_get_entry(st, 0)->timestamp;
        }
    }
    m->videoIndex_ = av_find_best_stream(m->fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (m->videoIndex_ < 0)
        return makeError("'" + path + "' has no video");
    m->audioIndex_ = av_find_best_stream(m->fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (m->audioIndex_ >= 0 &&
        m->fmt_->streams[m->audioIndex_]->codecpar->codec_id != AV_CODEC_ID_AAC)
        m->audioIndex_ = -1;  // only AAC is carried over into a clip
    for (unsigned i = 0; i < m->fmt_->nb_streams; ++i) {
        if (static_cast<int>(i) != m->videoIndex_ && static_cast<int>(i) != m->audioIndex_)
            m->fmt_->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVStream* v = m->video();
    if (v->duration > 0 && v->duration != AV_NOPTS_VALUE)
        m->duration_ = static_cast<double>(v->duration) * av_q2d(v->time_base);
    else if (m->fmt_->duration > 0)
        m->duration_ = static_cast<double>(m->fmt_->duration) / AV_TIME_BASE;
    if (!(m->duration_ > 0))
        return makeError("'" + path + "' has no duration (a broken recording?)");
    m->fragmentStarts_.assign(m->fragments_.size(), std::nan(""));
    const int entries = avformat_index_get_entries_count(m->video());
    m->indexRate_ = rateOfIndex(m->video());
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(m->video(), i);
        const auto k = m->fragmentAt(e->pos);
        if (!k)
            continue;
        const double t = m->toSeconds(e->timestamp);
        double& start = m->fragmentStarts_[*k];
        if (std::isnan(start) || t < start)
            start = t;
    }
    return m;
}

InputMedia::~InputMedia() {
    if (decoder_)
        avcodec_free_context(&decoder_);
    if (fmt_)
        avformat_close_input(&fmt_);
    if (fd_ >= 0)
        ::close(fd_);
}

bool InputMedia::headerSuffices() const {
    if (std::strcmp(fmt_->iformat->name, "mov,mp4,m4a,3gp,3g2,mj2") != 0)
        return false;
    for (unsigned i = 0; i < fmt_->nb_streams; ++i) {
        const AVCodecParameters* par = fmt_->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
            (par->codec_id == AV_CODEC_ID_NONE || par->width <= 0 || par->height <= 0 ||
             !par->extradata || avformat_index_get_entries_count(fmt_->streams[i]) < 2))
            return false;
    }
    return true;
}

AVRational InputMedia::frameRate() const {
    // The nominal rate first: a recording whose first frame lasts longer has an odd average.
    AVRational r = video()->r_frame_rate;
    if (r.num <= 0 || r.den <= 0 || av_q2d(r) > 240)
        r = indexRate_;
    if (r.num <= 0 || r.den <= 0 || av_q2d(r) > 240)
        r = video()->avg_frame_rate;
    if (r.num <= 0 || r.den <= 0)
        r = {30, 1};
    return r;
}

double InputMedia::frameDuration() const {
    return av_q2d(av_inv_q(frameRate()));
}

std::int64_t InputMedia::halfFramePts() const {
    return std::max<std::int64_t>(
        1,
        static_cast<std::int64_t>(std::llround(frameDuration() / 2 / av_q2d(video()->time_base))));
}

std::optional<std::size_t> InputMedia::fragmentAt(std::int64_t pos) const {
    if (pos < 0)
        return std::nullopt;
    const auto p = static_cast<std::uint64_t>(pos);
    auto it = std::upper_bound(
        fragments_.begin(), fragments_.end(), p,
        [](std::uint64_t v, const recordings::Fragment& f) { return v < f.offset; });
    if (it == fragments_.begin())
        return std::nullopt;
    --it;
    if (p >= it->end())
        return std::nullopt;
    return static_cast<std::size_t>(it - fragments_.begin());
}

std::optional<std::pair<double, double>> InputMedia::fragmentSpan(std::size_t fragment) const {
    if (fragment >= fragmentStarts_.size() || std::isnan(fragmentStarts_[fragment]))
        return std::nullopt;
    double end = duration_;
    for (std::size_t k = fragment + 1; k < fragmentStarts_.size(); ++k) {
        if (!std::isnan(fragmentStarts_[k])) {
            end = fragmentStarts_[k];
            break;
        }
    }
    return std::make_pair(fragmentStarts_[fragment], std::max(end, fragmentStarts_[fragment]));
}

Result<std::vector<std::uint8_t>> InputMedia::telemetryArea(std::size_t fragment) const {
    std::vector<std::uint8_t> area(recordings::kTelemetryAreaSize, 0);
    if (fragment >= fragments_.size() || !fragments_[fragment].hasTelemetryArea())
        return area;
    if (fd_ < 0)
        return makeError("cannot read the telemetry of '" + path_ + "': the file is not open");
    const off_t at = static_cast<off_t>(fragments_[fragment].telemetryAreaOffset());
    std::size_t done = 0;
    while (done < area.size()) {
        const ssize_t n =
            ::pread(fd_, area.data() + done, area.size() - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return makeError("cannot read the telemetry of '" + path_ + "': " +
                             (n < 0 ? platform::systemErrorText(errno)
                                    : std::string("the file is shorter than it was")));
        done += static_cast<std::size_t>(n);
    }
    return area;
}

Result<void> InputMedia::openDecoder() {
    const AVCodecParameters* par = video()->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return makeError("no decoder for the video of '" + path_ + "'");
    decoder_ = avcodec_alloc_context3(codec);
    if (!decoder_ || avcodec_parameters_to_context(decoder_, par) < 0)
        return makeError("cannot set up the video decoder");
    decoder_->pkt_timebase = video()->time_base;
    decoder_->thread_count = 0;
    decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    const int rc = avcodec_open2(decoder_, codec, nullptr);
    if (rc < 0)
        return makeError("cannot open the video decoder: " + avErrorText(rc));
    return {};
}

std::int64_t InputMedia::toPts(double seconds) const {
    const AVRational tb = video()->time_base;
    const std::int64_t start = video()->start_time != AV_NOPTS_VALUE ? video()->start_time : 0;
    return start + static_cast<std::int64_t>(std::llround(seconds * tb.den / tb.num));
}

double InputMedia::toSeconds(std::int64_t pts) const {
    const std::int64_t start = video()->start_time != AV_NOPTS_VALUE ? video()->start_time : 0;
    return static_cast<double>(pts - start) * av_q2d(video()->time_base);
}

Result<void> InputMedia::seekTo(double seconds) {
    const int rc = av_seek_frame(fmt_, videoIndex_, toPts(seconds), AVSEEK_FLAG_BACKWARD);
    if (rc < 0)
        return makeError("cannot seek in '" + path_ + "': " + avErrorText(rc));
    if (decoder_)
        avcodec_flush_buffers(decoder_);
    sentEof_ = false;
    drained_ = false;
    return {};
}

Result<FramePtr> InputMedia::nextFrame(std::int64_t fromPts,
                                       const std::function<void(AVPacket*)>& onAudio) {
    FramePtr frame = makeFrame();
    PacketPtr packet = makePacket();
    for (;;) {
        int rc = avcodec_receive_frame(decoder_, frame.get());
        if (rc == 0) {
            const std::int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                         ? frame->best_effort_timestamp
                                         : frame->pts;
            frame->pts = pts;
            if (pts != AV_NOPTS_VALUE && pts < fromPts) {
                av_frame_unref(frame.get());
                continue;
            }
            return frame;
        }
        if (rc == AVERROR_EOF) {
            drained_ = true;
            return FramePtr();
        }
        if (rc != AVERROR(EAGAIN))
            return makeError("cannot decode '" + path_ + "': " + avErrorText(rc));
        if (sentEof_) {
            drained_ = true;
            return FramePtr();
        }
        rc = av_read_frame(fmt_, packet.get());
        if (rc == AVERROR_EOF) {
            sentEof_ = true;
            avcodec_send_packet(decoder_, nullptr);
            continue;
        }
        if (rc < 0)
            return makeError("cannot read '" + path_ + "': " + avErrorText(rc));
        if (packet->stream_index == videoIndex_) {
            rc = avcodec_send_packet(decoder_, packet.get());
            // A damaged packet is skipped: the frames around it still count.
            if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_INVALIDDATA) {
                av_packet_unref(packet.get());
                return makeError("cannot decode '" + path_ + "': " + avErrorText(rc));
            }
        } else if (packet->stream_index == audioIndex_ && onAudio) {
            onAudio(packet.get());
        }
        av_packet_unref(packet.get());
    }
}

Result<std::unique_ptr<FramePipeline>> FramePipeline::create(const Input& main,
                                                             const std::optional<Input>& inset,
                                                             Layout layout, bool caption,
                                                             AVPixelFormat outFormat) {
    std::unique_ptr<FramePipeline> p(new FramePipeline());
    p->graph_ = avfilter_graph_alloc();
    if (!p->graph_)
        return makeError("out of memory");
    p->graph_->nb_threads = 0;
    const auto bufferArgs = [](const Input& in) {
        char args[256];
        std::snprintf(args, sizeof args,
                      "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", in.width,
                      in.height, static_cast<int>(in.format), in.timeBase.num, in.timeBase.den,
                      in.sampleAspect.num > 0 ? in.sampleAspect.num : 1,
                      in.sampleAspect.den > 0 ? in.sampleAspect.den : 1);
        return std::string(args);
    };
    const AVFilter* buffer = avfilter_get_by_name("buffer");
    const AVFilter* sink = avfilter_get_by_name("buffersink");
    if (avfilter_graph_create_filter(&p->mainSrc_, buffer, "main", bufferArgs(main).c_str(),
                                     nullptr, p->graph_) < 0)
        return makeError("cannot set up the picture filters");
    const bool twoChannels =
        inset && (layout == Layout::SideBySide || layout == Layout::PictureInPicture);
    if (twoChannels &&
        avfilter_graph_create_filter(&p->insetSrc_, buffer, "inset", bufferArgs(*inset).c_str(),
                                     nullptr, p->graph_) < 0)
        return makeError("cannot set up the picture filters");
    if (avfilter_graph_create_filter(&p->sink_, sink, "out", nullptr, nullptr, p->graph_) < 0)
        return makeError("cannot set up the picture filters");
    const AVPixelFormat formats[] = {outFormat, AV_PIX_FMT_NONE};
    av_opt_set_int_list(p->sink_, "pix_fmts", formats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN);

    const int h = main.height;
    const int w = main.width;
    std::string desc;
    int outW = w;
    if (twoChannels && layout == Layout::SideBySide) {
        // The rear scaled to the front's height, next to it.
        const int rearW = std::max(
            2, static_cast<int>(std::lround(double(inset->width) * h / inset->height / 2.0)) * 2);
        outW = w + rearW;
        desc = "[main]format=yuv420p[f];[inset]scale=" + std::to_string(rearW) + ":" +
               std::to_string(h) + ":flags=bicubic,format=yuv420p[r];[f][r]hstack=inputs=2[v]";
    } else if (twoChannels) {
        // The rear at a third of the front's width, in the top-right corner.
        const int insetW = std::max(2, w / 3 / 2 * 2);
        const int margin = std::max(2, h / 40);
        desc = "[main]format=yuv420p[f];[inset]scale=" + std::to_string(insetW) +
               ":-2:flags=bicubic,format=yuv420p[r];[f][r]overlay=x=W-w-" + std::to_string(margin) +
               ":y=" + std::to_string(margin) + ":eof_action=repeat:format=yuv420[v]";
    } else {
        desc = "[main]null[v]";
    }
    if (caption) {
        auto file = platform::createPrivateFile("caption-", ".txt");
        if (!file)
            return makeError("cannot draw the caption: " + file.error());
        p->captionFd_ = file->fd;
        p->captionFile_ = file->path.string();
        if (auto blank = p->writeCaptionFile(" "); !blank)
            return makeError(blank.error());
        // At least 1/18 of the picture's height, smaller only when a full caption line (about
        // 50 characters of the condensed font) would not fit the width.
        int size = (h + 17) / 18;
        size = std::min(size, outW * 100 / (50 * 56));
        p->fontSize_ = std::max(size, 10);
        const int band = p->fontSize_ * 3 / 2 + 4;
        desc += ";[v]drawbox=x=0:y=ih-" + std::to_string(band) + ":w=iw:h=" + std::to_string(band) +
                ":color=black@0.7:t=fill,drawtext@caption=fontfile=" + captionFont() +
                ":expansion=none:reload=1:textfile=" + graphOptionValue(p->captionFile_) +
                ":fontsize=" + std::to_string(p->fontSize_) +
                ":fontcolor=white:x=(w-text_w)/2:y=h-" + std::to_string(band) + "+(" +
                std::to_string(band) + "-" + std::to_string(p->fontSize_) + ")/2[c]";
        desc += ";[c]format=" + std::string(av_get_pix_fmt_name(outFormat)) + "[out]";
    } else {
        desc += ";[v]format=" + std::string(av_get_pix_fmt_name(outFormat)) + "[out]";
    }

    AVFilterInOut* outputs = nullptr;
    AVFilterInOut* inputs = avfilter_inout_alloc();
    AVFilterInOut* mainOut = avfilter_inout_alloc();
    mainOut->name = av_strdup("main");
    mainOut->filter_ctx = p->mainSrc_;
    mainOut->pad_idx = 0;
    mainOut->next = nullptr;
    if (p->insetSrc_) {
        AVFilterInOut* insetOut = avfilter_inout_alloc();
        insetOut->name = av_strdup("inset");
        insetOut->filter_ctx = p->insetSrc_;
        insetOut->pad_idx = 0;
        insetOut->next = nullptr;
        mainOut->next = insetOut;
    }
    outputs = mainOut;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = p->sink_;
    inputs->pad_idx = 0;
    inputs->next = nullptr;
    int rc = avfilter_graph_parse_ptr(p->graph_, desc.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (rc < 0)
        return makeError("cannot set up the picture filters: " + avErrorText(rc));
    rc = avfilter_graph_config(p->graph_, nullptr);
    if (rc < 0) {
        if (caption && access(captionFont(), R_OK) != 0)
            return makeError(std::string("the caption font '") + captionFont() +
                             "' is missing (Debian package fonts-dejavu-core)");
        return makeError("cannot set up the picture filters: " + avErrorText(rc));
    }
    if (caption)
        p->drawtext_ = avfilter_graph_get_filter(p->graph_, "drawtext@caption");
    return p;
}

FramePipeline::~FramePipeline() {
    if (graph_)
        avfilter_graph_free(&graph_);
    if (captionFd_ >= 0)
        ::close(captionFd_);
    if (!captionFile_.empty())
        ::unlink(captionFile_.c_str());
}

Result<void> FramePipeline::writeCaptionFile(const std::string& text) {
    // The filter reads the file while a frame is pushed, on this thread: it never sees it half
    // written.
    std::size_t done = 0;
    if (::ftruncate(captionFd_, 0) != 0)
        return makeError("cannot draw the caption: " + platform::systemErrorText(errno));
    while (done < text.size()) {
        const ssize_t n =
            ::pwrite(captionFd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return makeError("cannot draw the caption: " +
                             platform::systemErrorText(n < 0 ? errno : ENOSPC));
        done += static_cast<std::size_t>(n);
    }
    return {};
}

Result<void> FramePipeline::setCaption(const std::string& text) {
    if (!drawtext_ || text == caption_)
        return {};
    caption_ = text;
    return writeCaptionFile(text.empty() ? " " : text);
}

Result<void> FramePipeline::pushMain(AVFrame* frame) {
    const int rc = av_buffersrc_add_frame_flags(mainSrc_, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (rc < 0)
        return makeError("cannot lay out the picture: " + avErrorText(rc));
    return {};
}

Result<void> FramePipeline::pushInset(AVFrame* frame) {
    if (!insetSrc_)
        return {};
    const int rc = av_buffersrc_add_frame_flags(insetSrc_, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (rc < 0)
        return makeError("cannot lay out the picture: " + avErrorText(rc));
    return {};
}

Result<FramePtr> FramePipeline::pull() {
    FramePtr frame = makeFrame();
    const int rc = av_buffersink_get_frame(sink_, frame.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
        return FramePtr();
    if (rc < 0)
        return makeError("cannot lay out the picture: " + avErrorText(rc));
    return frame;
}

int FramePipeline::outWidth() const {
    return av_buffersink_get_w(sink_);
}

int FramePipeline::outHeight() const {
    return av_buffersink_get_h(sink_);
}

AVRational FramePipeline::outTimeBase() const {
    return av_buffersink_get_time_base(sink_);
}

std::string captionFor(const InputMedia& main, double frameSeconds,
                       std::optional<recordings::SpeedUnit> unit) {
    const double seconds = frameSeconds + main.frameDuration() / 2;
    const auto& track = main.telemetry();
    const auto index = entryForMoment(track, seconds, main.durationSeconds());
    const recordings::GpsFix* fix = index ? &track.fixes()[*index] : nullptr;
    const bool valid = index && recordings::isTrackPoint(track, *index);
    return captionText(main.nameTimestamp(), seconds, fix, valid, unit);
}

}  // namespace orvik::exporting
