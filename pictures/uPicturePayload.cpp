#include "uPicturePayload.h"

#include "ID3v2Text.h"

#include <algorithm>

namespace {

// A payload whose encoding byte says UTF-16 or UTF-8 comes from another program: its fields are
// found by their layout (MIME type up to its NUL, picture type, description up to its
// terminator, two NUL bytes for UTF-16). Offsets of the type and of the description, or false.
bool Layout(const std::string& payload, size_t& type, size_t& description) {
    if (payload.empty() || payload[0] < 1 || payload[0] > 3) return false;
    const size_t mimeEnd = payload.find('\0', 1);
    if (mimeEnd == std::string::npos || mimeEnd + 1 >= payload.size()) return false;
    type = mimeEnd + 1;
    description = mimeEnd + 2;
    return true;
}

size_t DescriptionEnd(const std::string& payload, size_t from, size_t& next) {
    return id3text::StringEnd(payload[0], payload, from, next);
}

} // namespace

int PictureTypeOf(const std::string& payload) {
    size_t type, description;
    if (Layout(payload, type, description)) {
        const int t = static_cast<unsigned char>(payload[type]);
        return t <= 20 ? t : 0;
    }
    if (payload.size() < 13) return 0;
    const int fixed = static_cast<unsigned char>(payload[12]);
    return fixed <= 20 ? fixed : 0;
}

std::string PictureDescriptionOf(const std::string& payload) {
    size_t type, description;
    if (Layout(payload, type, description)) {
        size_t next;
        const size_t end = DescriptionEnd(payload, description, next);
        return payload.substr(description, end - std::min(end, description));
    }
    if (payload.size() < 14) return {};
    size_t end = payload.find('\0', 13);
    return payload.substr(13, end == std::string::npos ? std::string::npos : end - 13);
}

int PictureDataStart(const std::string& payload) {
    size_t type, description;
    if (Layout(payload, type, description)) {
        size_t next;
        DescriptionEnd(payload, std::min(description, payload.size()), next);
        return static_cast<int>(next) + 1;
    }
    const size_t length = payload.size();
    for (size_t k = 13; k <= 79 && k < length; ++k)
        if (payload[k] == '\0') return static_cast<int>(k) + 2;
    if (length < 80) return static_cast<int>(length) + 2;
    return 15;
}
