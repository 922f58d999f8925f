#include "platform/strings.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "platform/string_table.h"

namespace orvik::platform {
namespace {

struct Tables {
    std::unordered_map<int, std::string> byLanguage[2];
    std::unordered_map<int, const char*> originOf[2];
    std::vector<StringConflict> conflicts;
};

const Tables& tables() {
    static const Tables t = [] {
        Tables r;
        for (std::size_t i = 0; i < detail::kStringTableSize; ++i) {
            const auto& e = detail::kStringTable[i];
            const int lang = e.language == 1 ? 1 : 0;
            auto [it, inserted] = r.byLanguage[lang].emplace(e.id, e.text);
            if (inserted) {
                r.originOf[lang][e.id] = e.origin;
            } else if (it->second != e.text) {
                r.conflicts.push_back({e.id, lang == 1 ? Language::Korean : Language::English,
                                       r.originOf[lang][e.id], e.origin});
            }
        }
        return r;
    }();
    return t;
}

int index(Language l) {
    return l == Language::Korean ? 1 : 0;
}

std::atomic<int> g_language{-1};

}  // namespace

Language languageFromLocaleName(std::string_view name) {
    return name.substr(0, 2) == "ko" ? Language::Korean : Language::English;
}

Language languageFromEnvironment() {
    if (const char* forced = std::getenv("ORVIK_LANG"); forced && *forced)
        return languageFromLocaleName(forced);
    for (const char* var : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v)
            return languageFromLocaleName(v);
    }
    return Language::English;
}

Language language() {
    int l = g_language.load(std::memory_order_relaxed);
    if (l < 0) {
        l = index(languageFromEnvironment());
        g_language.store(l, std::memory_order_relaxed);
    }
    return l == 1 ? Language::Korean : Language::English;
}

void setLanguage(Language l) {
    g_language.store(index(l), std::memory_order_relaxed);
}

const std::string& text(int id, Language l) {
    static const std::string empty;
    const auto& m = tables().byLanguage[index(l)];
    auto it = m.find(id);
    return it == m.end() ? empty : it->second;
}

const std::string& text(int id) {
    return text(id, language());
}

bool hasText(int id, Language l) {
    return tables().byLanguage[index(l)].count(id) != 0;
}

std::vector<int> stringIds(Language l) {
    std::vector<int> ids;
    for (const auto& [id, _] : tables().byLanguage[index(l)])
        ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::vector<StringConflict> stringConflicts() {
    return tables().conflicts;
}

}  // namespace orvik::platform
