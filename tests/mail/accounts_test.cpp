#include "mail/accounts.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "mail/atomic_file.h"
#include "mail/errors.h"
#include "mail/settings.h"
#include "support/case_name.h"
#include "support/temp_home.h"

namespace kalmuro {
namespace {

using testcase::PrintTo;

using testing::ReadFile;
using testing::TempHome;
using testing::WriteFile;

// "pw" scrambled with key 71829 (low byte 149) and the filler digits
// 0123456789: byte j becomes (c + 149 + j) mod 256, so '0' (48) at position 1
// gives 198 = C6 and 'p' (112) at position 6 gives 267 - 256 = 11 = 0B.
const char* const kKnownScrambledPw = "C6C8CACCCE0B13D2D4D6D8DA";

TEST(Scramble, KnownValueBothWays) {
    EXPECT_EQ(HexEncode(ScrambleTextWithFiller(PasswordKey, "pw", "0123456789")),
              kKnownScrambledPw);
    EXPECT_EQ(UnscrambleText(PasswordKey, HexDecode(kKnownScrambledPw)), "pw");
}

TEST(Scramble, OnlyTheLowByteOfTheKeyCounts) {
    const std::string a = ScrambleTextWithFiller(149, "secret", "9876543210");
    EXPECT_EQ(a, ScrambleTextWithFiller(PasswordKey, "secret", "9876543210"));
    EXPECT_EQ(a, ScrambleTextWithFiller(149 - 256, "secret", "9876543210"));
    EXPECT_NE(a, ScrambleTextWithFiller(150, "secret", "9876543210"));
}

TEST(Scramble, RandomFillerIsDigitsAndRoundTrips) {
    std::string allBytes;
    for (int c = 0; c < 256; ++c) allBytes += static_cast<char>(c);
    for (const std::string& text : {std::string(), std::string("a"), allBytes}) {
        const std::string s = ScrambleText(PasswordKey, text);
        ASSERT_EQ(s.size(), text.size() + 10);
        EXPECT_EQ(UnscrambleText(PasswordKey, s), text);
        // Undo the shift on the filler positions too: they must be digits.
        for (size_t j = 1; j <= s.size(); ++j) {
            if (j > 5 && j <= s.size() - 5) continue;
            const int c = (static_cast<unsigned char>(s[j - 1]) - 149 - static_cast<int>(j)) & 0xFF;
            EXPECT_TRUE(c >= '0' && c <= '9') << "position " << j << " holds " << c;
        }
    }
}

TEST(Scramble, RepeatedScramblesDiffer) {
    // Ten random digits: equal results by chance are out of the question.
    EXPECT_NE(ScrambleText(PasswordKey, "pw"), ScrambleText(PasswordKey, "pw"));
}

struct UnscrambleCase {
    const char* name;
    std::string input;
    std::string expected;
};

class ShortUnscrambles : public ::testing::TestWithParam<UnscrambleCase> {};

TEST_P(ShortUnscrambles, Work) {
    EXPECT_EQ(UnscrambleText(PasswordKey, GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scramble, ShortUnscrambles,
    ::testing::Values(UnscrambleCase{"empty", "", ""},
                      UnscrambleCase{"nine_chars_unchanged", "abcdefghi", "abcdefghi"},
                      UnscrambleCase{"ten_chars_empty", "abcdefghij", ""},
                      UnscrambleCase{"eleven_chars_one",
                                     std::string("abcde") +
                                         static_cast<char>(('x' + 149 + 6) & 0xFF) + "vwxyz",
                                     "x"}),
    testcase::RowName);

struct HexCase {
    const char* name;
    std::string text;
    std::string bytes;
};

class HexDecodes : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexDecodes, Work) { EXPECT_EQ(HexDecode(GetParam().text), GetParam().bytes); }

INSTANTIATE_TEST_SUITE_P(
    Hex, HexDecodes,
    ::testing::Values(HexCase{"upper", "4A0F", "\x4A\x0F"}, HexCase{"lower", "ff7e", "\xFF\x7E"},
                      HexCase{"odd_digit_ignored", "414", "A"}, HexCase{"empty", "", ""},
                      HexCase{"single_digit", "4", ""},
                      HexCase{"non_hex_counts_as_zero", "G1zZ", std::string("\x01\x00", 2)},
                      HexCase{"blank_counts_as_zero", " 4", "\x04"}),
    testcase::RowName);

TEST(Hex, EncodeIsUpperCaseHighDigitFirst) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    const std::string hex = HexEncode(all);
    ASSERT_EQ(hex.size(), 512u);
    EXPECT_EQ(hex.substr(0, 6), "000102");
    EXPECT_EQ(hex.substr(2 * 0xAB, 2), "AB");
    EXPECT_EQ(hex.substr(510), "FF");
    EXPECT_EQ(HexDecode(hex), all);
}

class AccountsTest : public ::testing::Test {
protected:
    void SetUp() override { SetHomeDir(home.Dir()); }
    void TearDown() override {
        SetHomeDir("");
        SetWriteFailureForTesting(-1);
    }
    void Given(const std::string& content) { WriteFile(IniFileName(), content); }
    TArrayOfMailAccount Load() {
        TArrayOfMailAccount a;
        LoadAccounts(a);
        return a;
    }
    TempHome home;
};

TMailAccount Account(const std::string& name, const std::string& server, const std::string& user,
                     const std::string& pwd, const std::string& port = "110", bool apop = false,
                     bool active = true) {
    TMailAccount a;
    a.AccountName = name;
    a.PopServer = server;
    a.UserId = user;
    a.UserPwd = pwd;
    a.Port = port;
    a.Apop = apop;
    a.Active = active;
    return a;
}

void ExpectSame(const TMailAccount& a, const TMailAccount& b) {
    EXPECT_EQ(a.AccountName, b.AccountName);
    EXPECT_EQ(a.PopServer, b.PopServer);
    EXPECT_EQ(a.UserId, b.UserId);
    EXPECT_EQ(a.UserPwd, b.UserPwd);
    EXPECT_EQ(a.Port, b.Port);
    EXPECT_EQ(a.Apop, b.Apop);
    EXPECT_EQ(a.Active, b.Active);
}

TEST_F(AccountsTest, SaveThenLoadRoundTrips) {
    const TArrayOfMailAccount saved = {
        Account("Casa", "pop.example.org", "mario", "s3gr\xE8to", "110", false, true),  // s3grèto
        Account("Lavoro", "127.0.0.1", "m.rossi", "", "1110", true, false),
        Account("Vuota", "h", "u", "inner blanks ok", "x")};
    SaveAccounts(saved);
    const TArrayOfMailAccount loaded = Load();
    ASSERT_EQ(loaded.size(), saved.size());
    for (size_t i = 0; i < saved.size(); ++i) ExpectSame(loaded[i], saved[i]);
    EXPECT_EQ(ReadIniString("Accounts", "UserPwd2", "").size(), 20u);
}

TEST_F(AccountsTest, SaveWritesSevenKeysPerAccountInOrder) {
    Given("[Setup]\r\nA=1\r\n[Accounts]\r\nPopServer9=old\r\n[Other]\r\nB=2\r\n");
    SaveAccounts({Account("N", "srv", "usr", "p", "995", true, false)});
    std::vector<std::string> names, values;
    ASSERT_EQ(ReadIniSection("Accounts", &names, &values), 7);
    EXPECT_EQ(names, (std::vector<std::string>{"PopServer1", "UserId1", "UserPwd1", "Porta1",
                                               "APOP1", "Attivo1", "Account1"}));
    EXPECT_EQ(values[0], "srv");
    EXPECT_EQ(values[3], "995");
    EXPECT_EQ(values[4], "1");
    EXPECT_EQ(values[5], "0");
    EXPECT_EQ(values[6], "N");
    EXPECT_EQ(ReadIniString("Other", "B", ""), "2");  // other sections untouched
}

TEST_F(AccountsTest, SecurityAndAcceptedCertificateRoundTripAndAreWrittenOnlyWhenSet) {
    TArrayOfMailAccount saved = {Account("Piano", "a", "u", "p"), Account("Tls", "b", "u", "p", "995"),
                                 Account("Stls", "c", "u", "p")};
    saved[1].Security = TSecurity::Tls;
    saved[1].Fingerprint = "AB:CD";
    saved[2].Security = TSecurity::Stls;
    SaveAccounts(saved);
    std::vector<std::string> names;
    ReadIniSection("Accounts", &names, nullptr);
    EXPECT_EQ(names.size(), 7u + 9u + 8u);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Sicurezza1"), 0);
    EXPECT_EQ(ReadIniString("Accounts", "Sicurezza2", ""), "2");
    EXPECT_EQ(ReadIniString("Accounts", "Impronta2", ""), "AB:CD");
    EXPECT_EQ(ReadIniString("Accounts", "Sicurezza3", ""), "1");
    const TArrayOfMailAccount loaded = Load();
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0].Security, TSecurity::None);
    EXPECT_EQ(loaded[1].Security, TSecurity::Tls);
    EXPECT_EQ(loaded[1].Fingerprint, "AB:CD");
    EXPECT_EQ(loaded[2].Security, TSecurity::Stls);
    EXPECT_EQ(loaded[2].Fingerprint, "");
}

TEST_F(AccountsTest, ASecurityOtherThanZeroOneOrTwoIsAConversionError) {
    for (const char* value : {"3", "-1", "x"}) {
        SCOPED_TRACE(value);
        Given(std::string("[Accounts]\r\nPopServer1=s\r\nUserId1=u\r\nSicurezza1=") + value +
              "\r\n");
        TArrayOfMailAccount accounts = {Account("kept", "k", "k", "k")};
        EXPECT_THROW(LoadAccounts(accounts), EConvertError);
        EXPECT_EQ(accounts.at(0).AccountName, "kept");
    }
}

TEST_F(AccountsTest, AnAcceptedCertificateGoesToTheKeysTheAccountWasLoadedFrom) {
    // Slot 1 is skipped at load, so the account at index 0 is number 2.
    Given("[Accounts]\r\nPopServer1=\r\nUserId1=\r\nPorta1=110\r\n"
          "PopServer2=s\r\nUserId2=u\r\nSicurezza2=2\r\n");
    TArrayOfMailAccount accounts = Load();
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].StoredNumber, 2);
    accounts[0].Fingerprint = "01:02";
    StoreAcceptedFingerprint(accounts[0]);
    EXPECT_EQ(ReadIniString("Accounts", "Impronta2", ""), "01:02");
    EXPECT_EQ(ReadIniString("Accounts", "Impronta1", "none"), "none");
    EXPECT_EQ(Load().at(0).Fingerprint, "01:02");
}

TEST(PortForSecurity, SwapsOnlyTheUsualPorts) {
    EXPECT_EQ(PortForSecurity("110", TSecurity::Tls), "995");
    EXPECT_EQ(PortForSecurity("995", TSecurity::Stls), "110");
    EXPECT_EQ(PortForSecurity("995", TSecurity::None), "110");
    EXPECT_EQ(PortForSecurity("110", TSecurity::Stls), "110");
    EXPECT_EQ(PortForSecurity("995", TSecurity::Tls), "995");
    EXPECT_EQ(PortForSecurity("1110", TSecurity::Tls), "1110");
    EXPECT_EQ(PortForSecurity(" 110", TSecurity::Tls), " 110");
}

TEST(PortForProtocol, MovesTheUsualPortsToTheProtocolsOwn) {
    struct Case { const char* port; TProtocol protocol; TSecurity security; const char* want; };
    const Case cases[] = {
        {"110", TProtocol::Imap, TSecurity::Tls, "993"},  {"110", TProtocol::Imap, TSecurity::Stls, "143"},
        {"995", TProtocol::Imap, TSecurity::Tls, "993"},  {"993", TProtocol::Imap, TSecurity::None, "143"},
        {"143", TProtocol::Imap, TSecurity::Tls, "993"},  {"993", TProtocol::Pop3, TSecurity::Tls, "995"},
        {"143", TProtocol::Pop3, TSecurity::Stls, "110"}, {"1143", TProtocol::Imap, TSecurity::Tls, "1143"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.port) + " -> " + c.want);
        EXPECT_EQ(PortForProtocol(c.port, c.protocol, c.security), c.want);
    }
}

TEST_F(AccountsTest, AnImapAccountKeepsItsFolderAndAPop3FileStaysAsBefore) {
    TArrayOfMailAccount saved = {Account("Pop", "a", "u", "p"), Account("Imap", "b", "u", "p", "993")};
    saved[1].Protocol = TProtocol::Imap;
    saved[1].Folder = "Posta in arrivo/Lavoro";
    SaveAccounts(saved);
    EXPECT_EQ(ReadIniString("Accounts", "Protocollo1", "none"), "none");
    EXPECT_EQ(ReadIniString("Accounts", "Cartella1", "none"), "none");
    EXPECT_EQ(ReadIniString("Accounts", "Protocollo2", ""), "1");
    const TArrayOfMailAccount loaded = Load();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_FALSE(loaded[0].IsImap());
    EXPECT_TRUE(loaded[1].IsImap());
    EXPECT_EQ(loaded[1].Folder, "Posta in arrivo/Lavoro");

    // A missing or blank folder is the inbox; a protocol other than 0 or 1
    // leaves the list as it was.
    Given("[Accounts]\r\nPopServer1=s\r\nUserId1=u\r\nProtocollo1=1\r\nCartella1= \r\n");
    EXPECT_EQ(Load().at(0).Folder, "INBOX");
    for (const char* value : {"2", "-1", "imap"}) {
        SCOPED_TRACE(value);
        Given(std::string("[Accounts]\r\nPopServer1=s\r\nUserId1=u\r\nProtocollo1=") + value +
              "\r\n");
        TArrayOfMailAccount accounts = {Account("kept", "k", "k", "k")};
        EXPECT_THROW(LoadAccounts(accounts), EConvertError);
        EXPECT_EQ(accounts.at(0).AccountName, "kept");
    }
}

TEST_F(AccountsTest, SavingTwiceChangesTheStoredPasswordButNotThePassword) {
    SaveAccounts({Account("a", "s", "u", "pw")});
    const std::string first = ReadIniString("Accounts", "UserPwd1", "");
    SaveAccounts({Account("a", "s", "u", "pw")});
    const std::string second = ReadIniString("Accounts", "UserPwd1", "");
    EXPECT_NE(first, second);
    EXPECT_EQ(Load().at(0).UserPwd, "pw");
}

TEST_F(AccountsTest, PasswordFromTheWindowsProgramLoads) {
    Given(std::string("[Accounts]\r\nPopServer1=pop.example.org\r\nUserId1=mario\r\nUserPwd1=") +
          kKnownScrambledPw + "\r\n");
    const TArrayOfMailAccount a = Load();
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].UserPwd, "pw");
}

struct LoadCase {
    const char* name;
    std::string section;  // the body of [Accounts]
    std::vector<TMailAccount> expected;
};

class Loads : public AccountsTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(Loads, GiveTheExpectedAccounts) {
    Given("[Accounts]\r\n" + GetParam().section);
    const TArrayOfMailAccount a = Load();
    ASSERT_EQ(a.size(), GetParam().expected.size());
    for (size_t i = 0; i < a.size(); ++i) ExpectSame(a[i], GetParam().expected[i]);
}

std::string Slot(int n, const std::string& server, const std::string& user) {
    const std::string k = std::to_string(n);
    return "PopServer" + k + "=" + server + "\r\nUserId" + k + "=" + user + "\r\nUserPwd" + k +
           "=\r\nPorta" + k + "=110\r\nAPOP" + k + "=0\r\nAttivo" + k + "=1\r\nAccount" + k + "=A" +
           k + "\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Accounts, Loads,
    ::testing::Values(LoadCase{"two_keys_are_no_slot", "PopServer1=s\r\nUserId1=u\r\n", {}},
                      LoadCase{"a_third_key_makes_a_slot",
                               "PopServer1=s\r\nUserId1=u\r\nAnything=x\r\n",
                               {Account("u", "s", "u", "", "110", false, true)}},
                      LoadCase{"numbered_1_and_3",
                               Slot(1, "s1", "u1") + Slot(3, "s3", "u3"),
                               {Account("A1", "s1", "u1", ""), Account("A3", "s3", "u3", "")}},
                      LoadCase{"blank_server_skipped_without_hole",
                               Slot(1, "  ", "u1") + Slot(2, "s2", "u2"),
                               {Account("A2", "s2", "u2", "")}},
                      LoadCase{"empty_user_skipped",
                               Slot(1, "s1", "") + Slot(2, "s2", "u2"),
                               {Account("A2", "s2", "u2", "")}},
                      LoadCase{"server_and_user_trimmed",
                               "PopServer1=\"\ts1 \"\r\nUserId1=\" u1\x01\"\r\nAPOP1=1\r\n",
                               {Account("u1", "s1", "u1", "", "110", true, true)}},
                      LoadCase{
                          "port_and_name_not_trimmed",
                          "PopServer1=s\r\nUserId1=u\r\nPorta1=\" 995 \"\r\nAccount1=\" Box \"\r\n",
                          {Account(" Box ", "s", "u", "", " 995 ")}},
                      LoadCase{"attivo_two_is_true_256_false",
                               "PopServer1=s\r\nUserId1=u\r\nAttivo1=256\r\nPopServer2="
                               "s\r\nUserId2=v\r\nAttivo2=2\r\n",
                               {Account("u", "s", "u", "", "110", false, false),
                                Account("v", "s", "v", "", "110", false, true)}}),
    testcase::RowName);

TEST_F(AccountsTest, PasswordBlanksAtTheEndsAreLostInnerBlanksKept) {
    SaveAccounts({Account("a", "s", "u", "  in ner  ")});
    EXPECT_EQ(Load().at(0).UserPwd, "in ner");
}

TEST_F(AccountsTest, ConversionErrorLeavesTheListUnchanged) {
    Given("[Accounts]\r\n" + Slot(1, "s1", "u1") + "PopServer2=s\r\nUserId2=u\r\nAPOP2=yes\r\n");
    TArrayOfMailAccount accounts = {Account("keep", "k", "k", "k")};
    try {
        LoadAccounts(accounts);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'yes' is not a valid integer value");
    }
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].AccountName, "keep");
}

TEST_F(AccountsTest, SavingRenumbersFromOne) {
    Given("[Accounts]\r\n" + Slot(1, "", "u1") + Slot(2, "s2", "u2") + Slot(5, "s5", "u5"));
    SaveAccounts(Load());
    std::vector<std::string> names;
    EXPECT_EQ(ReadIniSection("Accounts", &names, nullptr), 14);
    EXPECT_EQ(ReadIniString("Accounts", "PopServer1", ""), "s2");
    EXPECT_EQ(ReadIniString("Accounts", "PopServer2", ""), "s5");
    EXPECT_EQ(ReadIniString("Accounts", "PopServer5", "none"), "none");
}

TEST_F(AccountsTest, AFailedSaveKeepsTheOldAccounts) {
    SaveAccounts({Account("a", "s1", "u1", "p1"), Account("b", "s2", "u2", "p2")});
    const std::string before = ReadFile(IniFileName());
    SetWriteFailureForTesting(40);
    EXPECT_THROW(SaveAccounts({Account("c", "s3", "u3", "p3")}), EIniWriteError);
    SetWriteFailureForTesting(-1);
    EXPECT_EQ(ReadFile(IniFileName()), before);
    EXPECT_EQ(Load().size(), 2u);
}

TEST_F(AccountsTest, EmptyListLeavesNoSection) {
    SaveAccounts({Account("a", "s", "u", "p")});
    SaveAccounts({});
    EXPECT_EQ(ReadFile(IniFileName()), "");
    EXPECT_TRUE(Load().empty());
}

TEST(ScrambledSettings, DefaultPassesThroughBothSteps) {
    TempHome home;
    const std::string ini = home.Path("k.ini");
    EXPECT_EQ(ReadIniScrambled("S", "K", kKnownScrambledPw, PasswordKey, ini), "pw");
    EXPECT_EQ(ReadIniScrambled("S", "K", "", PasswordKey, ini), "");
    WriteIniScrambled("S", "K", "zz", PasswordKey, ini);
    EXPECT_EQ(ReadIniString("S", "K", "", ini).size(), 24u);
    EXPECT_EQ(ReadIniScrambled("S", "K", "", PasswordKey, ini), "zz");
}

}  // namespace
}  // namespace kalmuro

namespace kalmuro {
namespace {

class OAuthAccountsTest : public AccountsTest {};

TMailAccount OAuthAccount(const std::string& provider) {
    TMailAccount a = Account("Cloud", "pop.example.org", "m@example.org", "", "995");
    a.Security = TSecurity::Tls;
    a.Access = TAccessMethod::OAuth;
    a.OAuth.Provider = provider;
    a.OAuth.ClientId = "client-1.apps";
    a.OAuth.ClientSecret = "GOCSPX-s\xE8";  // GOCSPX-sè
    a.RefreshToken = "1//rt-abc";
    return a;
}

TEST_F(OAuthAccountsTest, AFileWithoutOAuthAccountsIsWrittenByteForByteAsBefore) {
    // Written as the program wrote it before sign-in existed (fixed filler).
    const std::string before =
        "[Accounts]\r\nPopServer1=s\r\nUserId1=u\r\nUserPwd1=" + std::string(kKnownScrambledPw) +
        "\r\nPorta1=110\r\nAPOP1=0\r\nAttivo1=1\r\nAccount1=A\r\nSicurezza1=1\r\n";
    Given(before);
    TArrayOfMailAccount accounts = Load();
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_FALSE(accounts[0].IsOAuth());
    EXPECT_EQ(accounts[0].UserPwd, "pw");
    std::vector<std::pair<std::string, std::string>> entries = AccountEntries(accounts);
    entries[2].second = kKnownScrambledPw;  // the filler is random
    ReplaceIniSection("Accounts", entries);
    EXPECT_EQ(ReadFile(IniFileName()), before);
}

TEST_F(OAuthAccountsTest, PresetAndCustomAccountsRoundTripWithSecretsScrambled) {
    TArrayOfMailAccount saved = {OAuthAccount(kProviderMicrosoft), OAuthAccount(kProviderCustom)};
    saved[1].OAuth.AuthorizationUrl = "https://127.0.0.1:1/authorize";
    saved[1].OAuth.TokenUrl = "https://127.0.0.1:1/token";
    saved[1].OAuth.Scope = "pop offline_access";
    saved[1].RefreshToken.clear();  // not signed in yet
    SaveAccounts(saved);
    const std::string file = ReadFile(IniFileName());
    EXPECT_EQ(file.find("1//rt-abc"), std::string::npos);
    EXPECT_EQ(file.find("GOCSPX"), std::string::npos);
    EXPECT_EQ(ReadIniString("Accounts", "Accesso1", ""), "1");
    EXPECT_EQ(ReadIniString("Accounts", "Provider1", ""), "microsoft");
    // The preset's endpoints are the program's, never copied into the file.
    EXPECT_EQ(ReadIniString("Accounts", "UrlToken1", "none"), "none");
    EXPECT_EQ(ReadIniString("Accounts", "UrlToken2", ""), "https://127.0.0.1:1/token");
    EXPECT_EQ(ReadIniString("Accounts", "UrlDispositivo2", "none"), "none");
    EXPECT_EQ(ReadIniString("Accounts", "TokenRinnovo2", "none"), "none");

    const TArrayOfMailAccount loaded = Load();
    ASSERT_EQ(loaded.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(loaded[i].Access, TAccessMethod::OAuth);
        EXPECT_EQ(loaded[i].OAuth, saved[i].OAuth);
        EXPECT_EQ(loaded[i].RefreshToken, saved[i].RefreshToken);
        EXPECT_EQ(loaded[i].AccessToken, "");
    }
}

TEST_F(OAuthAccountsTest, AnAccessTokenInMemoryNeverReachesTheFile) {
    TMailAccount a = OAuthAccount(kProviderGoogle);
    a.AccessToken = "ya29.secret-access";
    SaveAccounts({a});
    EXPECT_EQ(ReadFile(IniFileName()).find("ya29"), std::string::npos);
}

TEST_F(OAuthAccountsTest, AnAccessOtherThanZeroOrOneIsAConversionError) {
    for (const char* value : {"2", "-1", "x"}) {
        SCOPED_TRACE(value);
        Given(std::string("[Accounts]\r\nPopServer1=s\r\nUserId1=u\r\nAccesso1=") + value + "\r\n");
        TArrayOfMailAccount accounts = {Account("kept", "k", "k", "k")};
        EXPECT_THROW(LoadAccounts(accounts), EConvertError);
        EXPECT_EQ(accounts.at(0).AccountName, "kept");
    }
}

TEST_F(OAuthAccountsTest, ARefreshTokenGoesToItsOwnKeyAndEveryOtherByteStays) {
    Given("[Accounts]\r\nPopServer1=\r\nUserId1=\r\nX=1\r\n"
          "PopServer2=s\r\nUserId2=u\r\nAccesso2=1\r\nProvider2=google\r\n[Z]\r\nK=v\r\n");
    const std::string before = ReadFile(IniFileName());
    TArrayOfMailAccount accounts = Load();
    ASSERT_EQ(accounts.size(), 1u);
    StoreRefreshTokenInFile(accounts[0], "rotated-2");
    EXPECT_EQ(Load().at(0).RefreshToken, "rotated-2");
    StoreRefreshTokenInFile(accounts[0], "");
    EXPECT_EQ(ReadFile(IniFileName()), before);
}

TEST(OAuthEndpoints, PresetsCarryTheProvidersServersAndCustomItsOwn) {
    TOAuthSettings s;
    s.Provider = kProviderMicrosoft;
    TOAuthEndpoints e = OAuthEndpoints(s);
    EXPECT_NE(e.TokenUrl.find("/common/"), std::string::npos);
    EXPECT_NE(e.DeviceUrl, "");
    EXPECT_NE(e.Scope.find("POP.AccessAsUser.All"), std::string::npos);
    EXPECT_NE(e.Scope.find("offline_access"), std::string::npos);
    EXPECT_EQ(e.PopServer, "outlook.office365.com");
    EXPECT_EQ(e.Port, "995");
    EXPECT_EQ(e.Security, TSecurity::Tls);
    s.Provider = kProviderGoogle;
    e = OAuthEndpoints(s);
    EXPECT_EQ(e.PopServer, "pop.gmail.com");
    EXPECT_EQ(e.Scope, "https://mail.google.com/");
    EXPECT_EQ(e.DeviceUrl, "");
    s.Provider = kProviderCustom;
    s.TokenUrl = "https://t";
    s.Scope = "a b";
    e = OAuthEndpoints(s);
    EXPECT_EQ(e.TokenUrl, "https://t");
    EXPECT_EQ(e.Scope, "a b");
    EXPECT_EQ(e.PopServer, "");
    s.Provider = "altro";
    EXPECT_EQ(OAuthEndpoints(s).TokenUrl, "");
    // IMAP: the providers' IMAP servers, and Microsoft's IMAP permission,
    // without which its IMAP server refuses the token.
    s.Provider = kProviderMicrosoft;
    e = OAuthEndpoints(s, TProtocol::Imap);
    EXPECT_NE(e.Scope.find("IMAP.AccessAsUser.All"), std::string::npos);
    EXPECT_EQ(e.Scope.find("POP."), std::string::npos);
    EXPECT_EQ(e.Port, "993");
    s.Provider = kProviderGoogle;
    e = OAuthEndpoints(s, TProtocol::Imap);
    EXPECT_EQ(e.PopServer, "imap.gmail.com");
    EXPECT_EQ(e.Port, "993");
}

}  // namespace
}  // namespace kalmuro
