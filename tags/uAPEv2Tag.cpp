#include "uAPEv2Tag.h"

TAPEv2Tag::TAPEv2Tag() { ResetFields(); }
TAPEv2Tag::~TAPEv2Tag() = default;

void TAPEv2Tag::ResetFields() {
    Exists = false;
    Title.clear();
    Artist.clear();
    Album.clear();
    Year.clear();
    Comment.clear();
    Genre.clear();
    Track = "0";
}
