// The help texts of quillon-tags and of the editor. `--help` prints them and the manual pages are
// generated from them at build time, so the two never say different things. Plain C++: both
// programs and the manual generator link these files.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// One entry of a definition list: an option, a command or an example command line.
struct THelpItem {
    std::string term;
    std::string text;
};

enum class THelpSectionKind { Paragraphs, Definitions, Examples };

struct THelpSection {
    std::string title;
    THelpSectionKind kind;
    std::string text;             // Paragraphs: paragraphs separated by an empty line
    std::vector<THelpItem> items; // Definitions, Examples (text explains the command in term)
};

struct THelpPage {
    std::string program;            // "quillon-tags"
    std::string command;            // empty for the program's own page
    std::vector<std::string> usage; // synopsis lines, each after "program command "
    std::string summary;            // what it does, in a few words
    std::string description;        // paragraphs separated by an empty line
    std::vector<THelpSection> sections;
};

// quillon-tags: the overview and one page per command of the contract.
const THelpPage& TagsOverviewHelp();
const std::vector<THelpPage>& TagsCommandHelp();
// The page of `command`, or null when quillon-tags has no such command.
const THelpPage* FindTagsCommandHelp(const std::string& command);

// The editor, quillon.
const THelpPage& EditorHelp();

bool IsHelpOption(const std::string& word);
// The option every page lists; the manual page says it once.
extern const THelpItem kHelpOption;

// The page as printed by --help: wrapped to 79 columns.
std::string FormatHelp(const THelpPage& page);

// The manual page (section 1) in man(7) markup. `commands` become a COMMANDS section with each
// command's description and options; `date` and `version` go into the title line.
std::string FormatManPage(const THelpPage& page, const std::vector<THelpPage>& commands,
                          const std::string& date, const std::string& version);

// Shared by both formats: the paragraphs of a text (separated by an empty line), and the code
// point of the UTF-8 text at text[i], moving i past it.
std::vector<std::string> HelpParagraphs(const std::string& text);
unsigned NextCodePoint(const std::string& text, size_t& i);
