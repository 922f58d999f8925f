// Build step: turns the string tables into a C++ source with one array, and the names given to
// ids into a header of constants, so that code names a text and its id is written only in the
// table.
// Usage: orvik_embed_strings OUT.cpp OUT_IDS.h TABLE.en.tsv TABLE.ko.tsv ...
// A table line is "id<TAB>text" or "id<TAB>Name<TAB>text"; empty lines and lines starting with
// '#' are skipped. The text may use the escapes \r \n \t \\ ; anything else (a literal tab
// among them) is rejected so a typo fails the build instead of showing up on screen. A name
// (UpperCamelCase) becomes `inline constexpr int kName = id;` in the namespace
// orvik::strings::<table> (the file name before ".en.tsv"); a name used twice in one table, an id
// named twice differently, or a named id without a text in both languages fails the build.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
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

// Leaves an unchanged header alone, so that what includes it is not rebuilt.
bool writeIfChanged(const std::string& path, const std::string& content) {
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream old;
        old << in.rdbuf();
        if (in && old.str() == content)
            return true;
    }
    std::ofstream os(path, std::ios::binary | std::ios::trunc);
    os << content;
    if (!os) {
        std::cerr << path << ": cannot write\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: orvik_embed_strings OUT.cpp OUT_IDS.h TABLE...\n";
        return 2;
    }
    std::ostringstream body;
    size_t count = 0;
    bool ok = true;
    // table -> name -> id; id -> name; ids with a text, per language.
    std::map<std::string, std::map<std::string, int>> names;
    std::map<int, std::string> nameOfId;
    std::set<int> present[2];
    for (int a = 3; a < argc; ++a) {
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
            std::string text = line.substr(tab + 1);
            const int id = std::stoi(idText);
            if (const auto second = text.find('\t'); second != std::string::npos) {
                const std::string idName = text.substr(0, second);
                text = text.substr(second + 1);
                const bool wellFormed = !idName.empty() && idName[0] >= 'A' && idName[0] <= 'Z' &&
                                        idName.find_first_not_of(
                                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                            "0123456789") == std::string::npos;
                if (!wellFormed) {
                    fail("a name is UpperCamelCase letters and digits");
                    continue;
                }
                const std::string table = name.substr(0, name.size() - 7);
                auto [at, fresh] = names[table].try_emplace(idName, id);
                if (!fresh && at->second != id) {
                    fail("the name is given to another id of this table already");
                    continue;
                }
                auto [known, first] = nameOfId.try_emplace(id, idName);
                if (!first && known->second != idName) {
                    fail("the id has another name already");
                    continue;
                }
            }
            present[language].insert(id);
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
            body << "    {" << id << ", " << language << ", \"" << literal << "\", \"" << name
                 << "\"},\n";
            ++count;
        }
    }
    for (const auto& [id, idName] : nameOfId) {
        if (!present[0].count(id) || !present[1].count(id)) {
            std::cerr << "string " << id << " (" << idName
                      << ") needs an English and a Korean text\n";
            ok = false;
        }
    }
    if (!ok)
        return 1;
    std::ostringstream ids;
    ids << "// Generated from resources/strings/*.tsv: the names the tables give their ids. Do not "
           "edit.\n#pragma once\n";
    for (const auto& [table, entries] : names) {
        ids << "\nnamespace orvik::strings::" << table << " {\n";
        for (const auto& [idName, id] : entries)
            ids << "inline constexpr int k" << idName << " = " << id << ";\n";
        ids << "}  // namespace orvik::strings::" << table << "\n";
    }
    if (!writeIfChanged(argv[2], ids.str()))
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
