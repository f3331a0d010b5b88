// The tokens of OAuth accounts in a real keyring: they follow the accounts
// as passwords do, a rotated one replaces the old at once, and neither ever
// stays in the file while the keyring is on.
#include "mail/settings.h"
#include "secrets/keyring_harness.h"

namespace kalmuro::keyringtest {
namespace {

TMailAccount OAuthAccount(const std::string& name, const std::string& user,
                          const std::string& refresh) {
    TMailAccount a = Account(name, 995, user, "");
    a.Access = TAccessMethod::OAuth;
    a.OAuth.Provider = kProviderMicrosoft;
    a.OAuth.ClientId = "cid";
    a.RefreshToken = refresh;
    return a;
}

TItem TokenItemOf(const TMailAccount& a, const std::string& kind, const std::string& secret) {
    TItem item = ItemOf(a, secret);
    item.Attributes["kind"] = kind;
    return item;
}

TEST_F(KeyringTest, RefreshTokensMoveInAndOutBesidePasswords) {
    const TArrayOfMailAccount accounts = {Account("Casa", 110, "mario", "uno"),
                                          OAuthAccount("Cloud", "m@x.org", "rt-1"),
                                          OAuthAccount("Nuovo", "n@x.org", "")};
    SaveInKeyring(accounts);
    // The account not signed in yet has nothing in the keyring.
    EXPECT_EQ(Items(), (std::vector<TItem>{ItemOf(accounts[0], "uno"),
                                           TokenItemOf(accounts[1], "refresh_token", "rt-1")}));
    const std::string file = ReadFile(IniFileName());
    EXPECT_EQ(file.find("TokenRinnovo"), std::string::npos);
    const TArrayOfMailAccount loaded = Loaded();
    EXPECT_TRUE(loaded[1].RefreshTokenInKeyring);
    EXPECT_FALSE(loaded[1].PasswordInKeyring);
    EXPECT_EQ(ReadKeyringRefreshToken(loaded[1]), std::optional<std::string>("rt-1"));

    // A renamed account takes its token along; off brings it back scrambled.
    TArrayOfMailAccount edited = loaded;
    edited[1].UserId = "m2@x.org";
    SaveAccountsWithSecrets(edited, loaded, true);
    EXPECT_EQ(ReadKeyringRefreshToken(Loaded()[1]), std::optional<std::string>("rt-1"));
    EXPECT_EQ(Items().size(), 2u);
    const TArrayOfMailAccount again = Loaded();
    SaveAccountsWithSecrets(again, again, false);
    EXPECT_EQ(Items(), std::vector<TItem>{});
    EXPECT_EQ(Loaded()[1].RefreshToken, "rt-1");
    EXPECT_EQ(ReadFile(IniFileName()).find("rt-1"), std::string::npos);
}

TEST_F(KeyringTest, StoredTokensGoWhereTheSettingsSayAndReplaceTheOldAtOnce) {
    SaveAccounts({OAuthAccount("Cloud", "m@x.org", "old-in-file")});
    TArrayOfMailAccount accounts = Loaded();
    // Keyring off: the rotated refresh token replaces the file's; the access
    // token is kept nowhere.
    EXPECT_FALSE(StoreOAuthTokens(accounts[0], {"at-1", 1700000000, "rt-2"}));
    EXPECT_EQ(Loaded()[0].RefreshToken, "rt-2");
    EXPECT_EQ(Items(), std::vector<TItem>{});
    EXPECT_EQ(ReadFile(IniFileName()).find("at-1"), std::string::npos);

    // Keyring on with an older copy's token still in the file: both go to
    // the keyring and the file's is emptied.
    WriteIniString(kSectionSetup, "Portachiavi", "1");
    accounts = Loaded();
    EXPECT_TRUE(StoreOAuthTokens(accounts[0], {"at-3", 1700000300, "rt-3"}));
    EXPECT_EQ(Items(), (std::vector<TItem>{TokenItemOf(accounts[0], "access_token",
                                                       "1700000300 at-3"),
                                           TokenItemOf(accounts[0], "refresh_token", "rt-3")}));
    EXPECT_EQ(ReadIniString(kSectionAccounts, "TokenRinnovo1", "none"), "none");
    std::string token;
    int64_t expiry = 0;
    ASSERT_TRUE(ReadKeyringAccessToken(accounts[0], token, expiry));
    EXPECT_EQ(token, "at-3");
    EXPECT_EQ(expiry, 1700000300);

    // A refresh that rotates nothing keeps the refresh token.
    EXPECT_TRUE(StoreOAuthTokens(accounts[0], {"at-4", 1700000600, ""}));
    EXPECT_EQ(ReadKeyringRefreshToken(accounts[0]), std::optional<std::string>("rt-3"));

    // A failure at the second item stores nothing: the first is put back.
    TCountingStore failing;
    failing.FailAt = 4;  // lookup, store, lookup, store
    EXPECT_THROW(StoreOAuthTokens(accounts[0], {"at-5", 1, "rt-5"}), EKeyringSaveError);
    EXPECT_EQ(ReadKeyringRefreshToken(accounts[0]), std::optional<std::string>("rt-3"));
    ASSERT_TRUE(ReadKeyringAccessToken(accounts[0], token, expiry));
    EXPECT_EQ(token, "at-4");
}

TEST(AccessTokenSecret, ParsesOnlyItsOwnForm) {
    std::string token = "kept";
    int64_t expiry = 7;
    EXPECT_TRUE(ParseAccessTokenSecret(AccessTokenSecret("a b", 12), token, expiry));
    EXPECT_EQ(token, "a b");
    EXPECT_EQ(expiry, 12);
    for (const char* bad : {"", "12", "12 ", " tok", "1x tok", "99999999999999999999 t"}) {
        SCOPED_TRACE(bad);
        token = "kept";
        EXPECT_FALSE(ParseAccessTokenSecret(bad, token, expiry));
        EXPECT_EQ(token, "kept");
    }
}

}  // namespace
}  // namespace kalmuro::keyringtest
