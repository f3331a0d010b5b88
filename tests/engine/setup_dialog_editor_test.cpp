// The account editor without widgets: the fields an account shows, what a
// choice proposes, what an edited account stores (a POP3 password account
// byte for byte as before), the two IMAP options, and the sign-in's fields
// refused before the browser opens.
#include <gtest/gtest.h>

#include "engine/engine_harness.h"
#include "engine/setup_dialog.h"
#include "support/ini_text.h"

namespace kalmuro::enginetest {
namespace {

using P = TProtocol;
using M = TAccessMethod;
using S = TSecurity;

TEST(AccountEditor, FieldsFollowProtocolMethodAndProvider) {
    const auto shown = [](P p, M m, const char* provider) {
        TMailAccount a;
        a.Protocol = p;
        a.Access = m;
        a.OAuth.Provider = provider;
        return FieldsShown(a);
    };
    // Folder, Apop, Password, OAuth, CustomEndpoints.
    EXPECT_EQ(shown(P::Pop3, M::Password, ""), (TAccountFields{false, true, true, false, false}));
    EXPECT_EQ(shown(P::Imap, M::Password, kProviderCustom),
              (TAccountFields{true, false, true, false, false}));
    EXPECT_EQ(shown(P::Pop3, M::OAuth, kProviderGoogle),
              (TAccountFields{false, false, false, true, false}));
    EXPECT_EQ(shown(P::Imap, M::OAuth, kProviderCustom),
              (TAccountFields{true, false, false, true, true}));
}

TEST(AccountEditor, ChoicesProposePortsServersAndSecurity) {
    struct TCase {
        const char* Name;
        std::string Server, Port;
        P Protocol;
        S Security;
        std::function<void(TAccountEditor&)> Choose;
        std::string WantServer, WantPort;
        S WantSecurity;
    };
    const auto to = [](P p) { return [p](TAccountEditor& e) { e.SetProtocol(p); }; };
    const auto secure = [](S s) { return [s](TAccountEditor& e) { e.SetSecurity(s); }; };
    const auto oauth = [](const char* provider) {
        return [provider](TAccountEditor& e) {
            e.SetAccess(M::OAuth);
            if (*provider) e.SetProvider(provider);
        };
    };
    const TCase cases[] = {
        {"pop3-to-imap", "m.x", "110", P::Pop3, S::Stls, to(P::Imap), "m.x", "143", S::Stls},
        {"pop3s-to-imaps", "m.x", "995", P::Pop3, S::Tls, to(P::Imap), "m.x", "993", S::Tls},
        {"imap-tls", "m.x", "143", P::Imap, S::None, secure(S::Tls), "m.x", "993", S::Tls},
        // POP3 as it always was: only 110 and 995 move.
        {"pop3-keeps-143", "m.x", "143", P::Pop3, S::None, secure(S::Tls), "m.x", "143", S::Tls},
        {"google-imap", "m.x", "143", P::Imap, S::None, oauth(kProviderGoogle), "imap.gmail.com",
         "993", S::Tls},
        {"microsoft-pop3", "", "110", P::Pop3, S::None, oauth(kProviderMicrosoft),
         "outlook.office365.com", "995", S::Tls},
        // Choosing OAuth picks the preset the server names, and moves nothing.
        {"server-names-google", "imap.gmail.com", "143", P::Imap, S::None, oauth(""),
         "imap.gmail.com", "143", S::None},
        {"preset-server-follows", "pop.gmail.com", "995", P::Pop3, S::Tls,
         [](TAccountEditor& e) {
             e.SetAccess(M::OAuth);
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
    TMailAccount gmail;
    gmail.PopServer = "imap.gmail.com";
    gmail.Protocol = P::Imap;
    TAccountEditor editor(gmail);
    editor.SetAccess(M::OAuth);
    EXPECT_EQ(editor.Fields.OAuth.Provider, kProviderGoogle);
}

TEST(AccountEditor, ResultDropsThePasswordAndTokensOfAnotherClient) {
    TMailAccount a;
    a.Access = M::OAuth;
    a.OAuth = {kProviderCustom,           "c1", "",    "https://a.example/auth",
               "https://a.example/token", "",   "mail"};
    a.RefreshToken = "rt-1";
    a.UserPwd = "old";
    TAccountEditor same(a);
    same.Fields.OAuth.Scope = "mail offline";
    EXPECT_EQ(same.Result().RefreshToken, "rt-1");
    EXPECT_EQ(same.Result().UserPwd, "");
    for (const char* field : {"client", "token"}) {
        TAccountEditor moved(a);
        (std::string(field) == "client" ? moved.Fields.OAuth.ClientId
                                        : moved.Fields.OAuth.TokenUrl) = "https://b.example/x";
        EXPECT_EQ(moved.Result().RefreshToken, "") << field;
    }
}

class SetupDialogEditor : public TFormTest {
protected:
    TSetupDialog Dialog{Form};
    std::string Ini() const { return ReadFile(IniFileName()); }
};

TEST_F(SetupDialogEditor, APop3PasswordAccountSavedFromTheEditorKeepsItsBytes) {
    TMailAccount a = Account("Casa", 110, "mario", "uno");
    a.Apop = true;
    Load({a});
    Dialog.FormCreate();
    // Twice: the first save moves the accounts after the options for good.
    Dialog.BitBtnOkClick();
    Dialog.BitBtnOkClick();
    const std::string before = Ini();
    TAccountEditor editor(Dialog.AccountForEditing(1));
    editor.SetProtocol(P::Imap);
    editor.SetAccess(M::OAuth);
    editor.SetAccess(M::Password);
    editor.SetProtocol(P::Pop3);
    Dialog.ReplaceAccount(1, editor.Result());
    Dialog.BitBtnOkClick();
    EXPECT_EQ(testing::WithPasswordsShown(Ini()), testing::WithPasswordsShown(before));
    EXPECT_EQ(before.find("SpostaInSpam"), std::string::npos);
    EXPECT_EQ(before.find("AttesaImmediata"), std::string::npos);
}

TEST_F(SetupDialogEditor, AnImapOAuthAccountRoundTripsAndAPresetStoresNoAddresses) {
    Load({});
    Dialog.FormCreate();
    TAccountEditor editor(Account("Lavoro", 110, "anna@example.org", ""));
    editor.SetProtocol(P::Imap);
    editor.Fields.Folder = "Posta/Arrivo";
    editor.SetAccess(M::OAuth);
    editor.Fields.OAuth = {kProviderCustom,        "id-1", "s\xE8",
                           "https://id.example/a",  // sè
                           "https://id.example/t", "",     "imap offline_access"};
    Dialog.AddAccount(editor.Result());
    const TOAuthSettings custom = editor.Fields.OAuth;
    editor.SetProvider(kProviderGoogle);
    Dialog.AddAccount(editor.Result());
    Dialog.BitBtnOkClick();
    TSetupDialog again(Form);
    again.FormCreate();
    ASSERT_EQ(again.Accounts().size(), 2u);
    const TMailAccount& back = again.AccountAt(1);
    EXPECT_EQ(back.Protocol, P::Imap);
    EXPECT_EQ(back.Folder, "Posta/Arrivo");
    EXPECT_EQ(back.OAuth, custom);
    EXPECT_EQ(again.AccountAt(2).PopServer + again.AccountAt(2).Port, "imap.gmail.com993");
    EXPECT_EQ(ReadIniString(kSectionAccounts, "UrlToken2", "none"), "none");
}

TEST_F(SetupDialogEditor, ImapOptionsAreWrittenOnceChangedAndAnUnreadableJunkOneStaysOn) {
    Load({});
    Dialog.FormCreate();
    EXPECT_TRUE(Dialog.Options.MoveToJunk);
    EXPECT_FALSE(Dialog.Options.ImmediateCheck);
    Dialog.Options.MoveToJunk = false;
    Dialog.Options.ImmediateCheck = true;
    Dialog.BitBtnOkClick();
    EXPECT_EQ(ReadIniString(kSectionSetup, "SpostaInSpam", "") +
                  ReadIniString(kSectionSetup, "AttesaImmediata", ""),
              "01");
    WriteIniString(kSectionSetup, "SpostaInSpam", "talvolta");
    TSetupDialog again(Form);
    again.FormCreate();
    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{"'talvolta' is not a valid integer value"});
    EXPECT_TRUE(again.Options.MoveToJunk) << "never a deletion for want of a value";
}

TEST_F(SetupDialogEditor, FieldsThatCannotSignInAreNamedBeforeTheBrowserOpens) {
    Load({});
    Dialog.FormCreate();
    int opened = 0;
    Dialog.OpenBrowser = [&opened](const std::string&) { return ++opened, true; };
    TAccountEditor editor(Account("Nuvola", 993, "", ""));
    editor.SetAccess(M::OAuth);
    const std::pair<TOAuthSettings, const char*> cases[] = {
        {{kProviderCustom, " ", "", "https://a/", "https://t/", "", ""},
         "Indicare l'ID client prima di accedere"},
        {{kProviderCustom, "c", "", "https://a/", "", "", ""},
         "Indicare gli indirizzi di autorizzazione e del token prima di accedere"},
        {{kProviderCustom, "c", "", "https://a/", "http://t/", "", ""},
         "Gli indirizzi del servizio di accesso devono iniziare con https://"},
    };
    std::vector<std::string> texts;
    for (const auto& [settings, text] : cases) {
        editor.Fields.OAuth = settings;
        EXPECT_EQ(Dialog.SignInWithBrowser(editor, [] { return false; }).Text, text);
        texts.push_back(text);
    }
    EXPECT_EQ(Screen.BoxMessages(), texts);
    EXPECT_EQ(opened, 0);
}

}  // namespace
}  // namespace kalmuro::enginetest
