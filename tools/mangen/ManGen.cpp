// Writes a manual page from the texts that --help prints: mangen PROGRAM DATE VERSION OUT
#include "Help.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: mangen quillon|quillon-tags DATE VERSION OUT\n");
        return 2;
    }
    const std::string program = argv[1];
    std::string page;
    if (program == "quillon-tags")
        page = FormatManPage(TagsOverviewHelp(), TagsCommandHelp(), argv[2], argv[3]);
    else if (program == "quillon")
        page = FormatManPage(EditorHelp(), {}, argv[2], argv[3]);
    else {
        std::fprintf(stderr, "mangen: no manual for %s\n", argv[1]);
        return 2;
    }
    FILE* out = std::fopen(argv[4], "wb");
    if (!out || std::fwrite(page.data(), 1, page.size(), out) != page.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "mangen: cannot write %s\n", argv[4]);
        return 1;
    }
    return 0;
}
