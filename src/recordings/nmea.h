#pragma once
// NMEA 0183 decoding of the receiver text stored in each telemetry record. RMC, GGA, GSA and GNS
// update the running GpsFix; everything else is ignored. Bad sentences are never errors: they
// leave the state alone or set the fields that did not convert to 0.
#include <cstddef>
#include <string_view>

#include "recordings/gps_fix.h"

namespace orvik::recordings {

// True when two hex digits follow the first "*" and equal the XOR of the characters between the
// leading "$" and that "*". Fewer than two hex digits count as a mismatch.
bool nmeaChecksumMatches(std::string_view sentence);

// Whether checksums decide. Decided per recording: a receiver that writes real checksums has a
// sentence whose checksum does not match damaged (Verify); one whose checksums never match
// writes none at all, and its sentences are taken as they are (Ignore).
enum class ChecksumRule { Verify, Ignore };

// Decodes one sentence (from "$" up to, without, its line end, e.g. "$GPRMC,...*6A") into state,
// and, when given, the receiver's status words the track formats need. Returns true when the
// sentence is of a handled type, has exactly one "*" and (under Verify) its checksum matches;
// otherwise nothing changes.
bool decodeNmeaSentence(std::string_view sentence, GpsFix& state, ReceiverStatus* status = nullptr,
                        ChecksumRule rule = ChecksumRule::Verify);

// Calls onSentence(std::string_view) for each sentence of a record's text that starts with "$G"
// and is ended by CR, LF or a zero byte inside the text; text after the last terminator is an
// incomplete sentence and is dropped.
template <typename OnSentence>
void forEachRecordSentence(std::string_view text, OnSentence&& onSentence) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0' || c == '\r' || c == '\n') {
            if (i - start >= 2 && text[start] == '$' && text[start + 1] == 'G') {
                onSentence(text.substr(start, i - start));
            }
            start = i + 1;
        } else if (c == '$') {
            start = i;
        }
    }
}

}  // namespace orvik::recordings
