// The program's fixed tag vocabulary. The order of GenreNames and PictureTypeNames is part of the
// file formats: the index is the ID3v1 genre byte and the APIC picture-type byte.
#pragma once

#include <array>
#include <string_view>

inline constexpr int kGenreCount = 148;
inline constexpr int kFrameIdCount = 74;
inline constexpr int kPictureTypeCount = 21;

extern const std::array<std::string_view, kGenreCount> GenreNames;
// The ids offered for a new frame; "APIC" first, the default choice.
extern const std::array<std::string_view, kFrameIdCount> FrameIdList;
// Chinese picture-type names, as bytes in code page 936.
extern const std::array<std::string_view, kPictureTypeCount> PictureTypeNames;
