// The help texts of quillon-tags and of the editor, and the look-up of a command's page.
#include "Help.h"

const THelpItem kHelpOption{"-h, --help", "show this help and exit"};

namespace {

using Kind = THelpSectionKind;

const char* const kTagsProgram = "quillon-tags";

const THelpItem kNoBackupOption{
    "--no-backup", "delete the backup after a rewrite that succeeded (by default it stays beside "
                   "FILE); a tag that fits in the old tag's room is then written in place under "
                   "a rollback journal instead"};
// Said of every command that rewrites several files.
const std::string kBatchText =
    "\n\nSeveral files are rewritten as one batch that flushes to disk in phases: every backup "
    "first, then every new file, then the backups deleted where --no-backup asks; when the "
    "command reports success every file is on disk.";

const THelpItem kCodePageOption{
    "--codepage NAME",
    "read the legacy texts in code page NAME instead of the one detected: gbk, big5, shift_jis, "
    "euc-kr, windows-1251, windows-1252 or utf-8"};

// Said of every command that writes texts.
const std::string kWritingRule =
    " TEXT is written in the tag's own code page (the one show reports) when every character "
    "fits, code page 936 for a GBK tag or a new one; otherwise as UTF-16 with a byte-order "
    "mark. A text is never refused for its characters and never turned into \"?\".";

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
        "be read holds {\"error\": ...} and the file counts as failed. A FILE whose name is not "
        "UTF-8 (a GBK name from a Windows archive) is printed with U+FFFD in \"file\" and its "
        "bytes in \"file_bytes\" (lower-case hex). Compressed frames are inflated up to 1 MiB "
        "for the whole tag; a frame past that stays compressed and read-only, its stored bytes "
        "printed as they are.\n\n"
        "Texts in the single-byte encoding (encoding 0 and the ID3v1 fields) are in whatever "
        "code page the tagging machine used. The code page is detected per file from all those "
        "texts together, with the file's Unicode texts as evidence (GBK where it is close), and "
        "a part that holds such text that is not pure ASCII adds \"codepage\": one of gbk, "
        "big5, shift_jis, euc-kr, windows-1251, windows-1252, utf-8. --codepage forces it.\n\n"
        "The frames are listed in file order; the INDEX that delete and embed take counts them "
        "from 0 in this order. Nothing is written.",
        {kCodePageOption, kJobsOption}, true));
    pages.push_back(Command(
        "set", {"FILE... ID TEXT [--unicode] [--codepage NAME]"}, "give a frame a new text",
        "Gives the first frame with the id ID (letter case ignored) the text TEXT and rewrites "
        "each FILE. When a tag holds no such frame, it is added, as the add command does." +
            kWritingRule + " The last two arguments are ID and TEXT; all before them are files." +
            kBatchText,
        {{"--unicode", "write TEXT as UTF-16 whatever the tag holds"},
         kCodePageOption,
         kNoBackupOption,
         kJobsOption},
        true));
    pages.push_back(Command(
        "add", {"FILE... ID"}, "add a new empty frame",
        "Adds a frame with the id ID (turned to upper case) at the end of the ID3v2 tag and "
        "rewrites each FILE, as the editor's add button does. ID must be exactly four characters. "
        "An id "
        "the tag already holds is refused, except APIC: a file may carry several pictures. A new "
        "APIC frame announces a front cover in JPEG with no picture yet (fill it with embed); "
        "every other new frame is empty." +
            kBatchText,
        {{"--unicode", "make the new empty text frame a UTF-16 one"},
         kCodePageOption,
         kNoBackupOption,
         kJobsOption},
        true));
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
        "recode", {"FILE... [--codepage NAME] [--dry-run]"}, "turn legacy texts into Unicode",
        "Turns every text of the ID3v2 tag that is in the single-byte encoding and not pure "
        "ASCII (text frames, TXXX, COMM, USLT, WXXX and picture descriptions) into UTF-16, "
        "decoded in the file's code page (detected, or NAME), and rewrites each FILE; every other "
        "frame stays byte for byte, and so do the audio and the ID3v1 block, which cannot hold "
        "Unicode. Prints one JSON line per file: {\"file\", \"codepage\", \"changed\": "
        "[{\"id\", \"text\"}...]}. A file without such text is not rewritten and gets no "
        "backup." +
            kBatchText,
        {{"--dry-run", "print what would change and change nothing"},
         kCodePageOption,
         kNoBackupOption,
         kJobsOption},
        true));
    pages.push_back(Command(
        "name2tag", {"FILE... [--pattern P] [--dry-run] [--unicode]"},
        "fill the tags from the file names",
        "Matches the name of each FILE, without its folder and extension, against the pattern P "
        "and gives the frames its placeholders stand for the text they take: %artist% (TPE1), "
        "%title% (TIT2), %album% (TALB), %track% (TRCK), %year% (TYER), %genre% (TCON); %skip% "
        "takes text that goes nowhere. Everything else in P is literal, and a literal \" - \" "
        "also matches the full-width \"\xef\xbc\x8d\" and \" \xe2\x80\x93 \" (an en dash), "
        "as names made on Windows have them. Each placeholder takes the shortest text with "
        "which the rest still matches, without surrounding spaces, and never nothing. A name that "
        "is not UTF-8 (a GBK name from a Windows archive) is read in the code page the detection "
        "finds for it.\n\n"
        "The fields go in through set's rules, all in one rewrite of the file; the other frames "
        "stay as they are: each text in the tag's own code page when every character fits "
        "(code page 936 for a GBK tag or a new one), else as UTF-16 with a byte-order mark. A "
        "frame the tag lacks is added. A name that does not match is named on stderr and left "
        "alone; the status is then 1. "
        "Prints one JSON line per file written: {\"file\", \"new\": {\"TPE1\": ..., "
        "\"TIT2\": ...}}, the frames in the pattern's order." +
            kBatchText,
        {{"--pattern P", "the pattern of the names (default \"%artist% - %title%\")"},
         {"--dry-run", "print what would be set and change nothing"},
         {"--unicode", "write the texts as UTF-16 whatever the tag holds"},
         kNoBackupOption,
         kJobsOption},
        true));
    pages.push_back(Command(
        "tag2name", {"FILE... [--pattern P] [--dry-run]"}, "name the files after their tags",
        "Renames each FILE to the pattern P filled from its ID3v2 tag, in its folder, its "
        "extension kept as it was. The placeholders are name2tag's (not %skip%); %track% is "
        "zero-padded to two digits when it is a number (3 and 3/12 give 03), and %year% takes the "
        "year of a TDRC frame where the tag has no TYER. A '/', NUL or control character in a "
        "text becomes '_'; a name over 255 bytes is cut on a character boundary before the "
        "extension.\n\n"
        "A file whose tag lacks a field of P, a name that is taken already, and two files of the "
        "command that would get one name are refused, each with a message on stderr, and nothing "
        "is renamed for them; the others are. The rename never replaces a file (renameat2 with "
        "RENAME_NOREPLACE) and happens under the file's writer lock, after checking that the "
        "file is still the one whose tag was read; each folder is flushed to disk once at the "
        "end. A backup beside the file keeps its name. A FILE that is a symbolic link is renamed "
        "itself. Prints one JSON line per file: {\"file\", \"new\": \"<the new path>\"}; a file "
        "named so already keeps its name and is printed too.",
        {{"--pattern P", "the pattern of the new names (default \"%artist% - %title%\")"},
         {"--dry-run", "print the new names and rename nothing"},
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
        "every FILE gets the same picture. The description is written like every text: in the "
        "file's code page when every character fits, otherwise in UTF-16.\n\n"
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
    pages.push_back(Command(
        "recover", {"FILE...|DIR..."}, "roll back what a killed command left unfinished",
        "Puts right what a command that was killed (or a machine that lost power) left beside "
        "each FILE, or beside every song in each DIR: an edit written in place whose journal "
        "FILE.quillon-journal is still there is rolled back (the old tag goes back, then the "
        "journal is removed), and the private names of batches whose process is gone are "
        "cleared once the song is whole under its own name. Every Quillon program does the "
        "same for a song before it reads it; recover does it for a whole folder at once. "
        "Prints one JSON line per file it acted on: {\"file\", \"journal\": \"rolled back\"}, "
        "{\"file\", \"names\": \"cleared\"}, or {\"file\", \"journal\": \"left alone\", "
        "\"reason\"} for a journal that does not match its file (another inode or size, a bad "
        "checksum): such a journal is never applied, and the status is 1.",
        {}, true));
    return pages;
}

THelpPage MakeOverview() {
    THelpPage page{
        kTagsProgram,
        "",
        {"COMMAND [OPTION]... ARGUMENT...", "COMMAND --help", "--help"},
        "read and edit the tags of MP3 files",
        "Reads and edits the tags of MP3 files with the tag engines of the Quillon "
        "editor: the frames of the ID3v2 tag at the head of the file, the ID3v1 and "
        "APEv2 tags, and pictures embedded in APIC and TPIC frames. Texts on the "
        "command line and in the output are UTF-8; in the file, texts in the "
        "single-byte encoding are read in the file's code page, detected from all of "
        "them together (GBK, Big5, Shift-JIS, EUC-KR, windows-1251, windows-1252 or "
        "UTF-8), and new texts are written in code page 936 (GBK) or the tag's own code "
        "page where they fit, else in UTF-16. FILE is used exactly as given.\n\n"
        "A command that changes a file rewrites it through a backup: FILE is first "
        "copied to the same name with \"bak\" put before the extension (song.mp3 to "
        "songbak.mp3), and then written anew from that copy, so that the original "
        "survives at every moment. The backup stays beside the file unless "
        "--no-backup is given. set, add, delete, embed, recode and name2tag write the ID3v2 tag "
        "only; tag2name renames and writes nothing; "
        "the ID3v2 tag is written as version 2.3.\n\n"
        "With --no-backup, a new tag that fits in the room of the old one (its padding "
        "included) is written in place instead: the old tag first goes to a journal "
        "FILE.quillon-journal beside the file, flushed to disk, then the new tag is written "
        "and flushed, then the journal is removed. The file keeps its inode, hard links, "
        "owner, extended attributes and ACL. A journal left by a killed command is rolled back "
        "by the next command that touches the file, or by recover.\n\n"
        "A FILE that is a symbolic link stands for the file it leads to: that file "
        "is rewritten, its backup beside it, and the link stays. Two commands never "
        "write one file at once, even from different containers: the second waits "
        "for the first (up to ten seconds, then it is refused). A file you may not "
        "write (another user's, an immutable or append-only one) is refused with the "
        "system's reason. FIFOs, devices and folders are refused. Options come "
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
          {"quillon-tags recode --dry-run *.mp3\nquillon-tags recode *.mp3",
           "See which legacy texts of the MP3 files here would become Unicode, then convert "
           "them:"},
          {"quillon-tags name2tag --dry-run *.mp3\nquillon-tags name2tag *.mp3",
           "See which artists and titles the names \"Artist - Title.mp3\" of the MP3 files "
           "here give, then write them into the tags:"},
          {"quillon-tags tag2name --pattern '%track%. %title%' *.mp3",
           "Name every MP3 file here after its track number and title (03. Title.mp3):"},
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
        "Texts in the single-byte encoding are shown in the code page they were written in "
        "(GBK, Big5, Shift-JIS, EUC-KR, windows-1251, windows-1252 or UTF-8), detected for each "
        "file; the tooltip of the frame list tells which one. Its context menu chooses another "
        "for the open file (\xe6\x96\x87\xe5\xad\x97\xe7\xbc\x96\xe7\xa0\x81) and converts "
        "every such text to Unicode (\xe5\x85\xa8\xe9\x83\xa8\xe8\xbd\xac\xe6\x8d\xa2\xe4\xb8"
        "\xba"
        "Unicode). An edited text is written in the tag's code page where it fits, else "
        "in UTF-16. The same menu fills the tags from the file's name by a pattern such as "
        "%artist% - %title% (\xe4\xbb\x8e\xe6\x96\x87\xe4\xbb\xb6\xe5\x90\x8d\xe5\xa1"
        "\xab\xe5\x86\x99\xe6\xa0\x87\xe7\xad\xbe...), as quillon-tags name2tag does.\n\n"
        "Every change is written to the file at once, through a backup: the file is copied to "
        "the same name with \"bak\" before the extension (song.mp3 to songbak.mp3) and written "
        "anew from that copy. Deleting a frame or the whole tag deletes the backup again unless "
        "the backup box at the bottom of the tag panel is ticked; the other changes leave it "
        "beside the file.\n\n"
        "FILE, when given, is opened as the MP3 button opens a file, exactly as named (song.mp3 "
        "is never taken for song.MP3); a name that is not UTF-8 (a GBK name from a Windows "
        "archive) is opened by its bytes and shown read as GBK. An MP3 file dropped on "
        "the window is opened too, and a JPEG or BMP picture dropped on the picture panel is "
        "chosen as its picture button chooses one. The only settings kept are the folders the "
        "MP3 and picture dialogs used last and the pattern of the file names, in "
        "$XDG_CONFIG_HOME/quillon/quillon.conf (~/.config by default); only those three keys "
        "are read, from the file's first 64 KiB, "
        "and the file is written anew with them alone. Without a display the editor says so in "
        "one line and ends with status 1. The command-line companion quillon-tags does the "
        "same work in scripts.",
        {{"Options", Kind::Definitions, "", {kHelpOption}},
         {"See also",
          Kind::Paragraphs,
          "quillon-tags(1), the same tag engines on the command "
          "line.",
          {}}}};
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
