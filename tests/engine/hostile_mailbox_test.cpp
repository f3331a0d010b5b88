// Broken servers and unlucky moments at the level the user meets them: ids
// shared by two messages, a renumbered mailbox, lines of 20,000 characters,
// a copy killed halfway, and who may read the files left behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/engine_harness.h"
#include "engine/message_files.h"
#include "mail/atomic_file.h"
#include "mail/rule_list.h"

namespace kalmuro::enginetest {
namespace {

using test::TFakeMessage;
using test::TFakePop3Server;

constexpr const char* kDeleteFailed = "Rilevati errori durante l'eliminazione";

class HostileMailboxTest : public TFormTest {
protected:
    TUtcZone Utc;

    void CheckAccount(const TFakePop3Server& server) {
        Load({Account("Alice", server.Port(), "alice", "secret")});
        Form.CheckMail();
        Screen.Boxes.clear();
        // The QUIT answer is not awaited: let the server finish with it
        // before the test changes the mailbox.
        ASSERT_TRUE(server.WaitForSessions(server.SessionsAccepted()));
    }
    // Deletes the given rows (0-based) without asking.
    void DeleteRows(std::initializer_list<int32_t> rows, bool copy) {
        WriteIniBool(kSectionSetup, "CopyToRecycle", copy);
        Form.Deselezionatutto1Click();
        for (int32_t row : rows) Form.SetRowChecked(row, true);
        Screen.Answer = [](const TBox& box) {
            return box.Buttons == mbYesNo ? int32_t{mrYes} : int32_t{mrOk};
        };
        Form.DeleteSelectedMessages();
    }
    static std::vector<std::string> Uids(const TFakePop3Server& server) {
        std::vector<std::string> uids;
        for (const TFakeMessage& m : server.Messages()) uids.push_back(m.Uid);
        return uids;
    }
};

TEST_F(HostileMailboxTest, SharedIdsAreNeverDeletedEvenAfterTheNumberingShifts) {
    // A server that gives two messages one id. Another program removes the
    // first message before the deletion, so the blocked message's number
    // now belongs to the safe one, which answers UIDL with the same text.
    const TFakeMessage first = FakeMessage("<a@example.com>", "Primo", "first");
    const TFakeMessage spam = FakeMessage("<spam@example.com>", "Offerta", "dup");
    const TFakeMessage safe = FakeMessage("<mamma@example.com>", "Cena", "dup");
    const TFakeMessage other = FakeMessage("<spam2@example.com>", "Altra offerta", "other");
    for (bool copy : {true, false}) {
        SCOPED_TRACE(copy ? "copy" : "no copy");
        TFakePop3Server server("alice", "secret", {first, spam, safe, other});
        CheckAccount(server);
        server.SetMessages({spam, safe, other});
        DeleteRows({1}, copy);
        EXPECT_EQ(Uids(server), (std::vector<std::string>{"dup", "dup", "other"}));
        EXPECT_EQ(Screen.BoxMessages(),
                  (std::vector<std::string>{Screen.Boxes.front().Message, kAmbiguousUidError}));

        // The other ticked messages of the run still go.
        server.SetMessages({spam, safe, other});
        CheckAccount(server);
        DeleteRows({1, 2}, copy);
        EXPECT_EQ(Uids(server), (std::vector<std::string>{"dup", "dup"}));
        EXPECT_EQ(Screen.BoxMessages().back(), kAmbiguousUidError);
        std::filesystem::remove_all(Home.Path("Cestino"));
    }
}

TEST_F(HostileMailboxTest, AnotherHeaderUnderTheSameIdIsNotDeleted) {
    // The numbering shifted and the server answers UIDL 2 with the id the
    // check saw for the blocked message: only the header tells them apart.
    const TFakeMessage first = FakeMessage("<a@example.com>", "Primo", "first");
    const TFakeMessage spam = FakeMessage("<spam@example.com>", "Offerta", "spam");
    const TFakeMessage safe = FakeMessage("<mamma@example.com>", "Cena", "safe");
    for (bool copy : {true, false}) {
        SCOPED_TRACE(copy ? "copy" : "no copy");
        TFakePop3Server server("alice", "secret", {first, spam, safe});
        CheckAccount(server);
        server.SetMessages({spam, safe});
        server.Override("UIDL 2", "+OK 2 spam\r\n");
        DeleteRows({1}, copy);
        EXPECT_EQ(Uids(server), (std::vector<std::string>{"spam", "safe"}));
        EXPECT_EQ(Screen.BoxMessages().back(), kDeleteFailed);
        EXPECT_TRUE(Recycled().empty()) << "no copy of a message that stays";
    }
}

TEST(SameHeaderBlock, ComparesTheStoredHeaderWithTheWholeMessage) {
    struct Case {
        const char* Name;
        std::string Stored, Message;
        bool Same;
    };
    const std::string message = "From: a@b\r\nSubject: x\r\n\r\nbody\r\n\r\nmore\r\n";
    const std::vector<Case> cases = {
        {"same", "From: a@b\r\nSubject: x\r\n", message, true},
        {"other-subject", "From: a@b\r\nSubject: y\r\n", message, false},
        {"fewer-lines", "From: a@b\r\n", message, false},
        {"nothing-stored", "", message, false},
        {"server-sent-body-for-top", "From: a@b\r\nSubject: x\r\nbody\r\nmore\r\n", message, true},
        {"header-only-message", "From: a@b\r\n", "From: a@b\r\n", true},
        {"stuffed-line", "..dot: x\r\n", ".dot: x\r\n\r\nb\r\n", true},
    };
    for (const Case& c : cases) EXPECT_EQ(SameHeaderBlock(c.Stored, c.Message), c.Same) << c.Name;
}

TEST_F(HostileMailboxTest, TwentyThousandCharacterLines) {
    // In a header: that message fails, the rest is listed and QUIT sent.
    TFakeMessage longHeader = FakeMessage("<a@example.com>", "Lungo", "long");
    longHeader.Text.insert(0, "X-Long: " + std::string(20000, 'h') + "\r\n");
    // In a body (HTML mail): it views, saves, copies and deletes.
    TFakeMessage longBody = FakeMessage("<spam@example.com>", "Html", "html");
    longBody.Text += "<p>" + std::string(20000, 'b') + "</p>\r\n";
    TFakePop3Server server("alice", "secret",
                           {FakeMessage("<b@example.com>", "Uno", "one"), longHeader, longBody});
    CheckAccount(server);
    ASSERT_EQ(Form.Messages.size(), 3u);
    EXPECT_TRUE(Form.CheckErrorFlag());
    EXPECT_EQ(Form.Messages[1].MsgNumber, 2);
    EXPECT_EQ(Form.Messages[1].UidlText, "2 long");
    EXPECT_EQ(Form.Messages[2].Subject, "Html");
    EXPECT_EQ(server.Received(0).back(), "QUIT");

    Form.Visualizzamessaggio1Click();  // nothing highlighted: a box
    Form.SetHighlightedRow(2);
    Form.Visualizzamessaggio1Click();
    ASSERT_EQ(Screen.Viewers.size(), 1u);
    EXPECT_EQ(Screen.Viewers[0].Text, longBody.Text);
    Screen.SaveChoice = Home.Path("html.eml");
    Form.Salva1Click();
    EXPECT_EQ(ReadFile(Home.Path("html.eml")), longBody.Text);

    DeleteRows({2}, true);
    EXPECT_EQ(Uids(server), (std::vector<std::string>{"one", "long"}));
    ASSERT_EQ(Recycled().size(), 1u);
    EXPECT_EQ(ReadFile(Home.Path("Cestino/" + Recycled()[0])), longBody.Text);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST_F(HostileMailboxTest, NewFilesArePrivateAndExistingOnesKeepTheirMode) {
    const mode_t oldMask = umask(022);
    TFakePop3Server server("alice", "secret", FakeMailbox(2));
    CheckAccount(server);
    Screen.SaveChoice = Home.Path("saved.eml");
    Form.SetHighlightedRow(0);
    Form.Salva1Click();
    DeleteRows({1}, true);
    TRuleList list;
    list.FileName = Home.Path("Mittenti.txt");
    list.Lines = {"spam@example.com"};
    list.SaveToFile();
    EXPECT_EQ(ModeOf(Home.Path("Cestino")), 0700u);
    ASSERT_EQ(Recycled().size(), 1u);
    EXPECT_EQ(ModeOf(Home.Path("Cestino/" + Recycled()[0])), 0600u);
    EXPECT_EQ(ModeOf(Home.Path("saved.eml")), 0600u);
    EXPECT_EQ(ModeOf(IniFileName()), 0600u);
    EXPECT_EQ(ModeOf(list.FileName), 0600u);

    // A file the user opened up stays open; so does a folder.
    for (const std::string& path : {IniFileName(), Home.Path("saved.eml"), list.FileName})
        ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(Home.Path("Cestino").c_str(), 0755), 0);
    WriteIniBool(kSectionSetup, "CopyToRecycle", false);
    list.SaveToFile();
    Form.Salva1Click();  // asks, and replaces
    CheckAccount(server);
    DeleteRows({0}, true);
    for (const std::string& path : {IniFileName(), Home.Path("saved.eml"), list.FileName})
        EXPECT_EQ(ModeOf(path), 0644u) << path;
    EXPECT_EQ(ModeOf(Home.Path("Cestino")), 0755u);
    EXPECT_TRUE(server.Messages().empty());
    umask(oldMask);
}

bool HasTemporary(const std::string& folder) {
    for (const std::string& name : FolderNames(folder))
        if (name.rfind(".kalmuro-", 0) == 0) return true;
    return false;
}

TEST(KilledCopy, LeavesNoCopyAndTheNextRunCleansUp) {
    TTempHome home;
    const std::string folder = home.Path("Cestino");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::string content(256 * 1024 * 1024, 'm');
    bool caught = false;
    for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string path;
            _exit(WriteNewMessageFile(folder, "copia", content, path));
        }
        // kill -9 once the copy is under way.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!HasTemporary(folder) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        caught = WIFSIGNALED(status);
        if (!caught) std::filesystem::remove(folder + "/copia.eml");  // finished first
    }
    ASSERT_TRUE(caught);
    const std::vector<std::string> left = FolderNames(folder);
    ASSERT_EQ(left.size(), 1u) << "only the temporary file";
    EXPECT_EQ(left[0].rfind(".kalmuro-", 0), 0u);

    std::string path;
    ASSERT_EQ(WriteNewMessageFile(folder, "copia", "whole\r\n", path), 0);
    EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"copia.eml"});
    EXPECT_EQ(ReadFile(path), "whole\r\n");
}

// Leftovers of copies cut short go whenever the recycle folder is used
// again, also within one long run of the window, and never those a running
// program may still be writing.
TEST_F(HostileMailboxTest, LeftoversGoWhenTheRecycleFolderIsUsed) {
    const std::string folder = Home.Path("Cestino");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const pid_t dead = fork();
    ASSERT_GE(dead, 0);
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string deadName = ".kalmuro-" + std::to_string(dead) + "-1.tmp";
    const std::string ownName = ".kalmuro-" + std::to_string(getpid()) + "-2.tmp";
    // pid 1 always runs: its leftover is stale only once it is old.
    const std::string oldName = ".kalmuro-1-3.tmp", freshName = ".kalmuro-1-4.tmp";
    auto plant = [&] {
        for (const std::string& name : {deadName, ownName, oldName, freshName})
            Home.Write("Cestino/" + name, "half a messa");
        const timespec old[2] = {{time(nullptr) - 3 * 24 * 3600, 0}, {time(nullptr) - 3 * 24 * 3600, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (folder + "/" + oldName).c_str(), old, 0), 0);
    };
    const std::vector<std::string> kept = {freshName, "keep.eml", ".other.tmp"};
    Home.Write("Cestino/keep.eml", "whole\r\n");
    Home.Write("Cestino/.other.tmp", "not ours");
    auto left = [&] {
        std::vector<std::string> names = FolderNames(folder);
        std::sort(names.begin(), names.end());
        return names;
    };
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());

    plant();
    Form.BitBtnRecycleClick();
    EXPECT_EQ(left(), expected);

    // Two deletion runs in one process: each sweeps, and the copy is whole.
    TFakePop3Server server("alice", "secret", FakeMailbox(2));
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        plant();
        CheckAccount(server);
        DeleteRows({0}, true);
        std::vector<std::string> names = left();
        names.erase(std::remove_if(names.begin(), names.end(),
                                   [&](const std::string& n) {
                                       return n.size() > 4 && n.rfind(".eml") == n.size() - 4 &&
                                              n != "keep.eml";
                                   }),
                    names.end());
        EXPECT_EQ(names, expected);
    }
    EXPECT_EQ(server.Messages().size(), 0u);
}

}  // namespace
}  // namespace kalmuro::enginetest
