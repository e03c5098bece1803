// Helpers of the interoperability tests: a real MP3 stream encoded by ffmpeg, the peers' command
// lines, and our reader checked against the reading rules.
#pragma once

#include "Builders.h"
#include "ID3v2Tags.h"
#include "Id3v2Model.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

// Two seconds of a 440 Hz tone, MPEG-1 Layer III at 128 kbit/s, without any tag: real audio, so
// that the peers accept the file and its decoded samples can be compared. Made once.
const Bytes& SineMp3();

// A picture for the APIC frames: a 16 x 16 baseline JPEG of about 650 bytes, more than the 127
// bytes up to which the plain and the sync-safe frame sizes agree.
const Bytes& CoverJpeg();

// Runs a peer's command line and fails the test when it does not exit with 0.
std::string Peer(const std::string& command);

// Reads `path` with our engine and checks the store against the reading rules for the bytes of
// the file. Returns the store's entries by id (the first entry of each id).
std::map<std::string, std::string> ReadAsTheRulesSay(TID3v2Tag& tag, const std::string& path);

// md5 of the decoded samples (ffmpeg, signed 16-bit PCM).
std::string PcmMd5(const std::string& path);
