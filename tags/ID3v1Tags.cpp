#include "ID3v1Tags.h"

TID3v1Tag::TID3v1Tag() = default;
TID3v1Tag::~TID3v1Tag() = default;
