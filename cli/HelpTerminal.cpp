// --help: the help pages as plain text wrapped for the terminal.
#include "Help.h"

#include "CodePage.h"

#include <algorithm>

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

namespace {

// The pieces of `text` between the separators, an empty text giving one empty piece.
std::vector<std::string> SplitAt(const std::string& text, const std::string& separator) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(separator, pos);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + separator.size();
    }
    return out;
}

} // namespace

std::vector<std::string> HelpParagraphs(const std::string& text) {
    return SplitAt(text, "\n\n");
}

namespace {

using Kind = THelpSectionKind;

constexpr size_t kWidth = 79;
constexpr size_t kTermColumn = 24;

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
            out += '\n';
            out.append(indent, ' ');
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
    return SplitAt(text, "\n");
}

} // namespace

std::string FormatHelp(const THelpPage& page) {
    std::string out;
    const std::string name =
        page.command.empty() ? page.program : page.program + " " + page.command;
    for (size_t i = 0; i < page.usage.size(); ++i) {
        const std::string lead = i == 0 ? "Usage: " : "   or: ";
        std::string line = name + (page.usage[i].empty() ? "" : " " + page.usage[i]);
        out += lead + Fill(line, 0, lead.size() + name.size() + 1, lead.size());
    }
    for (const std::string& p : HelpParagraphs(page.description))
        out += '\n' + Fill(p, 0, 0);
    for (const THelpSection& s : page.sections) {
        out += "\n" + s.title + ":\n";
        switch (s.kind) {
        case Kind::Paragraphs:
            for (const std::string& p : HelpParagraphs(s.text))
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
