#pragma once
// The two channels of a recording: which camera a file comes from and where the other camera's
// file of the same moment is. Every part of the program that pairs files (playback, export, the
// command line, trips) asks here, so they never disagree.
//
// The channel is the letter after the name's last underscore: "F" is the front camera, every
// other letter (and none) the rear. The partner is the file in the same folder whose name has
// the other letter in front of the extension: the character before ".mp4" (the fifth from the
// end) becomes "R" for a front recording and "F" otherwise, whatever it was, so
// event_20190305_142233_F.mp4 and event_20190305_142233_R.mp4 are partners and clip1.mp4 (no
// letter: rear) names clipF.mp4.
#include <optional>
#include <string>
#include <string_view>

#include "recordings/recording_file.h"

namespace orvik::recordings {

struct ChannelOfRecording {
    bool front = false;
    // Where the other channel's file would be. Nothing when the rule names no other file: a
    // path too short to have a letter before its extension, a name whose letter slot is
    // already the partner's letter (drive_F.mp4 has an empty channel, so counts as rear, and its
    // "partner" would be itself), or a slot outside the file name.
    std::optional<std::string> partnerPath;
};

// The rule for a path (the channel read from its file name) or a catalogue row.
ChannelOfRecording channelOfRecording(std::string_view path);
ChannelOfRecording channelOfRecording(const RecordingFile& row);

// What plays where: the front file in the front player and its partner in the rear one; a
// recording without a partner alone, whichever camera it came from.
struct RecordingPair {
    std::string front;  // the front file, or the single file
    std::string rear;   // the rear file of a pair; "" without a partner
    bool givenIsFront = false;
    bool paired() const { return !rear.empty(); }
};

// Pairs a recording with its partner when a file or folder is at the partner path.
RecordingPair pairRecording(std::string_view path);

}  // namespace orvik::recordings
