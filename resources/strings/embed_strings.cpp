// Build step: turns the id<TAB>text string tables into a C++ source with one array.
// Usage: orvik_embed_strings OUT.cpp TABLE.en.tsv TABLE.ko.tsv ...
// A table line is "id<TAB>text"; empty lines and lines starting with '#' are skipped.
// The text may use the escapes \r \n \t \\ ; anything else is rejected so a typo
// fails the build instead of showing up on screen.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const int n = c < 0x80         ? 0
                      : (c >> 5) == 6  ? 1
                      : (c >> 4) == 14 ? 2
                      : (c >> 3) == 30 ? 3
                                       : -1;
        if (n < 0)
            return false;
        for (int k = 1; k <= n; ++k)
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) >> 6) != 2)
                return false;
        i += n + 1;
    }
    return true;
}

std::string baseName(const std::string& path) {
    auto p = path.find_last_of('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: orvik_embed_strings OUT.cpp TABLE...\n";
        return 2;
    }
    std::ostringstream body;
    size_t count = 0;
    bool ok = true;
    for (int a = 2; a < argc; ++a) {
        const std::string path = argv[a];
        const std::string name = baseName(path);
        int language = -1;
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".en.tsv") == 0)
            language = 0;
        if (name.size() > 7 && name.compare(name.size() - 7, 7, ".ko.tsv") == 0)
            language = 1;
        if (language < 0)
            continue;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::cerr << path << ": cannot open\n";
            return 1;
        }
        std::string line;
        int lineNo = 0;
        while (std::getline(in, line)) {
            ++lineNo;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (lineNo == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0)
                line.erase(0, 3);
            if (line.empty() || line[0] == '#')
                continue;
            auto fail = [&](const char* why) {
                std::cerr << path << ":" << lineNo << ": " << why << "\n";
                ok = false;
            };
            const auto tab = line.find('\t');
            if (tab == std::string::npos || tab == 0) {
                fail("expected id<TAB>text");
                continue;
            }
            const std::string idText = line.substr(0, tab);
            if (idText.find_first_not_of("0123456789") != std::string::npos || idText.size() > 9) {
                fail("the id is not a number");
                continue;
            }
            const std::string text = line.substr(tab + 1);
            if (!validUtf8(text)) {
                fail("the text is not UTF-8");
                continue;
            }
            std::string literal;
            bool bad = false;
            for (size_t i = 0; i < text.size(); ++i) {
                const char c = text[i];
                if (c == '\\') {
                    const char n = i + 1 < text.size() ? text[i + 1] : '\0';
                    if (n != 'r' && n != 'n' && n != 't' && n != '\\') {
                        bad = true;
                        break;
                    }
                    literal += '\\';
                    literal += n;
                    ++i;
                } else if (c == '"') {
                    literal += "\\\"";
                } else if (c == '?') {
                    literal += "\\?";
                } else if (static_cast<unsigned char>(c) < 0x20) {
                    bad = true;
                    break;
                } else {
                    literal += c;
                }
            }
            if (bad) {
                fail("unknown escape or control character (use \\r \\n \\t \\\\)");
                continue;
            }
            body << "    {" << std::stoi(idText) << ", " << language << ", \"" << literal
                 << "\", \"" << name << "\"},\n";
            ++count;
        }
    }
    if (!ok)
        return 1;
    const std::string out = argv[1];
    const std::string tmp = out + ".tmp";
    {
        std::ofstream os(tmp, std::ios::binary | std::ios::trunc);
        os << "// Generated from resources/strings/*.tsv. Do not edit.\n"
           << "#include \"platform/string_table.h\"\n\n"
           << "namespace orvik::platform::detail {\n\n"
           << "const StringTableEntry kStringTable[] = {\n"
           << body.str() << "    {0, 0, \"\", \"\"}};\n"
           << "const std::size_t kStringTableSize = " << count << ";\n\n"
           << "}  // namespace orvik::platform::detail\n";
        if (!os) {
            std::cerr << tmp << ": cannot write\n";
            return 1;
        }
    }
    if (std::rename(tmp.c_str(), out.c_str()) != 0) {
        std::cerr << out << ": cannot write\n";
        return 1;
    }
    return 0;
}
