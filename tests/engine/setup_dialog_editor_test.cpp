// The account editor without widgets: which fields an account shows, what a
// choice of protocol, security, login method or provider proposes, what an
// edited account stores (and what a POP3 password account still stores byte
// for byte), the two IMAP options, and the browser sign-in on the edited
// fields against the test authorization server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include "engine/engine_harness.h"
#include "engine/setup_dialog.h"
#include "mail/settings.h"
#include "support/auth_server.h"
#include "support/ini_text.h"

namespace kalmuro::enginetest {
namespace {

using test::TTestAuthServer;
using testing::WithPasswordsShown;

TMailAccount Shaped(TProtocol protocol, TAccessMethod access, const std::string& provider) {
    TMailAccount a;
    a.Protocol = protocol;
    a.Access = access;
    a.OAuth.Provider = provider;
    return a;
}

TEST(AccountEditorFields, FollowProtocolMethodAndProvider) {
    using P = TProtocol;
    using M = TAccessMethod;
    struct TCase {
        const char* Name;
        TMailAccount Account;
        TAccountFields Shown;  // Folder, Apop, Password, OAuth, CustomEndpoints
    };
    const TCase cases[] = {
        {"pop3-password", Shaped(P::Pop3, M::Password, ""), {false, true, true, false, false}},
        {"imap-password", Shaped(P::Imap, M::Password, ""), {true, false, true, false, false}},
        {"pop3-google", Shaped(P::Pop3, M::OAuth, kProviderGoogle),
         {false, false, false, true, false}},
        {"imap-microsoft", Shaped(P::Imap, M::OAuth, kProviderMicrosoft),
         {true, false, false, true, false}},
        {"imap-custom", Shaped(P::Imap, M::OAuth, kProviderCustom), {true, false, false, true, true}},
        // A provider left over from an OAuth choice shows nothing of its own.
        {"password-with-custom-left", Shaped(P::Pop3, M::Password, kProviderCustom),
         {false, true, true, false, false}},
    };
    for (const TCase& c : cases) EXPECT_EQ(FieldsShown(c.Account), c.Shown) << c.Name;
    EXPECT_EQ(ServerCaption(P::Pop3), "Server POP3");
    EXPECT_EQ(ServerCaption(P::Imap), "Server IMAP");
}

TEST(AccountEditorChoices, ProposePortsServersAndProviders) {
    struct TCase {
        const char* Name;
        std::string Server, Port;
        TProtocol Protocol;
        TSecurity Security;
        std::function<void(TAccountEditor&)> Choose;
        std::string WantServer, WantPort;
        TSecurity WantSecurity;
    };
    using P = TProtocol;
    using S = TSecurity;
    const auto protocol = [](P p) { return [p](TAccountEditor& e) { e.SetProtocol(p); }; };
    const auto security = [](S s) { return [s](TAccountEditor& e) { e.SetSecurity(s); }; };
    const auto provider = [](const char* name) {
        return [name](TAccountEditor& e) {
            e.SetAccess(TAccessMethod::OAuth);
            e.SetProvider(name);
        };
    };
    const TCase cases[] = {
        {"pop3-plain-to-imap", "mail.x", "110", P::Pop3, S::None, protocol(P::Imap), "mail.x",
         "143", S::None},
        {"pop3-stls-to-imap", "mail.x", "110", P::Pop3, S::Stls, protocol(P::Imap), "mail.x", "143",
         S::Stls},
        {"pop3-tls-to-imap", "mail.x", "995", P::Pop3, S::Tls, protocol(P::Imap), "mail.x", "993",
         S::Tls},
        {"imap-tls-back-to-pop3", "mail.x", "993", P::Imap, S::Tls, protocol(P::Pop3), "mail.x",
         "995", S::Tls},
        {"own-port-stays", "mail.x", "2110", P::Pop3, S::None, protocol(P::Imap), "mail.x", "2110",
         S::None},
        {"imap-to-tls", "mail.x", "143", P::Imap, S::None, security(S::Tls), "mail.x", "993",
         S::Tls},
        {"imap-tls-to-stls", "mail.x", "993", P::Imap, S::Tls, security(S::Stls), "mail.x", "143",
         S::Stls},
        // POP3 as it always was: only 110 and 995 move.
        {"pop3-to-tls", "mail.x", "110", P::Pop3, S::None, security(S::Tls), "mail.x", "995",
         S::Tls},
        {"pop3-keeps-143", "mail.x", "143", P::Pop3, S::None, security(S::Tls), "mail.x", "143",
         S::Tls},
        {"google-pop3", "", "110", P::Pop3, S::None, provider(kProviderGoogle), "pop.gmail.com",
         "995", S::Tls},
        {"google-imap", "mail.x", "143", P::Imap, S::None, provider(kProviderGoogle),
         "imap.gmail.com", "993", S::Tls},
        {"microsoft-imap", "", "143", P::Imap, S::Stls, provider(kProviderMicrosoft),
         "outlook.office365.com", "993", S::Tls},
        {"custom-changes-nothing", "mail.x", "2143", P::Imap, S::Stls, provider(kProviderCustom),
         "mail.x", "2143", S::Stls},
        {"preset-server-follows-protocol", "pop.gmail.com", "995", P::Pop3, S::Tls,
         [](TAccountEditor& e) {
             e.SetAccess(TAccessMethod::OAuth);
             e.SetProtocol(P::Imap);
         },
         "imap.gmail.com", "993", S::Tls},
    };
    for (const TCase& c : cases) {
        TMailAccount a;
        a.PopServer = c.Server;
        a.Port = c.Port;
        a.Protocol = c.Protocol;
        a.Security = c.Security;
        TAccountEditor editor(a);
        c.Choose(editor);
        EXPECT_EQ(editor.Fields.PopServer, c.WantServer) << c.Name;
        EXPECT_EQ(editor.Fields.Port, c.WantPort) << c.Name;
        EXPECT_EQ(editor.Fields.Security, c.WantSecurity) << c.Name;
    }
}

TEST(AccountEditorChoices, OAuthPicksTheProviderTheServerNamesAndKeepsAChosenOne) {
    struct TCase {
        const char* Server;
        TProtocol Protocol;
        std::string Before, Want;
    };
    const TCase cases[] = {
        {"IMAP.gmail.com ", TProtocol::Imap, "", kProviderGoogle},
        {"outlook.office365.com", TProtocol::Pop3, "", kProviderMicrosoft},
        {"pop.gmail.com", TProtocol::Imap, "", kProviderCustom},  // not the IMAP host
        {"mail.example.org", TProtocol::Pop3, "", kProviderCustom},
        {"pop.gmail.com", TProtocol::Pop3, kProviderMicrosoft, kProviderMicrosoft},
    };
    for (const TCase& c : cases) {
        TMailAccount a;
        a.PopServer = c.Server;
        a.Protocol = c.Protocol;
        a.OAuth.Provider = c.Before;
        TAccountEditor editor(a);
        editor.SetAccess(TAccessMethod::OAuth);
        EXPECT_EQ(editor.Fields.OAuth.Provider, c.Want) << c.Server;
        EXPECT_EQ(editor.Fields.PopServer, c.Server) << "choosing the method moves no field";
    }
}

TEST(AccountEditorResult, DropsThePasswordAndTokensGrantedToAnotherClient) {
    TMailAccount a;
    a.Access = TAccessMethod::OAuth;
    a.OAuth = {kProviderCustom, "client-1", "", "https://a.example/auth",
               "https://a.example/token", "", "mail"};
    a.RefreshToken = "rt-1";
    a.UserPwd = "old password";
    {
        TAccountEditor editor(a);
        editor.Fields.OAuth.Scope = "mail offline";  // same client, same endpoint
        const TMailAccount kept = editor.Result();
        EXPECT_EQ(kept.RefreshToken, "rt-1");
        EXPECT_EQ(kept.UserPwd, "") << "an OAuth account keeps no password";
    }
    const std::function<void(TMailAccount&)> moves[] = {
        [](TMailAccount& f) { f.OAuth.ClientId = "client-2"; },
        [](TMailAccount& f) { f.OAuth.TokenUrl = "https://elsewhere.example/token"; },
        [](TMailAccount& f) { f.OAuth.Provider = kProviderGoogle; },
        [](TMailAccount& f) { f.Access = TAccessMethod::Password; },
    };
    for (const auto& move : moves) {
        TAccountEditor editor(a);
        move(editor.Fields);
        const TMailAccount moved = editor.Result();
        EXPECT_EQ(moved.RefreshToken, "");
        EXPECT_FALSE(moved.RefreshTokenInKeyring);
    }
    // A password account keeps the password typed, hidden fields or not.
    TMailAccount p;
    p.UserPwd = "segreta";
    p.Protocol = TProtocol::Imap;
    EXPECT_EQ(TAccountEditor(p).Result().UserPwd, "segreta");
}

class SetupDialogEditor : public TFormTest {
protected:
    std::string Ini() const { return ReadFile(IniFileName()); }
};

TEST_F(SetupDialogEditor, APop3PasswordAccountSavedFromTheEditorKeepsItsBytes) {
    TMailAccount a = Account("Casa", 110, "mario", "uno");
    a.Apop = true;
    Load({a, Account("Ufficio", 1995, "m.rossi", "due")});
    TSetupDialog dialog(Form);
    dialog.FormCreate();
    // Twice: the first save moves the accounts after the options for good.
    dialog.BitBtnOkClick();
    dialog.BitBtnOkClick();
    const std::string before = Ini();
    for (int32_t row = 1; row <= 2; ++row) {
        TAccountEditor editor(dialog.AccountForEditing(row));
        // Through every choice and back, as a user who looked around.
        editor.SetProtocol(TProtocol::Imap);
        editor.SetAccess(TAccessMethod::OAuth);
        editor.SetAccess(TAccessMethod::Password);
        editor.SetProtocol(TProtocol::Pop3);
        dialog.ReplaceAccount(row, editor.Result());
    }
    dialog.BitBtnOkClick();
    EXPECT_EQ(WithPasswordsShown(Ini()), WithPasswordsShown(before));
    EXPECT_EQ(Ini().find("SpostaInSpam"), std::string::npos);
    EXPECT_EQ(Ini().find("AttesaImmediata"), std::string::npos);
    EXPECT_EQ(Ini().find("Protocollo"), std::string::npos);
}

TEST_F(SetupDialogEditor, AnImapOAuthAccountStoresItsKeysAndLoadsBackTheSame) {
    Load({});
    TSetupDialog dialog(Form);
    dialog.FormCreate();
    TAccountEditor editor(TSetupDialog::NewAccount());
    editor.Fields.AccountName = "Lavoro";
    editor.Fields.UserId = "anna@example.org";
    editor.SetProtocol(TProtocol::Imap);
    editor.Fields.Folder = "Posta/Arrivo";
    editor.SetAccess(TAccessMethod::OAuth);
    editor.Fields.OAuth.ClientId = "id-123";
    editor.Fields.OAuth.ClientSecret = "s\xE8greto";  // sègreto
    editor.Fields.OAuth.AuthorizationUrl = "https://id.example.org/auth";
    editor.Fields.OAuth.TokenUrl = "https://id.example.org/token";
    editor.Fields.OAuth.Scope = "imap offline_access";
    editor.Fields.PopServer = "imap.example.org";
    editor.SetSecurity(TSecurity::Tls);
    dialog.AddAccount(editor.Result());

    TAccountEditor google(TSetupDialog::NewAccount());
    google.Fields.AccountName = "Gmail";
    google.Fields.UserId = "anna@gmail.example";
    google.SetAccess(TAccessMethod::OAuth);
    google.SetProvider(kProviderGoogle);
    google.Fields.OAuth.ClientId = "gid";
    google.Fields.OAuth.TokenUrl = "https://stale.example/token";  // a preset stores none
    dialog.AddAccount(google.Result());
    dialog.BitBtnOkClick();

    const std::string ini = Ini();
    const size_t accounts = ini.find("[Accounts]\r\n");
    ASSERT_NE(accounts, std::string::npos);
    std::string section = ini.substr(accounts, ini.find("\r\n[", accounts) + 2 - accounts);
    // The scrambled values differ at every save: compared unscrambled.
    EXPECT_EQ(ReadIniScrambled(kSectionAccounts, "SegretoClient1", "", PasswordKey),
              "s\xE8greto");
    for (const char* key : {"UserPwd1=", "UserPwd2=", "SegretoClient1="}) {
        const size_t at = section.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        section.erase(at + std::string(key).size(),
                      section.find("\r\n", at) - at - std::string(key).size());
    }
    EXPECT_EQ(section,
              "[Accounts]\r\n"
              "PopServer1=imap.example.org\r\nUserId1=anna@example.org\r\nUserPwd1=\r\n"
              "Porta1=993\r\nAPOP1=0\r\nAttivo1=1\r\nAccount1=Lavoro\r\nSicurezza1=2\r\n"
              "Protocollo1=1\r\nCartella1=Posta/Arrivo\r\nAccesso1=1\r\n"
              "Provider1=personalizzato\r\nIdClient1=id-123\r\nSegretoClient1=\r\n"
              "UrlAutorizzazione1=https://id.example.org/auth\r\n"
              "UrlToken1=https://id.example.org/token\r\nAmbito1=imap offline_access\r\n"
              "PopServer2=pop.gmail.com\r\nUserId2=anna@gmail.example\r\nUserPwd2=\r\n"
              "Porta2=995\r\nAPOP2=0\r\nAttivo2=1\r\nAccount2=Gmail\r\nSicurezza2=2\r\n"
              "Accesso2=1\r\nProvider2=google\r\nIdClient2=gid\r\n");

    TSetupDialog again(Form);
    again.FormCreate();
    ASSERT_EQ(again.Accounts().size(), 2u);
    const TMailAccount& back = again.AccountAt(1);
    EXPECT_EQ(back.Protocol, TProtocol::Imap);
    EXPECT_EQ(back.Folder, "Posta/Arrivo");
    EXPECT_EQ(back.OAuth, editor.Result().OAuth);
    EXPECT_EQ(FieldsShown(back), (TAccountFields{true, false, false, true, true}));
    EXPECT_EQ(again.AccountAt(2).OAuth.Provider, kProviderGoogle);
}

TEST_F(SetupDialogEditor, ImapOptionsAreWrittenOnlyOnceTheyDifferOrWereStored) {
    Load({});
    TSetupDialog dialog(Form);
    dialog.FormCreate();
    EXPECT_TRUE(dialog.Options.MoveToJunk);
    EXPECT_FALSE(dialog.Options.ImmediateCheck);
    dialog.BitBtnOkClick();
    EXPECT_EQ(ReadIniString(kSectionSetup, kKeyMoveToJunk, "none"), "none");
    EXPECT_EQ(ReadIniString(kSectionSetup, kKeyImmediateCheck, "none"), "none");

    dialog.Options.MoveToJunk = false;
    dialog.Options.ImmediateCheck = true;
    dialog.BitBtnOkClick();
    EXPECT_EQ(ReadIniString(kSectionSetup, kKeyMoveToJunk, ""), "0");
    EXPECT_EQ(ReadIniString(kSectionSetup, kKeyImmediateCheck, ""), "1");

    TSetupDialog back(Form);
    back.FormCreate();
    EXPECT_FALSE(back.Options.MoveToJunk);
    EXPECT_TRUE(back.Options.ImmediateCheck);
    // Back to the defaults: stored ones are rewritten, not dropped.
    back.Options.MoveToJunk = true;
    back.Options.ImmediateCheck = false;
    back.BitBtnOkClick();
    EXPECT_EQ(ReadIniString(kSectionSetup, kKeyMoveToJunk, ""), "1");
    EXPECT_EQ(ReadIniString(kSectionSetup, kKeyImmediateCheck, ""), "0");
}

TEST_F(SetupDialogEditor, AnUnreadableJunkOptionStaysOnAndIsReported) {
    Load({});
    WriteIniString(kSectionSetup, kKeyMoveToJunk, "talvolta");
    TSetupDialog dialog(Form);
    dialog.FormCreate();
    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{"'talvolta' is not a valid integer value"});
    EXPECT_TRUE(dialog.Options.MoveToJunk) << "never a deletion for want of a value";
}

// The sign-in on the edited fields, with the stand-in browser.
class SetupDialogSignIn : public SetupDialogEditor {
protected:
    void SetUp() override {
        setenv("SSL_CERT_FILE", (test::TestCertificateDir() + "/ca.pem").c_str(), 1);
        Load({});
        Dialog.FormCreate();
        Dialog.OpenBrowser = [this](const std::string& address) {
            ++Opened;
            Browser = std::async(std::launch::async,
                                 [address] { return test::BrowseAndFollow(address); });
            return true;
        };
        Editor.Fields.AccountName = "Nuvola";
        Editor.SetProtocol(TProtocol::Imap);
        Editor.SetAccess(TAccessMethod::OAuth);
        Editor.Fields.OAuth.ClientId = "client-1";
        Editor.Fields.OAuth.AuthorizationUrl = Auth.Url("/authorize");
        Editor.Fields.OAuth.TokenUrl = Auth.Url("/token");
        Editor.Fields.OAuth.Scope = "imap offline_access";
        Editor.Fields.PopServer = "127.0.0.1";
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }
    TSignInOutcome SignIn(std::function<bool()> stop = [] { return false; }) {
        return Dialog.SignInWithBrowser(Editor, stop);
    }

    TTestAuthServer Auth{"alice@example.org"};
    TSetupDialog Dialog{Form};
    TAccountEditor Editor{TSetupDialog::NewAccount()};
    std::future<std::string> Browser;
    int Opened = 0;
};

TEST_F(SetupDialogSignIn, ANewAccountSignsInAndItsTokenIsStoredWithTheAccounts) {
    const TSignInOutcome outcome = SignIn();
    EXPECT_TRUE(outcome.Ok);
    EXPECT_EQ(outcome.Text, "Accesso eseguito come alice@example.org");
    EXPECT_NE(Browser.get().find("Puoi chiudere questa finestra"), std::string::npos);
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{outcome.Text});
    EXPECT_EQ(Screen.Boxes.at(0).Icon, miInformation);
    EXPECT_EQ(Editor.Fields.UserId, "alice@example.org") << "the empty user name is filled";
    EXPECT_EQ(Auth.Grants(), std::vector<std::string>{"authorization_code"});
    // Nothing reaches the file until the dialog is confirmed, and then
    // the refresh token goes where the passwords go.
    EXPECT_EQ(Ini().find("TokenRinnovo"), std::string::npos);
    Dialog.AddAccount(Editor.Result());
    Dialog.BitBtnOkClick();
    EXPECT_EQ(ReadIniScrambled(kSectionAccounts, "TokenRinnovo1", "", PasswordKey),
              Auth.RefreshToken());
    EXPECT_EQ(Ini().find(Auth.AccessTokens().back()), std::string::npos);
    // The engine's refresh takes it from there.
    Form.LoadSettings();
    TMailAccount account = Form.Accounts.at(0);
    EXPECT_TRUE(Form.TakeAccessToken(0, account, false));
    EXPECT_EQ(Auth.Grants(), (std::vector<std::string>{"authorization_code", "refresh_token"}));
}

TEST_F(SetupDialogSignIn, FieldsThatCannotSignInAreNamedBeforeTheBrowserOpens) {
    struct TCase {
        std::function<void(TOAuthSettings&)> Break;
        const char* Text;
    };
    const TCase cases[] = {
        {[](TOAuthSettings& o) { o.ClientId = "  "; }, "Indicare l'ID client prima di accedere"},
        {[](TOAuthSettings& o) { o.TokenUrl.clear(); },
         "Indicare gli indirizzi di autorizzazione e del token prima di accedere"},
        {[](TOAuthSettings& o) { o.AuthorizationUrl = "http://127.0.0.1/authorize"; },
         "Gli indirizzi del servizio di accesso devono iniziare con https://"},
    };
    const TOAuthSettings good = Editor.Fields.OAuth;
    for (const TCase& c : cases) {
        Screen.Boxes.clear();
        Editor.Fields.OAuth = good;
        c.Break(Editor.Fields.OAuth);
        const TSignInOutcome outcome = SignIn();
        EXPECT_FALSE(outcome.Ok);
        EXPECT_EQ(outcome.Text, c.Text);
        EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{c.Text});
    }
    EXPECT_EQ(Opened, 0);
    EXPECT_EQ(Auth.Requests("/token"), 0u);
}

TEST_F(SetupDialogSignIn, ARefusalIsShownAndAStopEndsTheWaitWithoutABox) {
    Auth.Deny = true;
    TSignInOutcome outcome = SignIn();
    EXPECT_FALSE(outcome.Ok);
    ASSERT_EQ(Screen.BoxMessages().size(), 1u);
    EXPECT_NE(Screen.BoxMessages()[0].find("access_denied"), std::string::npos)
        << Screen.BoxMessages()[0];
    EXPECT_EQ(Editor.Result().RefreshToken, "");
    Browser.get();

    // No browser ever answers: Stop, pressed during the wait, ends it.
    Screen.Boxes.clear();
    Dialog.OpenBrowser = [](const std::string&) { return true; };
    int polls = 0;
    outcome = SignIn([&polls] { return ++polls > 3; });
    EXPECT_TRUE(outcome.Stopped);
    EXPECT_EQ(outcome.Text, kSignInStoppedText);
    EXPECT_TRUE(Screen.Boxes.empty());

    Dialog.OpenBrowser = [](const std::string&) { return false; };
    outcome = SignIn();
    EXPECT_EQ(outcome.Text, "Impossibile aprire il browser per l'accesso");
}

}  // namespace
}  // namespace kalmuro::enginetest
