#include "app/qt_text.h"

#include <array>

namespace kalmuro {

namespace {

// 0x80-0x9F, where Windows-1252 parts from Latin-1. The five codes it leaves
// undefined keep their C1 control character, so they still round-trip.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char16_t CharOf(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
    return byte;
}

}  // namespace

QString Win1252ToQString(std::string_view text) {
    QString result(static_cast<qsizetype>(text.size()), Qt::Uninitialized);
    QChar* out = result.data();
    for (const char c : text) *out++ = QChar(CharOf(static_cast<unsigned char>(c)));
    return result;
}

std::string QStringToWin1252(const QString& text) {
    std::string result;
    result.reserve(static_cast<size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            result += static_cast<char>(u);
            continue;
        }
        char byte = '?';
        for (size_t k = 0; k < kHighControls.size(); ++k)
            if (kHighControls[k] == u) byte = static_cast<char>(0x80 + k);
        // A pair of surrogates is one character, so one '?'.
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
        result += byte;
    }
    return result;
}

}  // namespace kalmuro
