// The code page of a tag's legacy texts: what the store holds in encoding 0, how it is shown, and
// how edited texts are written. Every conversion goes through platform/CodePage.
#include "ID3v1Tags.h"
#include "ID3v2Tags.h"
#include "ID3v2Text.h"

#include <memory>

using platform::TCodePage;
using TAccess = TFrameOrigin::TAccess;

namespace {

bool IsCommentId(std::string_view id) {
    return id == "COMM" || id == "USLT";
}

// A text frame the program writes in its own form from a plain payload.
bool IsPlainTextId(std::string_view id) {
    return !id.empty() && id[0] == 'T' && id != "TPIC";
}

// Frame data whose layout has an encoding byte and that byte is 0.
bool IsLegacyData(std::string_view id, std::string_view data) {
    return !data.empty() && data[0] == '\0' &&
           (IsPlainTextId(id) || IsCommentId(id) || id == "WXXX" || id == "APIC");
}

void Split(std::string_view region, std::vector<std::string_view>& out) {
    while (!region.empty()) {
        const size_t nul = region.find('\0');
        if (nul != 0) out.push_back(region.substr(0, nul));
        if (nul == std::string_view::npos) break;
        region.remove_prefix(nul + 1);
    }
}

// The description of picture data that starts at its MIME type.
void PictureDescription(std::string_view fromMime, std::vector<std::string_view>& out) {
    const size_t mimeEnd = fromMime.find('\0');
    if (mimeEnd == std::string_view::npos || mimeEnd + 2 >= fromMime.size()) return;
    const std::string_view rest = fromMime.substr(mimeEnd + 2);
    const std::string_view description = rest.substr(0, rest.find('\0'));
    if (!description.empty()) out.push_back(description);
}

// The legacy strings of frame data in encoding 0: the texts and descriptions, not the language,
// MIME type, URL or picture.
void LegacyStrings(std::string_view id, std::string_view data, std::vector<std::string_view>& out) {
    if (id == "APIC")
        PictureDescription(data.substr(1), out);
    else if (IsCommentId(id))
        Split(data.substr(std::min<size_t>(4, data.size())), out);
    else if (id == "WXXX")
        Split(data.substr(1, data.find('\0', 1) - 1), out);
    else
        Split(data.substr(1), out);
}

bool AllAscii(const std::vector<std::string_view>& strings) {
    for (std::string_view s : strings)
        if (!platform::IsAscii(s)) return false;
    return true;
}

} // namespace

void TID3v2Tag::CollectTexts(std::vector<std::string_view>& legacy,
                             std::vector<std::string_view>& unicode) const {
    for (size_t i = 0; i < FrameIds.size(); ++i) {
        const TByteString& id = FrameIds[i];
        if (const TFrameOrigin* origin = OriginOf(i)) {
            if (origin->Encoding == 0 && origin->Access == TAccess::Editable)
                LegacyStrings(id, origin->DataAsRead(), legacy);
            else if (origin->Encoding > 0 && origin->HasText && !origin->Text.empty())
                unicode.push_back(origin->Text);
            continue;
        }
        // The program's own form: the payload is the text (comments and lyrics without a
        // description), a picture's payload starts with its encoding byte once read back.
        const std::string_view payload = FramePayloads[i];
        // A picture given a UTF-16 description brings its encoding byte 01: no legacy text.
        if (id == "APIC" && !payload.empty() && payload[0] == '\1') continue;
        if (id == "APIC" && !payload.empty())
            PictureDescription(payload.substr(payload[0] == '\0' ? 1 : 0), legacy);
        else if ((IsPlainTextId(id) || IsCommentId(id)) && !payload.empty())
            legacy.push_back(payload);
    }
}

bool TID3v2Tag::HasLegacyText() const {
    std::vector<std::string_view> legacy, unicode;
    CollectTexts(legacy, unicode);
    return !AllAscii(legacy);
}

void TID3v2Tag::SetCodePage(TCodePage cp) {
    CodePage = cp;
    // Texts of the program's own form are decoded when shown; other programs' were decoded at
    // the read.
    for (size_t i = 0; i < FrameIds.size(); ++i) {
        if (!OriginOf(i)) continue;
        TFrameOrigin& origin = *FrameOrigins[i];
        if (origin.Encoding <= 0 && origin.HasText && origin.Access == TAccess::Editable)
            origin.Text = FrameText(FrameIds[i], origin.Encoding, origin.DataAsRead(), cp);
    }
}

std::string_view TID3v2Tag::EntryData(size_t index, std::string& buffer) const {
    const TByteString& id = FrameIds[index];
    if (const TFrameOrigin* origin = OriginOf(index))
        return origin->Access == TAccess::Editable ? origin->DataAsRead() : std::string_view();
    // The program's own form, as read or edited: the frame the writer makes of the payload.
    const TByteString& payload = FramePayloads[index];
    if (id == "APIC") {
        if (!payload.empty() && (payload[0] == '\0' || payload[0] == '\1')) return payload;
        buffer = '\0' + payload;
    } else if (IsCommentId(id)) {
        buffer = std::string("\0chi\0", 5) + payload;
    } else if (IsPlainTextId(id)) {
        buffer = '\0' + payload;
    } else {
        return {};
    }
    return buffer;
}

bool TID3v2Tag::FitsCodePage(const std::string& utf8, std::string& legacy, bool unicode) const {
    legacy.clear();
    return !unicode && CodePage != TCodePage::Utf8 &&
           platform::Utf8ToLegacy(CodePage, utf8, legacy);
}

void TID3v2Tag::SetText(size_t index, const std::string& utf8, bool unicode) {
    if (index >= FrameIds.size()) return;
    FrameOrigins.resize(FrameIds.size());
    const TByteString& id = FrameIds[index];
    // A text that fits goes in the tag's code page: the edited payload is rendered in the writer's
    // own form (encoding 0), one the edit left as it was goes back as read. UTF-8 written into a
    // Latin-1 frame is a fault of other programs, not a code page to keep writing in.
    std::string legacy;
    const TFrameOrigin* stored = StoredFrame(index);
    if (FitsCodePage(utf8, legacy, unicode) || (stored && stored->Access == TAccess::Unwritable)) {
        FramePayloads[index] = legacy; // an Unwritable id is refused by the save
        return;
    }
    std::string data(1, '\1');
    if (IsCommentId(id))
        data += "chi" + id3text::Utf8ToUtf16(std::string(1, '\0') + utf8);
    else
        data += id3text::Utf8ToUtf16(utf8);
    auto origin = std::make_unique<TFrameOrigin>();
    origin->Id = id;
    // The payload a read of the frame gives, so that the entry counts as unchanged.
    origin->Payload = StripNulls(IsCommentId(id) ? data.substr(4) : data);
    origin->Frame = PlainFrame23(id, data);
    origin->Encoding = 1;
    origin->HasText = true;
    origin->Text = utf8;
    FramePayloads[index] = origin->Payload;
    FrameOrigins[index] = std::move(origin);
}

void TID3v2Tag::SetFrameText(const TByteString& id, const std::string& utf8, bool unicode) {
    SetFrameTexts({{id, utf8}}, unicode);
}

void TID3v2Tag::SetFrameTexts(const std::vector<std::pair<TByteString, std::string>>& texts,
                              bool unicode) {
    if (!Loaded) return;
    for (const auto& [id, utf8] : texts) {
        int index = IndexOfId(id);
        if (index == -1) {
            FrameOrigins.resize(FrameIds.size());
            FrameIds.push_back(id);
            FramePayloads.emplace_back();
            FrameOrigins.emplace_back();
            index = static_cast<int>(FrameIds.size()) - 1;
        }
        SetText(static_cast<size_t>(index), utf8, unicode);
    }
    SaveToFile();
}

std::vector<std::pair<TByteString, std::string>> TID3v2Tag::ConvertToUnicode() {
    std::vector<std::pair<TByteString, std::string>> changed;
    FrameOrigins.resize(FrameIds.size());
    for (size_t i = 0; i < FrameIds.size(); ++i) {
        const TByteString& id = FrameIds[i];
        std::string buffer;
        const std::string_view data = EntryData(i, buffer);
        if (!IsLegacyData(id, data)) continue;
        std::vector<std::string_view> strings;
        LegacyStrings(id, data, strings);
        if (AllAscii(strings)) continue;
        const std::string data16 = Utf16FrameData(id, data, 0, CodePage);
        // A version 2.3 frame keeps its flags (what other programs asked of it stays asked); an
        // editable frame has none that change how its data is laid out.
        unsigned char status = 0, format = 0;
        if (const TFrameOrigin* read = OriginOf(i); read && read->Frame.size() >= 10) {
            status = static_cast<unsigned char>(read->Frame[8]);
            format = static_cast<unsigned char>(read->Frame[9]);
        }
        auto origin = std::make_unique<TFrameOrigin>();
        origin->Id = id;
        origin->Payload = FramePayloads[i];
        origin->Frame = PlainFrame23(id, data16, status, format);
        origin->Encoding = 1;
        origin->HasText = true;
        origin->Text = FrameText(id, 1, data16, CodePage);
        changed.emplace_back(id, origin->Text);
        FrameOrigins[i] = std::move(origin);
    }
    return changed;
}

TCodePage JudgeCodePage(TID3v2Tag& id3v2, TID3v1Tag* id3v1, std::optional<TCodePage> forced) {
    TCodePage cp = TCodePage::Gbk;
    if (forced) {
        cp = *forced;
    } else {
        std::vector<std::string_view> legacy, unicode;
        id3v2.CollectTexts(legacy, unicode);
        if (id3v1 && id3v1->Exists)
            for (const TByteString* field :
                 {&id3v1->Title, &id3v1->Artist, &id3v1->Album, &id3v1->Comment})
                if (!field->empty()) legacy.push_back(*field);
        if (!AllAscii(legacy)) cp = platform::DetectCodePage(legacy, unicode);
    }
    if (cp != id3v2.CodePage) id3v2.SetCodePage(cp);
    if (id3v1) id3v1->CodePage = cp;
    return cp;
}
