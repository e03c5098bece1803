#include "Builders.h"
#include "CliRun.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

// `show -j N` spreads the files over N workers; what it prints must not depend on N.
TEST(CliShowJobs, OutputAndStatusDoNotDependOnTheNumberOfWorkers) {
    TempDir dir;
    std::string files;
    for (int i = 0; i < 90; ++i) {
        const std::string name = dir.File(std::string("s") + std::to_string(i) + ".MP3");
        Bytes content = MpegFrames(1 + i % 3);
        if (i % 2 == 0)
            content = Id3TagOurs(Id3Frame("TIT2", "\0song " + std::to_string(i)) +
                                 Id3Frame("APIC", Bytes(i * 40, 'p'))) +
                      content;
        if (i % 3 == 0) content += ApeTag({{"Title", "ape " + std::to_string(i)}});
        if (i % 5 == 0) {
            Id3v1Fields v1;
            v1.title = "v1 " + std::to_string(i);
            content += Id3v1Block(v1);
        }
        if (i == 40) // a frame that claims more than the file holds
            content = Id3Header(100) + "TIT2" + BE32(100000) + Bytes(2, '\0') + MpegFrames(3);
        if (i != 60) WriteFile(name, content); // s60 is missing
        files += " " + name;
    }
    const CliRun one = Tags("show -j1" + files, dir);
    const std::string oneErr = ReadFile(dir.File("stderr"));
    EXPECT_EQ(one.status, 1) << "s60 is missing";
    EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 89);
    EXPECT_NE(oneErr.find("s40.MP3: warning: ID3v2 tag damaged"), std::string::npos) << oneErr;
    EXPECT_NE(oneErr.find("s60.MP3"), std::string::npos) << oneErr;
    for (const char* jobs : {"-j2", "-j 3", "-j16", ""}) {
        const CliRun many = Tags(std::string("show ") + jobs + files, dir);
        EXPECT_EQ(many.status, 1) << jobs;
        EXPECT_EQ(many.out, one.out) << jobs;
        EXPECT_EQ(ReadFile(dir.File("stderr")), oneErr) << jobs;
    }
    EXPECT_EQ(Tags("show -j0" + files, dir).status, 2);
    EXPECT_EQ(Tags("show -j x" + files, dir).status, 2);
}
