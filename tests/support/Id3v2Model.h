// The ID3v2 reader's rules written out plainly, on bytes in memory: what the frame store must
// hold after reading a file. The fuzz target and the tests on other programs' files compare the
// engine with it. A short read (the file ends inside a frame header or payload) ends the walk
// and leaves the store unloaded with the frames read so far.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Id3v2Store {
    // False for tags the model does not cover: versions 2.2 and 2.4, and 2.3 with
    // unsynchronisation or an extended header.
    bool Modelled = true;
    bool Loaded = true;
    bool Exists = false;
    int32_t TagSize = 0;
    std::vector<std::string> Ids, Payloads;
};

Id3v2Store ReadByRules(const std::string& file);
