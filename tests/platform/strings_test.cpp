#include "platform/strings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace orvik::platform {
namespace {

TEST(Strings, BothLanguagesCarryTheirOwnTexts) {
    EXPECT_EQ(text(258, Language::English), "Open");
    EXPECT_EQ(text(258, Language::Korean), "열기");
    EXPECT_EQ(text(279, Language::Korean), "10초 뒤로");
    EXPECT_EQ(text(289, Language::English), "Park");
}

TEST(Strings, EscapesBecomeControlCharacters) {
    const std::string& s = text(60015, Language::English);
    EXPECT_NE(s.find("folder.\n\nDo you"), std::string::npos) << s;
    EXPECT_EQ(s.find('\\'), std::string::npos);
}

TEST(Strings, MissingIdGivesEmptyText) {
    EXPECT_EQ(text(1, Language::English), "");
    EXPECT_FALSE(hasText(1, Language::Korean));
    EXPECT_EQ(text(-5), "");
}

TEST(Strings, LanguageSelection) {
    EXPECT_EQ(languageFromLocaleName("ko_KR.UTF-8"), Language::Korean);
    EXPECT_EQ(languageFromLocaleName("ko"), Language::Korean);
    EXPECT_EQ(languageFromLocaleName("en_US.UTF-8"), Language::English);
    EXPECT_EQ(languageFromLocaleName("C"), Language::English);
    EXPECT_EQ(languageFromLocaleName(""), Language::English);

    ::setenv("ORVIK_LANG", "ko", 1);
    EXPECT_EQ(languageFromEnvironment(), Language::Korean);
    ::setenv("ORVIK_LANG", "en", 1);
    ::setenv("LANG", "ko_KR.UTF-8", 1);
    EXPECT_EQ(languageFromEnvironment(), Language::English);
    ::unsetenv("ORVIK_LANG");
    ::unsetenv("LANGUAGE");
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    EXPECT_EQ(languageFromEnvironment(), Language::Korean);

    setLanguage(Language::Korean);
    EXPECT_EQ(text(258), "열기");
    setLanguage(Language::English);
    EXPECT_EQ(text(258), "Open");
}

TEST(Strings, TablesAgreeAcrossFiles) {
    for (const auto& c : stringConflicts())
        ADD_FAILURE() << "id " << c.id << " has different texts in " << c.firstOrigin << " and "
                      << c.secondOrigin;
}

TEST(Strings, EveryIdHasBothLanguages) {
    const auto en = stringIds(Language::English);
    const auto ko = stringIds(Language::Korean);
    const std::set<int> enSet(en.begin(), en.end()), koSet(ko.begin(), ko.end());
    for (int id : en)
        EXPECT_TRUE(koSet.count(id)) << "id " << id << " has English text but no Korean text";
    for (int id : ko)
        EXPECT_TRUE(enSet.count(id)) << "id " << id << " has Korean text but no English text";
}

// Every id the sources name, as a kStr constant or a literal text(<n>) call, has a text in
// both languages.
TEST(Strings, EveryIdUsedInTheSourcesExists) {
    namespace fs = std::filesystem;
    const std::regex idPattern(R"((?:\bkStr[A-Z]\w*\s*=\s*|\btext\(\s*)(\d+)\b)");
    int found = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(ORVIK_SOURCE_DIR) / "src")) {
        const auto ext = entry.path().extension();
        if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h"))
            continue;
        std::ifstream in(entry.path());
        std::stringstream ss;
        ss << in.rdbuf();
        const std::string source = ss.str();
        for (std::sregex_iterator it(source.begin(), source.end(), idPattern), end; it != end;
             ++it) {
            const int id = std::stoi((*it)[1].str());
            ++found;
            EXPECT_TRUE(hasText(id, Language::English))
                << entry.path().filename() << " uses id " << id << " without English text";
            EXPECT_TRUE(hasText(id, Language::Korean))
                << entry.path().filename() << " uses id " << id << " without Korean text";
        }
    }
    (void)found;
}

}  // namespace
}  // namespace orvik::platform
