#include "uPictureEmbed.h"

#include "uMp3Const.h"

std::string BuildCustomPicturePayload(const std::string& jpeg) {
    return jpeg;
}

std::string BuildAttachedPicturePayload(int pictureType, const std::string& descriptionCp936,
                                        const std::string& jpeg) {
    const int type = pictureType >= 0 && pictureType < kPictureTypeCount ? pictureType : 0;
    std::string payload;
    payload.reserve(13 + descriptionCp936.size() + jpeg.size());
    payload.append("image/jpeg");
    payload.push_back('\0');
    payload.push_back(static_cast<char>(type));
    payload.append(descriptionCp936);
    payload.push_back('\0');
    payload.append(jpeg);
    return payload;
}

std::string CheckPictureDescription(const std::string& descriptionCp936) {
    if (descriptionCp936.size() <= kMaxPictureDescriptionBytes) return {};
    return "！图片说明太长（最多" + std::to_string(kMaxPictureDescriptionBytes) +
           "字节，即33个汉字），图片未嵌入：APIC";
}
