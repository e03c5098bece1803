#include "uAPEv2Tag.h"

#include "CodePage.h"
#include "PlatformFile.h"
#include "utJournal.h"
#include "utPublic.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

using platform::EPlatformError;
using platform::TFileStream;
using platform::TOpenMode;
using platform::TShareMode;

namespace {

constexpr int kApeBlockSize = 32; // a header or a footer
constexpr int kId3v1Size = 128;

uint32_t GetLittleEndian32(const unsigned char* b) {
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

bool IsApeBlock(const unsigned char* block) {
    return std::memcmp(block, "APETAGEX", 8) == 0;
}

[[noreturn]] void RaiseReadError(const TFileStream& file, const std::string& why) {
    throw EPlatformError("Stream read error in '" + file.FileName() + "': " + why);
}

bool HasId3v1Block(TFileStream& file, int64_t size) {
    if (size < kId3v1Size) return false;
    char mark[3];
    file.Seek(size - kId3v1Size);
    file.ReadBuffer(mark, 3);
    return std::memcmp(mark, "TAG", 3) == 0;
}

// One probe of the search: the 32 bytes at `position`, which must all be there. A position
// before the start of the file finds nothing.
bool ProbeApeBlock(TFileStream& file, int64_t position, unsigned char (&block)[kApeBlockSize]) {
    if (position < 0) return false;
    file.Seek(position);
    file.ReadBuffer(block, kApeBlockSize);
    return IsApeBlock(block);
}

// The region that ends at `footerEnd`, as the footer's tag-size field gives it. The field is
// taken unsigned, so a huge one gives a negative start rather than wrapping round into the file.
int32_t RegionStart(int64_t footerEnd, const unsigned char* footer) {
    const int64_t start = footerEnd - (int64_t(GetLittleEndian32(footer + 12)) + kApeBlockSize);
    return start < INT32_MIN ? INT32_MIN : static_cast<int32_t>(start);
}

// Hands out the bytes of one tag region in bounded blocks. Nothing past `end` is ever taken: a
// count, key or value that runs past it raises the stream-read error before anything is
// allocated for it, and each item uses up at least 9 bytes, so any item count ends.
class TRegionReader {
  public:
    TRegionReader(TFileStream& file, int64_t start, int64_t end)
        : file_(file), pos_(start), end_(end) {}

    int64_t Position() const { return pos_; }

    void Take(int64_t count, std::string& out, const char* what) {
        if (count > end_ - pos_)
            RaiseReadError(file_, std::string(what) + " at offset " + std::to_string(pos_) +
                                      " needs " + std::to_string(count) + " bytes, only " +
                                      std::to_string(end_ - pos_) + " are left in the tag");
        out.reserve(out.size() + static_cast<size_t>(count));
        while (count > 0) {
            std::string_view have = Available();
            size_t n = static_cast<size_t>(std::min<int64_t>(count, int64_t(have.size())));
            out.append(have.data(), n);
            pos_ += int64_t(n);
            count -= int64_t(n);
        }
    }

    // The bytes up to the next NUL; the NUL is used up but not returned.
    std::string TakeUpToNul() {
        const int64_t start = pos_;
        std::string text;
        for (;;) {
            if (pos_ >= end_)
                RaiseReadError(file_, "the item key at offset " + std::to_string(start) +
                                          " has no NUL before the end of the tag");
            std::string_view have = Available();
            size_t nul = have.find('\0');
            size_t n = nul == std::string_view::npos ? have.size() : nul;
            text.append(have.data(), n);
            pos_ += int64_t(n);
            if (nul != std::string_view::npos) {
                ++pos_;
                return text;
            }
        }
    }

  private:
    // The buffered bytes from the current position on; refills when they are used up.
    std::string_view Available() {
        if (pos_ < bufferStart_ || pos_ >= bufferStart_ + int64_t(buffer_.size())) {
            size_t n = static_cast<size_t>(std::min<int64_t>(kBlock, end_ - pos_));
            buffer_.resize(n);
            file_.Seek(pos_);
            file_.ReadBuffer(buffer_.data(), n);
            bufferStart_ = pos_;
        }
        size_t at = static_cast<size_t>(pos_ - bufferStart_);
        return std::string_view(buffer_.data() + at, buffer_.size() - at);
    }

    static constexpr int64_t kBlock = 64 * 1024;
    TFileStream& file_;
    int64_t pos_;
    int64_t end_;
    std::vector<char> buffer_;
    int64_t bufferStart_ = 0;
};

TByteString TrimControls(const TByteString& text) {
    auto keep = [](char c) { return static_cast<unsigned char>(c) > 0x20; };
    auto first = std::find_if(text.begin(), text.end(), keep);
    auto last = std::find_if(text.rbegin(), text.rend(), keep).base();
    return first < last ? TByteString(first, last) : TByteString();
}

} // namespace

int32_t LocateAPEv2Tag(const std::string& fileName) {
    TFileStream file(fileName, TOpenMode::Read, TShareMode::DenyNone); // readers share
    const int32_t result = LocateAPEv2Tag(file);
    file.Close();
    return result;
}

int32_t LocateAPEv2Tag(TFileStream& file) {
    const int64_t size = file.Size();
    if (size > INT32_MAX)
        throw EPlatformError("Cannot read the APEv2 tag of '" + file.FileName() +
                             "': files of 2 GiB or more are not supported");
    unsigned char block[kApeBlockSize];
    int32_t result = -1;
    if (HasId3v1Block(file, size)) {
        const int64_t footerEnd = size - kId3v1Size;
        if (ProbeApeBlock(file, footerEnd - kApeBlockSize, block))
            result = RegionStart(footerEnd, block);
    } else if (ProbeApeBlock(file, size - kApeBlockSize, block)) {
        result = RegionStart(size, block);
    }
    // Only "nothing at the end" looks at the start; a footer that claimed more bytes than lie in
    // front of it has already given its (negative) answer.
    if (result == -1) {
        unsigned char head[10] = {};
        file.Seek(0);
        file.ReadSome(head, sizeof head);
        if (std::memcmp(head, "ID3", 3) == 0) {
            // The ID3v2 size value as the reader takes it: the end of the ID3v2 tag.
            const int32_t afterId3v2 = GetSyncSafe32(head + 6);
            if (ProbeApeBlock(file, afterId3v2, block)) result = afterId3v2;
        } else if (ProbeApeBlock(file, 0, block)) {
            result = 0;
        }
    }
    return result;
}

TAPEv2Tag::TAPEv2Tag() {
    ResetFields();
}
TAPEv2Tag::~TAPEv2Tag() = default;

void TAPEv2Tag::ResetFields() {
    Exists = false;
    Title.clear();
    Artist.clear();
    Album.clear();
    Year.clear();
    Comment.clear();
    Genre.clear();
    // GCC 12 at -O3 sees an overlapping copy in assigning a one-character literal to a
    // std::string that is not there (GCC bug 105329, -Wrestrict).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
    Track = "0";
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
}

void TAPEv2Tag::ReadFromFile(const std::string& fileName) {
    ResetFields();
    TagSize = 0;
    Keys.clear();
    Values.clear();
    Texts.clear();
    const std::unique_ptr<TFileStream> file = OpenForReading(fileName); // readers share
    ReadFromOpenFile(*file);
    file->Close();
}

void TAPEv2Tag::ReadFromOpenFile(TFileStream& file) {
    ResetFields();
    TagSize = 0;
    Keys.clear();
    Values.clear();
    Texts.clear();
    TagOffset = LocateAPEv2Tag(file);
    Exists = TagOffset >= 0;
    if (Exists) ReadItems(file);
}

void TAPEv2Tag::ReadItems(TFileStream& file) {
    unsigned char header[kApeBlockSize];
    file.Seek(TagOffset);
    file.ReadBuffer(header, kApeBlockSize);
    // A footer without a header: the tag is present, but has no items and no region.
    if (!IsApeBlock(header)) return;
    // The header's size decides what a strip cuts, so it must stay inside the file and must
    // not reach into an ID3v1 block; otherwise the strip would take audio or that block along.
    const int64_t size = file.Size();
    const int64_t areaEnd = HasId3v1Block(file, size) ? size - kId3v1Size : size;
    const int64_t regionSize = int64_t(GetLittleEndian32(header + 12)) + kApeBlockSize;
    if (regionSize > areaEnd - TagOffset)
        RaiseReadError(file, "the APEv2 tag at offset " + std::to_string(TagOffset) + " claims " +
                                 std::to_string(regionSize) + " bytes, only " +
                                 std::to_string(areaEnd - TagOffset) + " are there");
    TagSize = static_cast<int32_t>(regionSize);

    const int32_t count = static_cast<int32_t>(GetLittleEndian32(header + 16));
    TRegionReader items(file, int64_t(TagOffset) + kApeBlockSize, int64_t(TagOffset) + TagSize);
    for (int32_t i = 0; i < count; ++i) {
        std::string head;
        items.Take(8, head, "the item"); // value length, then flags that are not used
        const uint32_t length = GetLittleEndian32(reinterpret_cast<unsigned char*>(head.data()));
        const TByteString key = TrimControls(items.TakeUpToNul());
        std::string raw;
        items.Take(length, raw, ("the value of item '" + key + "'").c_str());
        const TByteString value = platform::Utf8ToCp936Lossy(raw);
        // Key and value go in together, so the lists stay in step when a value is cut short.
        Keys.push_back(key);
        Values.push_back(value);
        Texts.push_back(platform::IsWellFormedUtf8(raw) ? raw : std::string());

        TByteString* fields[] = {&Title, &Artist, &Album, &Comment, &Genre, &Track, &Year};
        const char* names[] = {"Title", "Artist", "Album", "Comment", "Genre", "Track", "Year"};
        for (size_t f = 0; f < std::size(names); ++f) {
            if (key == names[f]) {
                *fields[f] = value;
                break;
            }
        }
    }
}

void TAPEv2Tag::RemoveFromFile(const std::string& fileName) {
    if (!Exists) return;
    const int64_t start = TagOffset;
    const int64_t end = int64_t(TagOffset) + TagSize;
    RewriteFile(fileName, [&](TFileStream& backup, TFileStream& target) {
        if (start > 0) platform::CopyRange(backup, target, start);
        backup.Seek(end);
        if (backup.Size() > end) platform::CopyRange(backup, target, -1);
    });
}
