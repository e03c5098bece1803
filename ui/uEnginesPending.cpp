// Stand-ins for the ID3v1 and APEv2 engines while they are being built, so that the window links
// and runs: no tag is ever found. Weak, so the real engines replace them as soon as they exist.
#include "ID3v1Tags.h"
#include "uAPEv2Tag.h"

__attribute__((weak)) void TID3v1Tag::ReadFromFile(const std::string&) {
    Exists = false;
    Keys.clear();
    Values.clear();
}
__attribute__((weak)) void TID3v1Tag::RemoveFromFile(const std::string&) {}
__attribute__((weak)) void TAPEv2Tag::ReadFromFile(const std::string&) {
    ResetFields();
    Keys.clear();
    Values.clear();
}
__attribute__((weak)) void TAPEv2Tag::RemoveFromFile(const std::string&) {}
