#include "recordings/partner.h"

#include <filesystem>

namespace orvik::recordings {

namespace {

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Byte range of the n-th character from the end of UTF-8 text (n = 1 is the last), counted in
// characters as the camera's home platform counted them; nothing when the text is shorter.
std::optional<std::pair<std::size_t, std::size_t>> characterFromEnd(std::string_view text, int n) {
    std::size_t end = text.size();
    for (int i = 1; i <= n; ++i) {
        if (end == 0)
            return std::nullopt;
        std::size_t start = end - 1;
        while (start > 0 && isContinuationByte(text[start]))
            --start;
        if (i == n)
            return std::make_pair(start, end);
        end = start;
    }
    return std::nullopt;
}

ChannelOfRecording ruleFor(std::string_view path, bool front) {
    ChannelOfRecording out;
    out.front = front;
    // The letter slot: the character in front of a four-character extension such as ".mp4".
    const auto slot = characterFromEnd(path, 5);
    if (!slot || path.substr(slot->first, slot->second - slot->first) == "/")
        return out;
    std::string partner(path.substr(0, slot->first));
    partner += front ? 'R' : 'F';
    partner.append(path.substr(slot->second));
    if (partner != path)
        out.partnerPath = std::move(partner);
    return out;
}

std::string_view fileNameOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

ChannelOfRecording channelOfRecording(std::string_view path) {
    return ruleFor(path, parseRecordingName(fileNameOf(path), path).isFront());
}

ChannelOfRecording channelOfRecording(const RecordingFile& row) {
    return ruleFor(row.fullPath, row.isFront());
}

RecordingPair pairRecording(std::string_view path) {
    const ChannelOfRecording rule = channelOfRecording(path);
    RecordingPair pair;
    pair.front = std::string(path);
    pair.givenIsFront = rule.front;
    std::error_code ec;
    if (!rule.partnerPath || !std::filesystem::exists(*rule.partnerPath, ec))
        return pair;
    pair.rear = *rule.partnerPath;
    if (!rule.front)
        std::swap(pair.front, pair.rear);
    return pair;
}

}  // namespace orvik::recordings
