#include "engine/locale_compare.h"

#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include <algorithm>
#include <utility>

#include "mail/text.h"

namespace kalmuro {

namespace {

// Loaded once and kept for the whole run. The "C" locale upper-cases only
// a-z, so case mapping uses the built-in UTF-8 locale instead; collation
// follows the user's environment, "C" (code point order) when it names a
// locale that is not installed.
struct TLocales {
    locale_t Case = nullptr;
    locale_t Collate = nullptr;

    TLocales() {
        Case = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (Case == nullptr) Case = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
        if (Case == nullptr) Case = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
        Collate = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
        if (Collate == nullptr)
            Collate =
                newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }
};

const TLocales& Locales() {
    static const TLocales locales;
    return locales;
}

std::wstring UpperWide(std::string_view text, locale_t caseLocale) {
    std::wstring wide;
    wide.reserve(text.size());
    for (const char c : text) {
        wint_t ch = static_cast<wint_t>(Cp1252ToUnicode(static_cast<unsigned char>(c)));
        // A NUL would end the collated text early; it sorts first anyway.
        if (ch == 0) ch = 1;
        if (caseLocale != nullptr) ch = towupper_l(ch, caseLocale);
        wide += static_cast<wchar_t>(ch);
    }
    return wide;
}

int Collate(const std::wstring& a, const std::wstring& b, const TLocales& locales) {
    const int result = locales.Collate != nullptr ? wcscoll_l(a.c_str(), b.c_str(), locales.Collate)
                                                  : wcscmp(a.c_str(), b.c_str());
    return result < 0 ? -1 : result > 0 ? 1 : 0;
}

}  // namespace

int LocaleCompareText(std::string_view a, std::string_view b) {
    const TLocales& locales = Locales();
    return Collate(UpperWide(a, locales.Case), UpperWide(b, locales.Case), locales);
}

void SortLocaleText(std::vector<std::string>& lines) {
    // Each line is upper-cased once, not at every comparison.
    const TLocales& locales = Locales();
    std::vector<std::pair<std::wstring, std::string>> keyed;
    keyed.reserve(lines.size());
    for (std::string& line : lines)
        keyed.emplace_back(UpperWide(line, locales.Case), std::move(line));
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        return Collate(a.first, b.first, locales) < 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i) lines[i] = std::move(keyed[i].second);
}

}  // namespace kalmuro
