#pragma once
// Evidence export: clips and snapshots of a recording, alone or with its partner channel, with
// the moment's time, speed and position burned in when asked.
//
// A clip is itself a recording: a fragmented MP4 with major brand "iso4" whose media boxes end
// in the telemetry slots of the source fragments the clip overlaps, so the viewer and
// `orvik-cli telemetry` read its telemetry back. Output is written to a temporary file in the
// target folder and renamed into place; on any failure nothing is left behind.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "recordings/telemetry.h"

namespace orvik::exporting {

enum class Layout {
    Given,             // the channel of the given file, alone
    Front,             // the front channel alone
    Rear,              // the rear channel alone
    SideBySide,        // front and rear next to each other at the front's height
    PictureInPicture,  // the rear inset in the top-right corner of the front
};

// "front", "rear", "side-by-side", "picture-in-picture" (and "" for Given).
std::optional<Layout> parseLayout(std::string_view text);
std::string_view layoutName(Layout layout);

// Called now and then with the share done (0..1); returning false cancels the export, which
// then fails with the message "cancelled" and leaves nothing behind.
using Progress = std::function<bool(double done)>;

// One recording's share of a clip: [fromSeconds, toSeconds) from its start.
struct ClipPiece {
    std::string input;  // a front or a rear recording
    double fromSeconds = 0;
    double toSeconds = 0;
};

struct ClipRequest {
    std::string input;  // a front or a rear recording
    double fromSeconds = 0;
    double toSeconds = 0;
    // A clip over several recordings of a drive, in time order, played one after the other;
    // when given, input and the seconds above are not used. Recordings whose streams match are
    // joined by stream copy; the layout and caption apply to every piece.
    std::vector<ClipPiece> pieces;
    std::string output;  // ".mp4"
    Layout layout = Layout::Given;
    bool caption = false;
    std::optional<recordings::SpeedUnit> speedUnit;  // the caption's speed; as recorded if empty
    bool force = false;                              // replace an existing output
    Progress progress;
    // Packets held from the keyframe before the range to its first frame when only the head is
    // encoded; a longer run (a file with few or no keyframes) is decoded afresh instead.
    std::size_t leadLimitBytes = std::size_t{64} << 20;
};

enum class ClipMethod {
    StreamCopy,  // every frame copied
    SmartCut,    // the frames before the first keyframe re-encoded, the rest copied
    Reencode,    // the whole clip encoded (layout, caption, or a stream that cannot be cut)
};
std::string_view clipMethodName(ClipMethod method);

struct ClipReport {
    ClipMethod method = ClipMethod::StreamCopy;
    std::int64_t frames = 0;           // video frames in the clip
    std::int64_t encodedFrames = 0;    // of those, the ones encoded
    std::size_t fragments = 0;         // moof/mdat pairs written
    std::size_t telemetryRecords = 0;  // valid records in the slots carried over
    double seconds = 0;                // clip duration
};

Result<ClipReport> exportClip(const ClipRequest& request);

struct SnapshotRequest {
    std::string input;
    double atSeconds = 0;
    std::string output;  // ".png" or ".jpg"/".jpeg"
    Layout layout = Layout::Given;
    bool caption = false;
    std::optional<recordings::SpeedUnit> speedUnit;  // the caption's speed; as recorded if empty
    bool force = false;
};

struct SnapshotReport {
    int width = 0;
    int height = 0;
    double frameSeconds = 0;  // the moment of the frame taken
    bool gpsTagged = false;   // a JPEG that carries the GPS position
};

Result<SnapshotReport> exportSnapshot(const SnapshotRequest& request);

}  // namespace orvik::exporting
