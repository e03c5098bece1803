#include "uPicturePayload.h"

int PictureTypeOf(const std::string& payload) {
    if (payload.size() < 13) return 0;
    int type = static_cast<unsigned char>(payload[12]);
    return type <= 20 ? type : 0;
}

std::string PictureDescriptionOf(const std::string& payload) {
    if (payload.size() < 14) return {};
    size_t end = payload.find('\0', 13);
    return payload.substr(13, end == std::string::npos ? std::string::npos : end - 13);
}

int PictureDataStart(const std::string& payload) {
    const size_t length = payload.size();
    for (size_t k = 13; k <= 79 && k < length; ++k)
        if (payload[k] == '\0') return static_cast<int>(k) + 2;
    if (length < 80) return static_cast<int>(length) + 2;
    return 15;
}
