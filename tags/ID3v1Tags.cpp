#include "ID3v1Tags.h"

#include "PlatformFile.h"
#include "uMp3Const.h"
#include "utJournal.h"
#include "utPublic.h"

#include <climits>
#include <cstring>
#include <unistd.h>

using platform::TFileStream;
using platform::TOpenMode;
using platform::TShareMode;

namespace {
constexpr int kBlockSize = 128;
}

TID3v1Tag::TID3v1Tag() = default;
TID3v1Tag::~TID3v1Tag() = default;

TByteString TID3v1Tag::ExtractField(int offset, int count) const {
    const char* field = reinterpret_cast<const char*>(block_) + offset;
    size_t n = 0;
    while (n < static_cast<size_t>(count) && field[n] != '\0')
        ++n;
    // Only space and control bytes go; bytes of 0x80 and above belong to double-byte characters.
    while (n > 0 && static_cast<unsigned char>(field[n - 1]) <= 0x20)
        --n;
    return TByteString(field, n);
}

void TID3v1Tag::ParseTrailer(const unsigned char* block, int length) {
    Keys.clear();
    Values.clear();
    if (length < kBlockSize) {
        Exists = false; // no pairs, so no block: the lists and the flag stay in step
        return;
    }
    block_ = block;
    Exists = ExtractField(0, 3) == "TAG";
    if (Exists) {
        Title = ExtractField(3, 30);
        Artist = ExtractField(33, 30);
        Album = ExtractField(63, 30);
        Year = ExtractField(93, 4);
        Comment = ExtractField(97, 30); // cut at its first NUL: never holds the track byte
        Track = block[125] == 0 && block[126] != 0 ? block[126] : 0;
        GenreId = block[127];
        Genre = GenreId < kGenreCount ? TByteString(GenreNames[GenreId]) : TByteString();

        Keys = {"Title", "Artist", "Album", "Year", "Comment", "Track", "fGenre"};
        Values = {Title, Artist, Album, Year, Comment, std::to_string(Track), Genre};
    }
    block_ = nullptr;
}

std::string TID3v1Tag::ValueText(size_t i) const {
    return i < Values.size() ? platform::LegacyToUtf8(CodePage, Values[i]) : std::string();
}

bool TID3v1Tag::HasLegacyText() const {
    for (const TByteString& value : Values)
        if (!platform::IsAscii(value)) return true;
    return false;
}

void TID3v1Tag::ReadFromStream(TFileStream& stream, int32_t size) {
    Exists = false;
    Keys.clear();
    Values.clear();
    if (size < kBlockSize) return;
    unsigned char block[kBlockSize];
    stream.Seek(stream.Position() + size - kBlockSize);
    stream.ReadBuffer(block, kBlockSize);
    ParseTrailer(block, kBlockSize);
}

void TID3v1Tag::ReadFromFile(const std::string& fileName) {
    const std::unique_ptr<TFileStream> file = OpenForReading(fileName);
    ReadFromOpenFile(*file);
    file->Close();
}

void TID3v1Tag::ReadFromOpenFile(TFileStream& file) {
    file.Seek(0);
    const int64_t size = file.Size();
    if (size <= INT32_MAX) {
        ReadFromStream(file, static_cast<int32_t>(size));
    } else {
        // Sizes are handed on as 32-bit numbers; past 2 GiB the region is just the last block.
        file.Seek(size - kBlockSize);
        ReadFromStream(file, kBlockSize);
    }
}

void TID3v1Tag::RemoveFromFile(const std::string& fileName) {
    TWriterLock lock(fileName); // not while another writer copies from the file
    if (!lock.Held()) {
        lock.Refuse();
        return;
    }
    // The locked file itself, whatever its name leads to by now (also when it is read-only).
    TFileStream file(::dup(lock.Handle()), fileName, TOpenMode::ReadWrite, TShareMode::Exclusive);
    const int64_t size = file.Size();
    if (size >= kBlockSize) {
        char mark[3];
        file.Seek(size - kBlockSize);
        file.ReadBuffer(mark, 3);
        if (std::memcmp(mark, "TAG", 3) == 0) {
            file.Truncate(size - kBlockSize);
            file.Sync(); // the cut is on the disk before we report it done
        }
    }
    ::close(file.Release()); // the lock's own open stays, without the share lock
}
