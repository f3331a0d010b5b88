// The settings dialog's part in secure connections and the UTF-8 option:
// the accepted certificate follows the account's server, the security goes
// through the dialog, and "DecodeUTF8" is only written once it was chosen.
#include <gtest/gtest.h>

#include "engine/engine_harness.h"
#include "engine/setup_dialog.h"

namespace kalmuro::enginetest {
namespace {

class SetupDialogTls : public TFormTest {
protected:
    TSetupDialog Dialog{Form};
};

TEST_F(SetupDialogTls, TheAcceptedCertificateGoesWhenTheServerChanges) {
    TMailAccount a = Account("Casa", 995, "mario", "pw");
    a.Security = TSecurity::Tls;
    a.Fingerprint = "AB:CD";
    Load({a, Account("Altro", 110, "u", "p")});
    Dialog.FormCreate();

    // An edit that keeps the server keeps the certificate, even from an
    // editor that knows nothing of it; the security is the editor's.
    TMailAccount edited = a;
    edited.Fingerprint.clear();
    edited.Security = TSecurity::Stls;
    edited.Port = PortForSecurity(edited.Port, edited.Security);
    Dialog.ReplaceAccount(1, edited);
    EXPECT_EQ(Dialog.AccountAt(1).Fingerprint, "AB:CD");
    EXPECT_EQ(Dialog.AccountAt(1).Port, "110");
    Dialog.BitBtnOkClick();
    EXPECT_EQ(ReadIniString("Accounts", "Impronta1", ""), "AB:CD");
    EXPECT_EQ(ReadIniString("Accounts", "Sicurezza1", ""), "1");

    edited = Dialog.AccountAt(1);
    edited.PopServer = "pop.altrove.example";
    Dialog.ReplaceAccount(1, edited);
    EXPECT_EQ(Dialog.AccountAt(1).Fingerprint, "");
    Dialog.BitBtnOkClick();
    EXPECT_EQ(ReadIniString("Accounts", "Impronta1", "none"), "none");
    EXPECT_EQ(ReadIniString("Accounts", "Sicurezza2", "none"), "none");
}

TEST_F(SetupDialogTls, Utf8OptionIsReadAndWrittenOnlyOnceChosen) {
    Load({});
    Dialog.FormCreate();
    EXPECT_FALSE(Dialog.Options.DecodeUtf8);
    Dialog.BitBtnOkClick();
    EXPECT_EQ(ReadIniString("Setup", "DecodeUTF8", "none"), "none");

    Dialog.Options.DecodeUtf8 = true;
    Dialog.BitBtnOkClick();
    EXPECT_EQ(ReadIniString("Setup", "DecodeUTF8", ""), "1");
    TSetupDialog again{Form};
    again.FormCreate();
    EXPECT_TRUE(again.Options.DecodeUtf8);
    again.Options.DecodeUtf8 = false;
    again.BitBtnOkClick();
    EXPECT_EQ(ReadIniString("Setup", "DecodeUTF8", ""), "0");
}

}  // namespace
}  // namespace kalmuro::enginetest
