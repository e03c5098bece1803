#include "uPictureEmbed.h"

#include "ID3v2Tags.h"
#include "ID3v2Text.h"
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

TPictureDescription PictureDescriptionFor(const TID3v2Tag& tag, const std::string& utf8) {
    TPictureDescription description;
    // No text, no mark: an empty description is the same in every encoding.
    if (!utf8.empty() && !tag.FitsCodePage(utf8, description.Bytes)) {
        description.Bytes = id3text::Utf8ToUtf16(utf8);
        description.Unicode = true;
    }
    return description;
}

std::string BuildAttachedPicturePayload(int pictureType, const TPictureDescription& description,
                                        const std::string& jpeg) {
    if (!description.Unicode)
        return BuildAttachedPicturePayload(pictureType, description.Bytes, jpeg);
    const int type = pictureType >= 0 && pictureType < kPictureTypeCount ? pictureType : 0;
    std::string payload("\1image/jpeg", 11);
    payload.push_back('\0');
    payload.push_back(static_cast<char>(type));
    payload.append(description.Bytes);
    payload.append(2, '\0');
    payload.append(jpeg);
    return payload;
}

std::string CheckPictureDescription(const TPictureDescription& description) {
    return description.Unicode ? std::string() : CheckPictureDescription(description.Bytes);
}
