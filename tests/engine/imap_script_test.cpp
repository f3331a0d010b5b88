// IMAP accounts against scripted conversations, for what a real server will
// not do on cue: a folder whose UIDVALIDITY changed, a message expunged by
// another client, a cut or a BYE in the middle of the header fetch, a server
// without UIDPLUS and MOVE, a refused MOVE, and the OAuth login. Each script
// is exactly what the program must send, so it also counts the round trips.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>

#include "engine/engine_harness.h"
#include "mail/auth/sasl.h"
#include "support/auth_server.h"
#include "support/imap_script.h"

namespace kalmuro::enginetest {
namespace {

using test::ImapFolderAnswer;
using test::ImapHeaderFetch;
using test::ImapLoggedIn;
using test::TScript;
using test::TScriptedServer;

constexpr const char* kFetchAll =
    "UID FETCH 1:* (UID RFC822.SIZE INTERNALDATE BODY.PEEK[HEADER])";

struct TScriptMessage {
    unsigned Uid;
    std::string Header, Body;
    std::string Text() const { return Header + "\r\n" + Body; }
};

TScriptMessage Msg(int n, unsigned uid) {
    const std::string k = std::to_string(n);
    return {uid,
            "From: User " + k + " <user" + k + "@example.com>\r\nSubject: Message " + k +
                "\r\nDate: Mon, 5 Mar 2007 14:09:00 +0100\r\n",
            "Body " + k + ".\r\n"};
}

// The whole check of a folder: login, EXAMINE and the fetch sent together,
// every header, LOGOUT. Three round trips: greeting, LOGIN, EXAMINE + FETCH.
TScript CheckScript(const std::vector<TScriptMessage>& box, unsigned validity,
                    const std::string& capabilities = test::kImapCapabilities) {
    TScript s = ImapLoggedIn(capabilities, capabilities);
    s.Expect("a2 EXAMINE \"INBOX\"").Expect(std::string("a3 ") + kFetchAll);
    std::string answer = ImapFolderAnswer("a2", static_cast<int>(box.size()), validity);
    for (size_t i = 0; i < box.size(); ++i)
        answer += ImapHeaderFetch(static_cast<int>(i + 1), box[i].Uid,
                                  static_cast<int>(box[i].Text().size()), box[i].Header);
    s.Send(answer + "a3 OK Fetch completed.\r\n").Expect("a4 LOGOUT");
    return s;
}

std::string HeaderOnly(int number, const TScriptMessage& m) {
    return "* " + std::to_string(number) + " FETCH (UID " + std::to_string(m.Uid) +
           " BODY[HEADER] {" + std::to_string(m.Header.size() + 2) + "}\r\n" + m.Header + "\r\n)\r\n";
}

std::string WholeMessage(int number, const TScriptMessage& m) {
    return "* " + std::to_string(number) + " FETCH (UID " + std::to_string(m.Uid) + " BODY[] {" +
           std::to_string(m.Text().size()) + "}\r\n" + m.Text() + ")\r\n";
}

class ImapScript : public TFormTest {
protected:
    void Start(std::vector<TScript> scripts) {
        Server = std::make_unique<TScriptedServer>(std::move(scripts));
        TMailAccount a = Account("Posta", Server->Port(), "alice", "secret");
        a.Protocol = TProtocol::Imap;
        Load({a});
    }
    void BlockAll() { Home.Write("Mittenti.txt", "user1@example.com\r\nuser2@example.com\r\n"); }
    void ExpectNoFailures() {
        Server->WaitForSessions(Server->SessionsAccepted());
        EXPECT_EQ(Server->Failures(), std::vector<std::string>{});
    }
    std::unique_ptr<TScriptedServer> Server;
    TUtcZone Utc;
};

TEST_F(ImapScript, TheCheckIsOneCommandAndOneStreamedAnswer) {
    Start({CheckScript({Msg(1, 101), Msg(2, 102)}, 7)});
    Form.CheckMail();
    ExpectNoFailures();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    ASSERT_EQ(Form.Messages.size(), 2u);
    EXPECT_EQ(Form.Messages[0].UidlText, "1 7.101");
    EXPECT_EQ(Form.Messages[1].UidlText, "2 7.102");
    EXPECT_EQ(Form.Messages[1].MsgNumber, 2);
    EXPECT_EQ(Form.Messages[1].Size, static_cast<int32_t>(Msg(2, 102).Text().size()));
    EXPECT_EQ(Form.Messages[1].Sender, "User 2 (user2@example.com)");
    EXPECT_EQ(Form.Messages[1].HeaderText, Msg(2, 102).Header);
    const std::vector<std::string>& s = Screen.Statuses;
    EXPECT_NE(std::find(s.begin(), s.end(), "Lettura messaggio 2 su 2 dal server 127.0.0.1..."), s.end());
    EXPECT_NE(std::find(s.begin(), s.end(), "Disconnessione dal server 127.0.0.1..."), s.end());
    EXPECT_EQ(Form.StatusText(),
              "2 messaggi nuovi su un totale di 2 messaggi - Ultima verifica alle 14:09:27");
}

TEST_F(ImapScript, ACutOrAByeMidFetchKeepsWhatArrived) {
    for (const std::string& end : {std::string(), std::string("* BYE Server shutting down.\r\n")}) {
        SCOPED_TRACE(end.empty() ? "cut" : "bye");
        TScript s = ImapLoggedIn();
        s.Expect("a2 EXAMINE \"INBOX\"").Expect(std::string("a3 ") + kFetchAll);
        const std::string header = Msg(2, 102).Header;
        s.Send(ImapFolderAnswer("a2", 3, 7) + ImapHeaderFetch(1, 101, 50, Msg(1, 101).Header) +
               end + "* 2 FETCH (UID 102 RFC822.SIZE 60 BODY[HEADER] {" +
               std::to_string(header.size()) + "}\r\n" + header.substr(0, 20))
            .Close();
        Start({s});
        Screen.Boxes.clear();
        Form.CheckMail();
        ExpectNoFailures();
        ASSERT_EQ(Form.Messages.size(), 1u);
        EXPECT_EQ(Form.Messages[0].UidlText, "1 7.101");
        EXPECT_EQ(Screen.BoxMessages(),
                  std::vector<std::string>{"Rilevati problemi durante la lettura dei messaggi"});
        EXPECT_FALSE(Form.Checking);
    }
}

TEST_F(ImapScript, AHeaderOverTheCapIsCutAndTheNextOneStillRead) {
    TScriptMessage big = Msg(1, 101);
    big.Header += "X-Padding: " + std::string(300, 'x') + "\r\n";
    Start({CheckScript({big, Msg(2, 102)}, 7)});
    Form.ImapClient1.MaxHeaderBytes = 120;
    Form.CheckMail();
    ExpectNoFailures();
    ASSERT_EQ(Form.Messages.size(), 2u);
    EXPECT_EQ(Form.Messages[0].Subject, "Message 1");
    EXPECT_EQ(Form.Messages[0].HeaderText.find("X-Padding"), std::string::npos);
    EXPECT_EQ(Form.Messages[1].Subject, "Message 2");
    EXPECT_TRUE(Form.CheckErrorFlag());
}

TEST_F(ImapScript, StopDuringTheFetchEndsTheSessionThere) {
    TScript s = ImapLoggedIn();
    s.Expect("a2 EXAMINE \"INBOX\"").Expect(std::string("a3 ") + kFetchAll);
    std::string answer = ImapFolderAnswer("a2", 3, 7);
    for (int i = 1; i <= 3; ++i)
        answer += ImapHeaderFetch(i, 100 + i, 90, Msg(i, 100 + i).Header);
    s.Send(answer + "a3 OK Fetch completed.\r\n");
    Start({s});
    Screen.OnStatus = [this](const std::string& text) {
        if (text == "Lettura messaggio 2 su 3 dal server 127.0.0.1...") Form.BitBtnStopClick();
    };
    Form.CheckMail();
    ExpectNoFailures();
    EXPECT_EQ(Form.Messages.size(), 2u);
    EXPECT_NE(Form.StatusText().find(" - Interrotto dall'utente"), std::string::npos);
    EXPECT_FALSE(Form.ImapClient1.IsConnected());
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
}

TEST_F(ImapScript, ARefusedStartTlsSaysSoAndSendsNoLogin) {
    TScript s;
    s.Line("* OK [CAPABILITY IMAP4rev1 STARTTLS AUTH=PLAIN] ready")
        .Expect("a1 STARTTLS")
        .Line("a1 NO Not now.");
    Server = std::make_unique<TScriptedServer>(std::vector<TScript>{s});
    TMailAccount a = Account("Casa", Server->Port(), "alice", "secret");
    a.Protocol = TProtocol::Imap;
    a.Security = TSecurity::Stls;
    Load({a});
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(),
              (std::vector<std::string>{
                  "Il server 127.0.0.1 non consente la connessione sicura (STARTTLS):\\nNot now.",
                  "Impossibile connettersi a 127.0.0.1"}));
    Server->Stop();
    EXPECT_EQ(Server->Received(), std::vector<std::string>{"a1 STARTTLS"});
    EXPECT_FALSE(Form.AntiFreeze1.Active);
}

// The deletion's session up to the answer of its verifying fetch, which goes
// out with SELECT: the server answers only once both are in.
TScript Selected(unsigned validity, const std::string& fetch, const std::string& fetched,
                 const std::string& capabilities = test::kImapCapabilities) {
    TScript s = ImapLoggedIn(capabilities, capabilities);
    s.Expect("a2 SELECT \"INBOX\"")
        .Expect("a3 " + fetch)
        .Send(ImapFolderAnswer("a2", 2, validity, false) + fetched + "a3 OK Fetch completed.\r\n");
    return s;
}

TEST_F(ImapScript, AChangedUidValidityDeletesNothing) {
    BlockAll();
    // What the fetch brings is another folder's: no copy of it is made.
    TScript del = Selected(8, "UID FETCH 101:102 (UID BODY.PEEK[])",
                           WholeMessage(1, Msg(1, 101)) + WholeMessage(2, Msg(2, 102)));
    del.Expect("a4 LOGOUT");
    Start({CheckScript({Msg(1, 101), Msg(2, 102)}, 7), del, CheckScript({Msg(1, 5), Msg(2, 6)}, 8)});
    Form.CheckMail(TAutoDeletion::Always);
    ExpectNoFailures();
    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{"La cartella INBOX del server 127.0.0.1 \xE8 cambiata dopo "
                                       "l'ultimo controllo (UIDVALIDITY): nessun messaggio eliminato"});
    EXPECT_TRUE(Recycled().empty());
    EXPECT_EQ(Form.Messages.size(), 2u);
}

TEST_F(ImapScript, AMessageExpungedByAnotherClientStopsTheWalkThere) {
    BlockAll();
    WriteIniBool(kSectionSetup, "CopyToRecycle", false);
    WriteIniBool(kSectionSetup, "SpostaInSpam", false);
    // Rows go last first: 102 is verified, 101 is gone.
    TScript del =
        Selected(7, "UID FETCH 101:102 (UID BODY.PEEK[HEADER])", HeaderOnly(1, Msg(2, 102)));
    del.Expect("a4 UID STORE 102 +FLAGS.SILENT (\\Deleted)")
        .Expect("a5 UID EXPUNGE 102")
        .Send("a4 OK Store completed.\r\n* 1 EXPUNGE\r\na5 OK Expunge completed.\r\n")
        .Expect("a6 LOGOUT");
    Start({CheckScript({Msg(1, 101), Msg(2, 102)}, 7), del, CheckScript({}, 7)});
    Form.CheckMail(TAutoDeletion::Always);
    ExpectNoFailures();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{"Rilevati errori durante l'eliminazione"});
}

TEST_F(ImapScript, WithoutUidplusExpungeOnlyWhenNoOtherMessageIsMarked) {
    BlockAll();
    WriteIniBool(kSectionSetup, "CopyToRecycle", true);
    const std::string bare = "IMAP4rev1 LITERAL+";
    const std::string refused =
        "Il server 127.0.0.1 non sa eliminare i soli messaggi scelti (UIDPLUS) e altri messaggi "
        "della cartella sono segnati per l'eliminazione: nessun messaggio eliminato";
    struct TRow {
        const char* name;
        const char* before;  // the SEARCH answer before ours are marked
        const char* after;   // and after, when asked
        size_t copies;       // kept in the recycle folder
    };
    for (const TRow& row :
         {TRow{"only ours", "* SEARCH\r\n", "* SEARCH 101 102\r\n", 2},
          TRow{"another marked before", "* SEARCH 55\r\n", nullptr, 0},
          // Ours were marked while another client could
          // expunge: their copies stay.
          TRow{"another marked meanwhile", "* SEARCH\r\n", "* SEARCH 55 101 102\r\n", 2}}) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(Home.Path("Cestino"));
        TScript del = Selected(7, "UID FETCH 101:102 (UID BODY.PEEK[])",
                               WholeMessage(1, Msg(1, 101)) + WholeMessage(2, Msg(2, 102)), bare);
        del.Expect("a4 UID SEARCH DELETED")
            .Send(std::string(row.before) + "a4 OK Search completed.\r\n");
        int tag = 5;
        if (row.after != nullptr) {
            del.Expect("a5 UID STORE 101:102 +FLAGS.SILENT (\\Deleted)")
                .Line("a5 OK Store completed.")
                .Expect("a6 UID SEARCH DELETED")
                .Send(std::string(row.after) + "a6 OK Search completed.\r\n");
            if (row.after == std::string("* SEARCH 101 102\r\n"))
                del.Expect("a7 EXPUNGE")
                    .Line("* 2 EXPUNGE\r\n* 1 EXPUNGE\r\na7 OK Expunge completed.");
            else
                del.Expect("a7 UID STORE 101:102 -FLAGS.SILENT (\\Deleted)")
                    .Line("a7 OK Store completed.");
            tag = 8;
        }
        del.Expect("a" + std::to_string(tag) + " LOGOUT");
        Start({CheckScript({Msg(1, 101), Msg(2, 102)}, 7, bare), del, CheckScript({}, 7, bare)});
        Screen.Boxes.clear();
        Form.CheckMail(TAutoDeletion::Always);
        ExpectNoFailures();
        const bool erased = row.copies == 2 && row.after == std::string("* SEARCH 101 102\r\n");
        EXPECT_EQ(Screen.BoxMessages(),
                  erased ? std::vector<std::string>{} : std::vector<std::string>{refused});
        EXPECT_EQ(Recycled().size(), row.copies);
    }
}

TEST_F(ImapScript, CopiesAreMadeBeforeTheMoveAndKeptWhenItFails) {
    BlockAll();
    WriteIniBool(kSectionSetup, "CopyToRecycle", true);
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refused" : "moved");
        std::filesystem::remove_all(Home.Path("Cestino"));
        TScript del = Selected(7, "UID FETCH 101:102 (UID BODY.PEEK[])",
                               WholeMessage(1, Msg(1, 101)) + WholeMessage(2, Msg(2, 102)));
        del.Expect("a4 LIST \"\" \"*\"")
            .Send(
                "* LIST (\\HasNoChildren) \"/\" INBOX\r\n* LIST (\\HasNoChildren \\Junk) \"/\" "
                "Spam\r\na4 OK List completed.\r\n")
            .Expect("a5 UID MOVE 101:102 \"Spam\"")
            .Line(refused ? "a5 NO [SERVERBUG] Internal error" : "a5 OK Move completed.")
            .Expect("a6 LOGOUT");
        Start({CheckScript({Msg(1, 101), Msg(2, 102)}, 7), del, CheckScript({}, 7)});
        Screen.Boxes.clear();
        Form.CheckMail(TAutoDeletion::Always);
        ExpectNoFailures();
        // A message that may be gone keeps its copy, whatever the answer.
        const std::vector<std::string> files = Recycled();
        ASSERT_EQ(files.size(), 2u);
        std::multiset<std::string> texts;
        for (const std::string& name : files) texts.insert(ReadFile(Home.Path("Cestino/" + name)));
        EXPECT_EQ(texts, (std::multiset<std::string>{Msg(1, 101).Text(), Msg(2, 102).Text()}));
        EXPECT_EQ(Screen.BoxMessages().size(), refused ? 1u : 0u);
    }
}

TEST_F(ImapScript, AFolderTheServerRefusesIsNamedAndTheNextAccountIsChecked) {
    TScript typo = ImapLoggedIn();
    typo.Expect("a2 EXAMINE \"Archvio\"")
        .Expect(std::string("a3 ") + kFetchAll)
        .Send(
            "a2 NO [NONEXISTENT] Mailbox doesn't exist: Archvio\r\na3 BAD No mailbox selected.\r\n")
        .Expect("a4 LOGOUT");
    Server = std::make_unique<TScriptedServer>(
        std::vector<TScript>{typo, CheckScript({Msg(1, 101)}, 7)});
    TMailAccount a = Account("Archivio", Server->Port(), "alice", "secret");
    a.Protocol = TProtocol::Imap;
    a.Folder = "Archvio";
    TMailAccount b = Account("Posta", Server->Port(), "alice", "secret");
    b.Protocol = TProtocol::Imap;
    Load({a, b});
    Form.CheckMail();
    ExpectNoFailures();
    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{"Cartella Archvio non trovata sul server 127.0.0.1: "
                                       "[NONEXISTENT] Mailbox doesn't exist: Archvio"});
    EXPECT_TRUE(Form.CheckErrorFlag());
    ASSERT_EQ(Form.Messages.size(), 1u);
    EXPECT_EQ(Form.Messages[0].AccountIndex, 1);
}

TEST_F(ImapScript, ARefusedSelectDeletesNothing) {
    BlockAll();
    TScript del = ImapLoggedIn();
    del.Expect("a2 SELECT \"INBOX\"")
        .Expect("a3 UID FETCH 101:102 (UID BODY.PEEK[])")
        .Send("a2 NO [NOPERM] Permission denied\r\na3 BAD No mailbox selected.\r\n")
        .Expect("a4 LOGOUT");
    Start({CheckScript({Msg(1, 101), Msg(2, 102)}, 7), del,
           CheckScript({Msg(1, 101), Msg(2, 102)}, 7)});
    Form.CheckMail(TAutoDeletion::Always);
    ExpectNoFailures();
    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{
                  "Cartella INBOX non trovata sul server 127.0.0.1: [NOPERM] Permission denied"});
    EXPECT_TRUE(Recycled().empty());
    EXPECT_EQ(Form.Messages.size(), 2u);
}

TEST_F(ImapScript, LoginDisabledWithoutAUsableMechanismSaysSoAndSendsNothing) {
    setenv("SSL_CERT_FILE", (test::TestCertificateDir() + "/ca.pem").c_str(), 1);
    const std::string inClear =
        "Il server 127.0.0.1 non accetta la password su una connessione non protetta "
        "(LOGINDISABLED):\\nscegliere TLS o STARTTLS come sicurezza dell'account";
    struct TRow {
        const char* capabilities;
        TSecurity security;
        std::string box;
    };
    for (const TRow& row :
         {TRow{"IMAP4rev1 LOGINDISABLED STARTTLS", TSecurity::None, inClear},
          TRow{"IMAP4rev1 LOGINDISABLED AUTH=CRAM-MD5 SASL-IR", TSecurity::None, inClear},
          TRow{"IMAP4rev1 LOGINDISABLED AUTH=GSSAPI", TSecurity::Tls,
               "Il server 127.0.0.1 non accetta l'accesso con la password (LOGINDISABLED)"}}) {
        SCOPED_TRACE(row.capabilities);
        TScript s;
        if (row.security == TSecurity::Tls) s.StartTls();
        s.Line(std::string("* OK [CAPABILITY ") + row.capabilities + "] ready");
        Server = std::make_unique<TScriptedServer>(std::vector<TScript>{s});
        TMailAccount a = Account("Posta", Server->Port(), "alice", "secret");
        a.Protocol = TProtocol::Imap;
        a.Security = row.security;
        Load({a});
        Screen.Boxes.clear();
        Form.CheckMail();
        Server->Stop();
        EXPECT_EQ(Screen.BoxMessages(),
                  (std::vector<std::string>{row.box, "Impossibile connettersi a 127.0.0.1"}));
        EXPECT_EQ(Server->Received(), std::vector<std::string>{});
        EXPECT_TRUE(Form.CheckErrorFlag());
        EXPECT_FALSE(Form.AntiFreeze1.Active);
    }
    unsetenv("SSL_CERT_FILE");
}

TEST_F(ImapScript, AMessageAnsweredForAnotherUidOrTwiceIsNotVerified) {
    BlockAll();
    WriteIniBool(kSectionSetup, "SpostaInSpam", false);
    TScriptMessage other = Msg(2, 102);
    other.Header = "From: Someone <else@example.com>\r\nSubject: Not this one\r\n";
    TScriptMessage unasked = Msg(2, 999);
    struct TRow {
        const char* name;
        bool copies;
        std::string answer;
    };
    // Rows go last first: 102 is the first to verify, and its failure stops
    // the walk, so nothing at all may be removed, and no copy kept.
    for (const TRow& row :
         {TRow{"header of another uid", false, HeaderOnly(1, Msg(1, 101)) + HeaderOnly(2, unasked)},
          TRow{"header twice", false,
               HeaderOnly(1, Msg(1, 101)) + HeaderOnly(2, other) + HeaderOnly(2, Msg(2, 102))},
          TRow{"message of another uid", true,
               WholeMessage(1, Msg(1, 101)) + WholeMessage(2, unasked)},
          TRow{"message twice", true,
               WholeMessage(1, Msg(1, 101)) + WholeMessage(2, Msg(2, 102)) +
                   WholeMessage(2, other)}}) {
        SCOPED_TRACE(row.name);
        WriteIniBool(kSectionSetup, "CopyToRecycle", row.copies);
        TScript del = Selected(7,
                               row.copies ? "UID FETCH 101:102 (UID BODY.PEEK[])"
                                          : "UID FETCH 101:102 (UID BODY.PEEK[HEADER])",
                               row.answer);
        del.Expect("a4 LOGOUT");
        Start({CheckScript({Msg(1, 101), Msg(2, 102)}, 7), del,
               CheckScript({Msg(1, 101), Msg(2, 102)}, 7)});
        Screen.Boxes.clear();
        Form.CheckMail(TAutoDeletion::Always);
        ExpectNoFailures();
        ASSERT_FALSE(Screen.BoxMessages().empty());
        EXPECT_EQ(Screen.BoxMessages().back(), "Rilevati errori durante l'eliminazione");
        EXPECT_TRUE(Recycled().empty());
    }
}

class ImapOAuth : public ImapScript {
protected:
    void SetUp() override {
        setenv("SSL_CERT_FILE", (test::TestCertificateDir() + "/ca.pem").c_str(), 1);
        Auth.SetRefreshToken("rt-seed");
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }
    void StartOAuth(std::vector<TScript> scripts) {
        Server = std::make_unique<TScriptedServer>(std::move(scripts));
        TMailAccount a = Account("Nuvola", Server->Port(), "alice", "");
        a.Protocol = TProtocol::Imap;
        a.Access = TAccessMethod::OAuth;
        a.OAuth = {kProviderCustom, "client-1", "", Auth.Url("/authorize"), Auth.Url("/token"), "",
                   "imap offline_access"};
        a.RefreshToken = "rt-seed";
        Load({a});
    }
    static TScript Greeting(TScript s) {
        s.Line("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2 AUTH=OAUTHBEARER] ready").Read();
        return s;
    }
    test::TTestAuthServer Auth{"alice"};
};

TEST_F(ImapOAuth, TheTokenGoesInTheCommandAndARefusalIsRefreshedOnce) {
    auto refused = [] {
        TScript s = Greeting(TScript());
        s.Line("+ " + Base64Encode("{\"status\":\"401\",\"schemes\":\"bearer\"}"))
            .Expect("")
            .Line("a1 NO [AUTHENTICATIONFAILED] Authentication failed.");
        return s;
    };
    TScript taken = Greeting(TScript());
    taken.Line("a1 OK [CAPABILITY IMAP4rev1] Logged in")
        .Expect("a2 EXAMINE \"INBOX\"")
        .Expect(std::string("a3 ") + kFetchAll)
        .Send(ImapFolderAnswer("a2", 1, 9) + ImapHeaderFetch(1, 3, 90, Msg(1, 3).Header) +
              "a3 OK Done.\r\n")
        .Expect("a4 LOGOUT");
    // A refusal mended by a fresh token; then, in the next check, one that
    // a fresh token does not mend.
    StartOAuth({refused(), taken, refused(), refused()});
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    ASSERT_EQ(Form.Messages.size(), 1u);
    EXPECT_EQ(Auth.Grants().size(), 2u) << "before the session, and once after the refusal";
    const std::vector<std::string> tokens = Auth.AccessTokens();
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(Server->Received(0).at(0),
              "a1 AUTHENTICATE XOAUTH2 " + Base64Encode(XOAuth2Response("alice", tokens[0])));
    EXPECT_EQ(Server->Received(1).at(0),
              "a1 AUTHENTICATE XOAUTH2 " + Base64Encode(XOAuth2Response("alice", tokens[1])));

    Form.CheckMail();
    ExpectNoFailures();
    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{"Accesso OAuth rifiutato dal server (401): "
                                       "[AUTHENTICATIONFAILED] Authentication failed."});
    EXPECT_TRUE(Form.CheckErrorFlag());
    EXPECT_EQ(Auth.Grants().size(), 3u) << "one refresh after the refusal, not more";
    for (const std::string& line : Server->Received())
        EXPECT_EQ(line.find(" LOGIN "), std::string::npos) << line;
}

}  // namespace
}  // namespace kalmuro::enginetest
