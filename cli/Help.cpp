#include "Help.h"

#include "CodePage.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

using Kind = THelpSectionKind;

const char* const kTagsProgram = "quillon-tags";

const THelpItem kHelpOption{"-h, --help", "show this help and exit"};
const THelpItem kNoBackupOption{
    "--no-backup", "delete the backup after a rewrite that succeeded (by default it stays beside "
                   "FILE)"};
// Said of every command that rewrites several files.
const std::string kBatchText =
    "\n\nSeveral files are rewritten as one batch that flushes to disk in phases: every backup "
    "first, then every new file, then the backups deleted where --no-backup asks; when the "
    "command reports success every file is on disk.";

const THelpItem kJobsOption{"-j N", "handle N files at once (default: one per processor core); "
                                    "the output keeps the order of the arguments"};

THelpSection ExitStatus(bool severalFiles) {
    THelpSection s{"Exit status",
                   Kind::Definitions,
                   "",
                   {{"0", "success"},
                    {"1", "an operation was refused or failed; the reason is printed on stderr"},
                    {"2", "a usage error (message on stderr)"}}};
    if (severalFiles)
        s.items[1].text += ". Each FILE is handled on its own: one failure does not stop the "
                           "others, and the status is 1 if any failed";
    return s;
}

THelpPage Command(std::string command, std::vector<std::string> usage, std::string summary,
                  std::string description, std::vector<THelpItem> options, bool severalFiles) {
    options.push_back(kHelpOption);
    return THelpPage{kTagsProgram,
                     std::move(command),
                     std::move(usage),
                     std::move(summary),
                     std::move(description),
                     {THelpSection{"Options", Kind::Definitions, "", std::move(options)},
                      ExitStatus(severalFiles)}};
}

std::vector<THelpPage> MakeCommandHelp() {
    std::vector<THelpPage> pages;
    pages.push_back(Command(
        "show", {"FILE..."}, "print the tags of each file as JSON Lines",
        "Prints the tags of each FILE as one JSON object per line (JSON Lines), in the order of "
        "the arguments. \"id3v2\" lists the frames of the ID3v2 tag: each frame's id, its payload "
        "size, the payload in lower-case hex and its text in UTF-8 (null for the picture frames "
        "APIC and TPIC and for data that is not text). A frame another program wrote in its own "
        "encoding adds \"encoding\" (0 to 3; its text is decoded), one kept as it is adds "
        "\"read_only\" (binary, compressed, unwritable). \"id3v1\" lists the fields of the ID3v1 "
        "tag and \"apev2\" the items of the APEv2 tag with its offset and size. A part that cannot "
        "be read holds {\"error\": ...} and the file counts as failed.\n\n"
        "The frames are listed in file order; the INDEX that delete and embed take counts them "
        "from 0 in this order. Nothing is written.",
        {kJobsOption}, true));
    pages.push_back(Command(
        "set", {"FILE... ID TEXT"}, "give a frame a new text",
        "Gives the first frame with the id ID (letter case ignored) the text TEXT and rewrites "
        "each FILE. When a tag holds no such frame, it is added, as the add command does. TEXT "
        "is converted from UTF-8 to code page 936, the encoding the tag is written in. The last "
        "two arguments are ID and TEXT; all before them are files." +
            kBatchText,
        {kNoBackupOption, kJobsOption}, true));
    pages.push_back(Command(
        "add", {"FILE... ID"}, "add a new empty frame",
        "Adds a frame with the id ID (turned to upper case) at the end of the ID3v2 tag and "
        "rewrites each FILE, as the editor's add button does. ID must be exactly four characters. "
        "An id "
        "the tag already holds is refused, except APIC: a file may carry several pictures. A new "
        "APIC frame announces a front cover in JPEG with no picture yet (fill it with embed); "
        "every other new frame is empty." +
            kBatchText,
        {kNoBackupOption, kJobsOption}, true));
    pages.push_back(Command(
        "delete", {"FILE... (INDEX | --id ID)"}, "delete one frame",
        "Deletes frame INDEX of the ID3v2 tag, counted from 0 in the order show lists them, or "
        "with --id the first frame with the id ID (letter case ignored), and rewrites each FILE. "
        "A file without such a frame is named on stderr and left as it is; that is no failure." +
            kBatchText,
        {{"--id ID", "delete the first frame with the id ID instead of frame INDEX"},
         kNoBackupOption,
         kJobsOption},
        true));
    pages.push_back(Command(
        "strip", {"FILE... [--id3v2] [--id3v1] [--apev2]"}, "remove whole tags",
        "Removes the tags named by the options from each FILE, in the order ID3v2, ID3v1, APEv2. "
        "Stripping the ID3v2 tag leaves an empty one in place of all its frames; the ID3v1 block "
        "is cut off the end of the file; the APEv2 tag is looked up again just before it is cut "
        "out, so it is found wherever the earlier steps moved it. The audio is left as it is." +
            kBatchText,
        {{"--id3v2", "strip the ID3v2 tag at the head of the file"},
         {"--id3v1", "strip the ID3v1 block in the last 128 bytes"},
         {"--apev2", "strip the APEv2 tag"},
         kNoBackupOption,
         kJobsOption},
        true));
    pages.push_back(Command(
        "embed",
        {"FILE... PICTURE (--tpic | --apic (INDEX | first) [--type N] [--desc TEXT]) [--fit] "
         "[--background RRGGBB]"},
        "embed a picture",
        "Loads PICTURE (JPEG or BMP) as the editor's picture panel does, lays it into the "
        "240x320 panel, captures what the panel shows and embeds it into each FILE: as the TPIC "
        "frame (JPEG quality 90; added when the tag has none) or into the existing APIC frame "
        "INDEX (quality 75), with a picture type and a description. By default the picture is "
        "stretched over the whole panel; --fit keeps its proportions and centres it over the "
        "background colour. PICTURE is the last word that is no option; it is captured once and "
        "every FILE gets the same bytes.\n\n"
        "A PICTURE that does not exist or cannot be decoded is an error: nothing is written." +
            kBatchText,
        {{"--tpic", "embed as the TPIC frame"},
         {"--apic INDEX", "embed into APIC frame INDEX (counted as show lists the frames; add "
                          "an APIC frame first with add)"},
         {"--apic first", "embed into each file's first APIC frame, adding one as add does "
                          "where the file has none"},
         {"--type N", "picture type 0 to 20 of the APIC frame (default 3, front cover)"},
         {"--desc TEXT", "description of the APIC frame (default empty)"},
         {"--fit", "fit the picture into the panel in proportion instead of stretching it"},
         {"--background RRGGBB", "colour around a fitted picture, in hex (default 0000FF, blue)"},
         kNoBackupOption,
         kJobsOption},
        true));
    return pages;
}

THelpPage MakeOverview() {
    THelpPage page{kTagsProgram,
                   "",
                   {"COMMAND [OPTION]... ARGUMENT...", "COMMAND --help", "--help"},
                   "read and edit the tags of MP3 files",
                   "Reads and edits the tags of MP3 files with the tag engines of the Quillon "
                   "editor: the frames of the ID3v2 tag at the head of the file, the ID3v1 and "
                   "APEv2 tags, and pictures embedded in APIC and TPIC frames. Texts on the "
                   "command line and in the output are UTF-8; in the file they are kept in code "
                   "page 936 (GBK). FILE is used exactly as given.\n\n"
                   "A command that changes a file rewrites it through a backup: FILE is first "
                   "copied to the same name with \"bak\" put before the extension (song.mp3 to "
                   "songbak.mp3), and then written anew from that copy, so that the original "
                   "survives at every moment. The backup stays beside the file unless "
                   "--no-backup is given. set, add, delete and embed write the ID3v2 tag only; "
                   "the ID3v2 tag is written as version 2.3.\n\n"
                   "A FILE that is a symbolic link stands for the file it leads to: that file "
                   "is rewritten, its backup beside it, and the link stays. Two commands never "
                   "write one file at once: the second waits for the first (up to ten seconds, "
                   "then it is refused). FIFOs, devices and folders are refused. Options come "
                   "before a \"--\"; a FILE or TEXT that begins with \"-\" goes after it.",
                   {}};
    THelpSection commands{"Commands", Kind::Definitions, "", {}};
    for (const THelpPage& c : TagsCommandHelp())
        commands.items.push_back({c.command + " " + c.usage.front(), c.summary});
    page.sections.push_back(commands);
    page.sections.push_back(
        {"Options",
         Kind::Definitions,
         "",
         {kNoBackupOption, {"-j N", "handle N files at once (every command)"}, kHelpOption}});
    page.sections.push_back(ExitStatus(true));
    page.sections.push_back(
        {"Examples",
         Kind::Examples,
         "",
         {{"quillon-tags show song.mp3", "Print the tags of song.mp3:"},
          {"quillon-tags set song.mp3 TIT2 'Song title'", "Give the song a title:"},
          {"quillon-tags add song.mp3 APIC\nquillon-tags embed song.mp3 cover.jpg --apic 2",
           "Add an attached picture frame (here it becomes frame 2) and put a front cover "
           "into it:"},
          {"quillon-tags set *.mp3 TALB 'Album title'\n"
           "quillon-tags embed *.mp3 cover.jpg --apic first",
           "Give every MP3 file here the album's title and its front cover:"},
          {"quillon-tags strip --id3v1 --apev2 --no-backup *.mp3",
           "Remove the ID3v1 and APEv2 tags of every MP3 file here, keeping no backups:"}}});
    page.sections.push_back(
        {"See also", Kind::Paragraphs, "quillon(1), the editor with a window.", {}});
    return page;
}

THelpPage MakeEditorHelp() {
    return THelpPage{
        "quillon",
        "",
        {"[FILE]", "--help"},
        "edit the tags of MP3 files",
        "Quillon is a desktop editor for the tags of MP3 files, with a Chinese interface (in "
        "the menu: MP3\xe6\xa0\x87\xe7\xad\xbe\xe7\xbc\x96\xe8\xbe\x91\xe5\x99\xa8). Open one MP3 "
        "file and its ID3v2 frames are listed with their texts; edit a text and write it back, "
        "add a frame by its four-letter id, delete one frame or the whole ID3v2 tag, look at and "
        "strip the ID3v1 and APEv2 tags, and embed a JPEG or BMP picture, cropped exactly as "
        "you frame it in the 240x320 preview, as an attached picture (APIC) or as the program's "
        "own picture frame (TPIC).\n\n"
        "Every change is written to the file at once, through a backup: the file is copied to "
        "the same name with \"bak\" before the extension (song.mp3 to songbak.mp3) and written "
        "anew from that copy. Deleting a frame or the whole tag deletes the backup again unless "
        "the backup box at the bottom of the tag panel is ticked; the other changes leave it "
        "beside the file.\n\n"
        "FILE, when given, is opened as the MP3 button opens a file; an MP3 file dropped on "
        "the window is opened too, and a JPEG or BMP picture dropped on the picture panel is "
        "chosen as its picture button chooses one. The only settings kept are the folders the "
        "MP3 and picture dialogs used last, in $XDG_CONFIG_HOME/quillon/quillon.conf "
        "(~/.config by default). The command-line companion quillon-tags does the same work "
        "in scripts.",
        {{"Options", Kind::Definitions, "", {kHelpOption}},
         {"See also",
          Kind::Paragraphs,
          "quillon-tags(1), the same tag engines on the command "
          "line.",
          {}}}};
}

// ---- Plain text for the terminal ----

constexpr size_t kWidth = 79;
constexpr size_t kTermColumn = 24;

// The code point at text[i], moving i past it; a byte that starts no well-formed sequence
// stands for itself.
unsigned NextCodePoint(const std::string& text, size_t& i) {
    const size_t n = std::max<size_t>(1, platform::Utf8SequenceLength(text, i));
    unsigned cp = static_cast<unsigned char>(text[i]);
    if (n > 1) cp &= 0x7fu >> n;
    for (size_t k = 1; k < n; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
    i += n;
    return cp;
}

// Columns the text takes on a terminal: East Asian wide characters take two.
size_t DisplayWidth(const std::string& text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned cp = NextCodePoint(text, i);
        bool wide = (cp >= 0x1100 && cp <= 0x115f) || (cp >= 0x2e80 && cp <= 0xa4cf) ||
                    (cp >= 0xac00 && cp <= 0xd7a3) || (cp >= 0xf900 && cp <= 0xfaff) ||
                    (cp >= 0xfe30 && cp <= 0xfe4f) || (cp >= 0xff00 && cp <= 0xff60) ||
                    (cp >= 0xffe0 && cp <= 0xffe6);
        width += wide ? 2 : 1;
    }
    return width;
}

// Fills `text` into lines of at most kWidth columns. The first line continues after `column`
// columns already used (padded to `firstIndent` if that is more); the others start at `indent`.
std::string Fill(const std::string& text, size_t firstIndent, size_t indent, size_t column = 0) {
    std::string out;
    size_t used = column;
    if (used < firstIndent) {
        out.append(firstIndent - used, ' ');
        used = firstIndent;
    }
    bool lineEmpty = true;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(' ', pos);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(pos, end - pos);
        pos = end + 1;
        if (word.empty()) continue;
        const size_t w = DisplayWidth(word);
        if (!lineEmpty && used + 1 + w > kWidth) {
            out += "\n" + std::string(indent, ' ');
            used = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            out += ' ';
            ++used;
        }
        out += word;
        used += w;
        lineEmpty = false;
    }
    return out + "\n";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

std::vector<std::string> Paragraphs(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find("\n\n", pos);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

// ---- man(7) markup ----

std::string RoffEscape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '\\')
                out += "\\e";
            else if (c == '-')
                out += "\\-";
            else if ((c == '.' || c == '\'') && (out.empty() || out.back() == '\n'))
                out += "\\&" + std::string(1, static_cast<char>(c));
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        // Beyond ASCII, groff's own escape keeps the page independent of the input encoding.
        const unsigned cp = NextCodePoint(text, i);
        char buf[16];
        std::snprintf(buf, sizeof buf, "\\[u%04X]", cp);
        out += buf;
    }
    return out;
}

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

// A synopsis or option term: placeholders (upper-case words) in italics, the literal words
// (program, command, options, numbers) in bold, the punctuation plain.
std::string RoffTerm(const std::string& term) {
    std::string out;
    for (size_t i = 0; i < term.size();) {
        if (!IsWordChar(term[i])) {
            out += RoffEscape(std::string(1, term[i]));
            ++i;
            continue;
        }
        size_t end = i;
        while (end < term.size() && IsWordChar(term[end]))
            ++end;
        const std::string word = term.substr(i, end - i);
        bool hasLetter = false, hasLower = false;
        for (char c : word) {
            hasLetter |= std::isalpha(static_cast<unsigned char>(c)) != 0;
            hasLower |= std::islower(static_cast<unsigned char>(c)) != 0;
        }
        const bool placeholder = word[0] != '-' && hasLetter && !hasLower;
        out += (placeholder ? "\\fI" : "\\fB") + RoffEscape(word) + "\\fR";
        i = end;
    }
    return out;
}

// A paragraph of running text; a reference such as quillon(1) gets its name in bold.
std::string RoffText(const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t ref = text.find("(1)", pos);
        if (ref == std::string::npos) break;
        size_t start = ref;
        while (start > pos && IsWordChar(text[start - 1]))
            --start;
        out += RoffEscape(text.substr(pos, start - pos));
        if (start < ref) out += "\\fB" + RoffEscape(text.substr(start, ref - start)) + "\\fR";
        out += "(1)";
        pos = ref + 3;
    }
    return out + RoffEscape(text.substr(pos));
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string RoffParagraphs(const std::string& text, const char* separator) {
    std::string out;
    bool first = true;
    for (const std::string& p : Paragraphs(text)) {
        if (!first) out += std::string(separator) + "\n";
        out += RoffText(p) + "\n";
        first = false;
    }
    return out;
}

std::string RoffSection(const THelpSection& s) {
    std::string out = ".SH " + RoffEscape(Upper(s.title)) + "\n";
    switch (s.kind) {
    case Kind::Paragraphs:
        out += RoffParagraphs(s.text, ".PP");
        break;
    case Kind::Definitions:
        for (const THelpItem& item : s.items)
            out += ".TP\n" + RoffTerm(item.term) + "\n" + RoffText(item.text) + "\n";
        break;
    case Kind::Examples:
        for (const THelpItem& item : s.items)
            out += ".PP\n" + RoffText(item.text) + "\n.RS 4\n.nf\n" + RoffEscape(item.term) +
                   "\n.fi\n.RE\n";
        break;
    }
    return out;
}

} // namespace

const std::vector<THelpPage>& TagsCommandHelp() {
    static const std::vector<THelpPage> pages = MakeCommandHelp();
    return pages;
}

const THelpPage& TagsOverviewHelp() {
    static const THelpPage page = MakeOverview();
    return page;
}

const THelpPage* FindTagsCommandHelp(const std::string& command) {
    for (const THelpPage& page : TagsCommandHelp())
        if (page.command == command) return &page;
    return nullptr;
}

const THelpPage& EditorHelp() {
    static const THelpPage page = MakeEditorHelp();
    return page;
}

bool IsHelpOption(const std::string& word) {
    return word == "--help" || word == "-h";
}

std::string FormatHelp(const THelpPage& page) {
    std::string out;
    const std::string name =
        page.command.empty() ? page.program : page.program + " " + page.command;
    for (size_t i = 0; i < page.usage.size(); ++i) {
        const std::string lead = i == 0 ? "Usage: " : "   or: ";
        std::string line = name + (page.usage[i].empty() ? "" : " " + page.usage[i]);
        out += lead + Fill(line, 0, lead.size() + name.size() + 1, lead.size());
    }
    for (const std::string& p : Paragraphs(page.description))
        out += "\n" + Fill(p, 0, 0);
    for (const THelpSection& s : page.sections) {
        out += "\n" + s.title + ":\n";
        switch (s.kind) {
        case Kind::Paragraphs:
            for (const std::string& p : Paragraphs(s.text))
                out += Fill(p, 2, 2);
            break;
        case Kind::Definitions:
            for (const THelpItem& item : s.items) {
                const std::string term = "  " + item.term;
                if (DisplayWidth(term) + 2 <= kTermColumn)
                    out += term + Fill(item.text, kTermColumn, kTermColumn, DisplayWidth(term));
                else
                    out += Fill(item.term, 2, 6) + Fill(item.text, kTermColumn, kTermColumn);
            }
            break;
        case Kind::Examples:
            for (const THelpItem& item : s.items) {
                out += Fill(item.text, 2, 2);
                for (const std::string& line : Lines(item.term))
                    out += "    " + line + "\n";
            }
            break;
        }
    }
    return out;
}

std::string FormatManPage(const THelpPage& page, const std::vector<THelpPage>& commands,
                          const std::string& date, const std::string& version) {
    std::string out = ".TH " + RoffEscape(Upper(page.program)) + " 1 \"" + RoffEscape(date) +
                      "\" \"Quillon " + RoffEscape(version) + "\" \"User Commands\"\n";
    out += ".SH NAME\n" + RoffEscape(page.program) + " \\- " + RoffEscape(page.summary) + "\n";

    // Synopsis: one line per form, continuation lines indented under the program's name.
    out += ".SH SYNOPSIS\n.nh\n.ad l\n.in +4n\n";
    auto synopsis = [&](const THelpPage& p) {
        for (const std::string& usage : p.usage) {
            std::string line = p.program;
            if (!p.command.empty()) line += " " + p.command;
            if (!usage.empty()) line += " " + usage;
            out += ".ti -4n\n" + RoffTerm(line) + "\n.br\n";
        }
    };
    if (commands.empty())
        synopsis(page);
    else
        for (const THelpPage& c : commands)
            synopsis(c);
    out += ".in\n.ad\n.hy\n";

    out += ".SH DESCRIPTION\n" + RoffParagraphs(page.description, ".PP");

    if (!commands.empty()) {
        out += ".SH COMMANDS\n";
        for (const THelpPage& c : commands) {
            for (const std::string& usage : c.usage)
                out += (&usage == &c.usage.front() ? ".TP\n" : ".TQ\n") +
                       RoffTerm(c.command + " " + usage) + "\n";
            out += RoffParagraphs(c.description, ".IP");
            for (const THelpSection& s : c.sections) {
                if (s.title != "Options") continue;
                out += ".RS\n";
                for (const THelpItem& item : s.items) {
                    if (item.term == kHelpOption.term) continue; // said once, below
                    out += ".TP\n" + RoffTerm(item.term) + "\n" + RoffText(item.text) + "\n";
                }
                out += ".RE\n";
            }
        }
    }
    for (const THelpSection& s : page.sections) {
        if (!commands.empty() && s.title == "Commands") continue; // the section above says more
        out += RoffSection(s);
    }
    return out;
}
