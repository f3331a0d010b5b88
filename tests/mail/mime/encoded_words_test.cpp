#include "mail/mime/encoded_words.h"

#include <gtest/gtest.h>

#include <string>

#include "mail/errors.h"
#include "support/case_name.h"

namespace kalmuro {
namespace {

using testcase::PrintTo;

struct DecodeRow {
    const char* name;
    std::string text;
    std::string expected;
};

class DecodeTest : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(DecodeTest, Decodes) {
    const DecodeRow& row = GetParam();
    EXPECT_EQ(DecodeEncodedWords(row.text), row.expected);
    std::string storage;
    EXPECT_EQ(DecodeEncodedWordsView(row.text, false, storage), row.expected);
}

const DecodeRow kDecodeRows[] = {
    {"plain_text", "Hello, world", "Hello, world"},
    {"empty", "", ""},
    {"q_word", "=?ISO-8859-1?Q?Caf=E9_ouvert?=", "Caf\xE9 ouvert"},  // Café ouvert
    {"q_word_small_letters", "=?iso-8859-1?q?caf=e9?=", "caf\xE9"},
    {"b_word", "=?ISO-8859-1?B?Q2Fm6Q==?=", "Caf\xE9"},
    {"b_word_without_padding", "=?ISO-8859-1?B?Q2Fm6Q?=", "Caf\xE9"},
    {"b_word_small_letter", "=?ISO-8859-1?b?Q2Fm6Q==?=", "Caf\xE9"},
    {"any_other_letter_is_base64", "=?ISO-8859-1?X?QUJD?=", "ABC"},
    {"short_escape_kept", "=?ISO-8859-1?Q?=4?=", "=4"},
    {"escape_at_end_kept", "=?ISO-8859-1?Q?ab=?=", "ab="},
    {"underscore_is_blank", "=?ISO-8859-1?Q?a_b?=", "a b"},
    {"iso_then_windows", "Re: =?ISO-8859-1?Q?a?= =?WINDOWS-1252?Q?b?=", "Re: a b"},
    {"windows_then_iso", "=?WINDOWS-1252?Q?a?= =?ISO-8859-1?Q?b?=", "a b"},
    {"windows_small_letters", "=?windows-1252?Q?=80uro?=", "\x80uro"},  // €uro
    {"two_blanks_between_words_kept", "=?ISO-8859-1?Q?a?=  =?ISO-8859-1?Q?b?=", "a  b"},
    {"adjacent_words", "=?ISO-8859-1?Q?a?==?ISO-8859-1?Q?b?=", "ab"},
    {"utf8_unchanged", "=?UTF-8?Q?Caf=C3=A9?=", "=?UTF-8?Q?Caf=C3=A9?="},
    {"other_charsets_unchanged",
     "=?KOI8-R?B?QUJD?= =?US-ASCII?Q?x?=", "=?KOI8-R?B?QUJD?= =?US-ASCII?Q?x?="},
    {"iso_word_beside_utf8", "=?UTF-8?Q?x?= =?ISO-8859-1?Q?y?=", "=?UTF-8?Q?x?= y"},
    {"no_closing", "=?ISO-8859-1?Q?abc", "=?ISO-8859-1?Q?abc"},
    {"no_encoding_part", "=?ISO-8859-1", "=?ISO-8859-1"},
    {"empty_q_text",
     "x=?ISO-8859-1?Q?"
     "?=y",
     "xy"},
    {"empty_b_text",
     "x=?ISO-8859-1?B?"
     "?=y",
     "xy"},
    {"non_alphabet_is_zero_in_base64", "=?ISO-8859-1?B?Q!Fm?=",
     "@\x01"
     "f"},
    {"windows_unfinished_after_good_one", "=?WINDOWS-1252?Q?a?= =?WINDOWS-1252?Q?b",
     "a =?WINDOWS-1252?Q?b"},
    {"windows_unfinished_before_iso_unfinished", "=?WINDOWS-1252?Q?x =?ISO-8859-1?Q?y",
     "=?WINDOWS-1252?Q?x =?ISO-8859-1?Q?y"},
    {"iso_unfinished_after_windows_good", "=?WINDOWS-1252?Q?a?= =?ISO-8859-1?Q?b",
     "a =?ISO-8859-1?Q?b"},
    {"decoded_text_scanned_again", "=?ISO-8859-1?Q?y=3D=3FISO-8859-1=3FQ=3Fx=3F=3D?=", "yx"},
    {"nul_from_escape_removed", "a=?ISO-8859-1?Q?=00?=b", "ab"},
    {"nul_in_plain_text_removed", std::string("a\0b", 3), "ab"},
    {"jis_to_shift_jis", "=?ISO-2022-JP?Q?=1B$B0!=1B(BA?=",
     "\x88\x9F"
     "A"},
    {"jis_odd_first_byte", "=?iso-2022-jp?Q?=1B$B1`1^=1B(B?=", "\x89\x80\x89}"},
    {"jis_high_first_byte", "=?ISO-2022-JP?Q?=1B$B`!a!=1B(B?=", "\xE0\x9F\xE1@"},
    {"jis_other_escape_dropped", "=?ISO-2022-JP?Q?a=1B(Jb?=", "ab"},
    {"jis_final_escape_dropped", "=?ISO-2022-JP?Q?ab=1B?=", "ab"},
    {"jis_half_pair_dropped", "=?ISO-2022-JP?Q?=1B$B0!1?=", "\x88\x9F"},
    {"jis_base64", "=?ISO-2022-JP?B?GyRCMCEbKEI=?=", "\x88\x9F"},
    {"latin1_not_converted", "=?ISO-8859-1?Q?=1B$B0!?=", "\x1B$B0!"},
};

INSTANTIATE_TEST_SUITE_P(Rows, DecodeTest, ::testing::ValuesIn(kDecodeRows), testcase::RowName);

TEST(DecodeEncodedWords, BadQEscapeRaisesTheConversionError) {
    struct Row {
        const char* text;
        const char* message;
    };
    const Row rows[] = {
        {"=?ISO-8859-1?Q?=ZZ?=", "'$ZZ' is not a valid integer value"},
        {"=?ISO-8859-1?Q?ok=4g?=", "'$4g' is not a valid integer value"},
        {"x =?WINDOWS-1252?q?= 1?=", "'$ 1' is not a valid integer value"},
        {"=?ISO-8859-1?Q?=-1?=", "'$-1' is not a valid integer value"},
    };
    for (const Row& row : rows) {
        try {
            DecodeEncodedWords(row.text);
            ADD_FAILURE() << "no error for " << row.text;
        } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), row.message);
        }
    }
}

TEST(DecodeEncodedWords, BadEscapeInAnotherCharsetIsNotAnError) {
    EXPECT_EQ(DecodeEncodedWords("=?UTF-8?Q?=ZZ?="), "=?UTF-8?Q?=ZZ?=");
}

// Many unfinished words must not make the scan quadratic or endless.
TEST(DecodeEncodedWords, ManyUnfinishedWordsEndQuickly) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "=?WINDOWS-1252?Q?x =?ISO-8859-1?Q?y ";
    EXPECT_EQ(DecodeEncodedWords(text), text);
}

}  // namespace
}  // namespace kalmuro

namespace kalmuro {
namespace {

// Encoded words in UTF-8: decoded only with the option on, strictly, into
// Windows-1252; with it off every row must come back as the Part's road
// gives it (the UTF-8 words untouched).
struct Utf8Row {
    const char* name;
    std::string text;
    std::string on;   // with the option
    std::string off;  // without it; empty: the text unchanged
};

class Utf8Words : public ::testing::TestWithParam<Utf8Row> {};

TEST_P(Utf8Words, DecodeOnlyWithTheOption) {
    const Utf8Row& row = GetParam();
    EXPECT_EQ(DecodeEncodedWords(row.text, true), row.on);
    EXPECT_EQ(DecodeEncodedWords(row.text, false), row.off.empty() ? row.text : row.off);
    EXPECT_EQ(DecodeEncodedWords(row.text), row.off.empty() ? row.text : row.off);
    std::string storage;
    EXPECT_EQ(DecodeEncodedWordsView(row.text, true, storage), row.on);
    EXPECT_EQ(DecodeEncodedWordsView(row.text, false, storage), row.off.empty() ? row.text : row.off);
}

TEST(DecodeEncodedWordsView, GivesTheTextItselfWhenNothingChanges) {
    std::string storage = "old";
    const std::string plain = "Re: =?KOI8-R?Q?x?= a=b ?= =?";
    EXPECT_EQ(DecodeEncodedWordsView(plain, true, storage).data(), plain.data());
    EXPECT_EQ(storage, "old");
    const std::string encoded = "=?ISO-8859-1?Q?a?=";
    const std::string_view decoded = DecodeEncodedWordsView(encoded, false, storage);
    EXPECT_EQ(decoded, "a");
    EXPECT_EQ(decoded.data(), storage.data());
}

const Utf8Row kUtf8Rows[] = {
    {"q", "=?UTF-8?Q?Caf=C3=A9_ouvert?=", "Caf\xE9 ouvert", ""},  // Café
    {"q_small_letters", "=?utf-8?q?caf=c3=a9?=", "caf\xE9", ""},
    {"b", "=?UTF-8?B?Q2Fmw6k=?=", "Caf\xE9", ""},
    {"b_small_letter_without_padding", "=?Utf-8?b?Q2Fmw6k?=", "Caf\xE9", ""},
    {"euro_and_quotes_fit_windows_1252", "=?UTF-8?Q?=E2=82=AC_=E2=80=9Cok=E2=80=9D?=",
     "\x80 \x93ok\x94", ""},  // € “ok”
    {"outside_windows_1252_becomes_question_marks", "=?UTF-8?B?0J/RgNC40LLQtdGC?=",
     "??????", ""},  // Привет
    {"emoji_is_one_question_mark", "=?UTF-8?Q?ok_=F0=9F=98=80?=", "ok ?", ""},
    {"in_a_subject", "Re: =?UTF-8?Q?r=C3=A9sum=C3=A9?= (2)", "Re: r\xE9sum\xE9 (2)", ""},
    {"blank_between_words_kept", "=?UTF-8?Q?a?= =?UTF-8?Q?b?=", "a b", ""},
    {"mixed_with_iso", "=?ISO-8859-1?Q?caf=E9?= =?UTF-8?Q?th=C3=A9?=", "caf\xE9 th\xE9",
     "caf\xE9 =?UTF-8?Q?th=C3=A9?="},
    {"invalid_utf8_kept", "=?UTF-8?Q?caf=E9?=", "=?UTF-8?Q?caf=E9?=", ""},
    {"overlong_kept", "=?UTF-8?Q?=C0=AF?=", "=?UTF-8?Q?=C0=AF?=", ""},
    {"truncated_sequence_kept", "=?UTF-8?Q?=C3?=", "=?UTF-8?Q?=C3?=", ""},
    {"surrogate_kept", "=?UTF-8?Q?=ED=A0=80?=", "=?UTF-8?Q?=ED=A0=80?=", ""},
    {"bad_q_escape_kept_without_error", "=?UTF-8?Q?=ZZ?= x", "=?UTF-8?Q?=ZZ?= x", ""},
    {"short_q_escape_kept", "=?UTF-8?Q?ab=4?=", "=?UTF-8?Q?ab=4?=", ""},
    {"bad_b_character_kept", "=?UTF-8?B?Q2F!w6k=?=", "=?UTF-8?B?Q2F!w6k=?=", ""},
    {"bad_b_length_kept", "=?UTF-8?B?Q2Fmw?=", "=?UTF-8?B?Q2Fmw?=", ""},
    {"unknown_encoding_letter_kept", "=?UTF-8?X?QUJD?=", "=?UTF-8?X?QUJD?=", ""},
    {"no_closing_kept", "=?UTF-8?Q?abc", "=?UTF-8?Q?abc", ""},
    {"bad_word_then_good_word", "=?UTF-8?Q?=ZZ?= =?UTF-8?Q?=C3=A8?=", "=?UTF-8?Q?=ZZ?= \xE8",
     ""},  // è
    {"nul_character_dropped", "=?UTF-8?Q?a=00b?=", "ab", ""},
    {"other_charset_untouched", "=?KOI8-R?B?QUJD?=", "=?KOI8-R?B?QUJD?=", ""},
};

INSTANTIATE_TEST_SUITE_P(Rows, Utf8Words, ::testing::ValuesIn(kUtf8Rows), testcase::RowName);

TEST(Utf8Words, ManyUnreadableWordsEndQuickly) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "=?UTF-8?Q?=Z";
    text += "?=";
    EXPECT_EQ(DecodeEncodedWords(text, true), text);
}

}  // namespace
}  // namespace kalmuro
