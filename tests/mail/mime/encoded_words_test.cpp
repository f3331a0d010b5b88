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
