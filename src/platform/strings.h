#pragma once
// UI texts keyed by string id, in English and Korean. The tables are the
// resources/strings/*.{en,ko}.tsv files, embedded at build time; every UI layer
// takes its texts from here instead of spelling them in the code.
//
// Ids are the string-table ids of the viewer's texts. Texts of our own dialogs that have no
// such id use one block per area: shell 60000-60999, playback and displays 61000-61999,
// device configuration 62000-62999, card formatting 63000-63999.
// A table names the ids code refers to ("60050<TAB>CardInserted<TAB>text"); the build turns the
// names into constants, `#include "strings/string_ids.h"` and write
// strings::shell::kCardInserted, so an id is written only in its table (resources/strings/).
#include <string>
#include <string_view>
#include <vector>

namespace orvik::platform {

enum class Language { English, Korean };

// The text of `id` in the current language; an id without an entry gives "".
const std::string& text(int id);
// The text of `id` in `language`, "" when there is none.
const std::string& text(int id, Language language);
bool hasText(int id, Language language);

// The current language. Until setLanguage is called it is languageFromEnvironment().
Language language();
void setLanguage(Language language);

// ORVIK_LANG=ko|en when set, otherwise Korean when the user-interface locale
// (LANGUAGE, LC_ALL, LC_MESSAGES, LANG, first one set) is Korean, else English.
Language languageFromEnvironment();
// "ko..." selects Korean, anything else English; exposed for tests.
Language languageFromLocaleName(std::string_view localeName);

// Every id that has a text in `language`, ascending.
std::vector<int> stringIds(Language language);

// Ids whose tables disagree: the same id given two different texts for one
// language by two table files. The first file (by name) wins at run time.
struct StringConflict {
    int id;
    Language language;
    std::string firstOrigin, secondOrigin;
};
std::vector<StringConflict> stringConflicts();

}  // namespace orvik::platform
