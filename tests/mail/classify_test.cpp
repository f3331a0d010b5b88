#include "mail/classify.h"

#include <gtest/gtest.h>

#include <random>

#include "mail/errors.h"
#include "mail/settings.h"
#include "mail/text.h"
#include "support/case_name.h"
#include "support/temp_home.h"

namespace kalmuro {
namespace {

using testcase::PrintTo;

using Lines = std::vector<std::string>;

struct MatchCase {
    const char* name;
    std::string text;
    Lines lines;
    bool matches;
    std::string matched;
};

class Matches : public ::testing::TestWithParam<MatchCase> {};

TEST_P(Matches, FindTheFirstLineContainedInTheText) {
    const MatchCase& c = GetParam();
    std::string matched = "stale";
    EXPECT_EQ(MatchesRuleList(c.text, c.lines, matched), c.matches);
    EXPECT_EQ(matched, c.matched);
}

INSTANTIATE_TEST_SUITE_P(
    Classify, Matches,
    ::testing::Values(
        MatchCase{"any_case_anywhere", "news@PROMO.example", {"promo"}, true, "promo"},
        MatchCase{"at_start", "Promo@x", {"pROMO"}, true, "pROMO"},
        MatchCase{"at_end", "a@x.promo", {"PROMO"}, true, "PROMO"},
        MatchCase{"whole_text", "abc", {"ABC"}, true, "ABC"},
        MatchCase{"longer_than_text", "abc", {"abcd"}, false, ""},
        MatchCase{"first_in_list_order", "spam@promo.it", {"zzz", "PROMO", "spam"}, true, "PROMO"},
        MatchCase{"empty_line_never", "abc", {"", "x"}, false, ""},
        MatchCase{"empty_text_never", "", {"", "a"}, false, ""},
        MatchCase{"trailing_blank_needs_blank", "buy now", {"buy "}, true, "buy "},
        MatchCase{"trailing_blank_missing", "buynow", {"buy "}, false, ""},
        MatchCase{"accents_not_folded", "\xC8 OFFERTA", {"\xE8 offerta"}, false, ""},  // È, è
        MatchCase{"accents_same_case", "\xE8 OFFERTA", {"\xE8 offerta"}, true, "\xE8 offerta"},
        MatchCase{"no_wildcards", "promo.it", {"pro*"}, false, ""},
        MatchCase{"not_contiguous", "p-r-o-m-o", {"promo"}, false, ""}),
    testcase::RowName);

TMessageEntry Msg(const std::string& name, const std::string& address, const std::string& subject) {
    TMessageEntry m;
    m.FromName = name;
    m.FromAddress = address;
    m.Subject = subject;
    m.Sender = name;
    return m;
}

struct Lists {
    TRuleList blockedSenders, safeSenders, blockedSubjects, safeSubjects;
    TClassifyRules Rules() const {
        return {.BlockedSenders = blockedSenders,
                .SafeSenders = safeSenders,
                .BlockedSubjects = blockedSubjects,
                .SafeSubjects = safeSubjects};
    }
};

struct ClassifyCase {
    const char* name;
    TMessageEntry message;
    bool stopEmpty;
    std::string note;
    bool locked, secured;
};

class Classifications : public ::testing::TestWithParam<ClassifyCase> {
protected:
    Classifications() {
        lists.blockedSenders.Lines = {"", "promo", "spam@"};
        lists.safeSenders.Lines = {"amico.it"};
        lists.blockedSubjects.Lines = {"viagra", "offerta "};
        lists.safeSubjects.Lines = {"fattura"};
    }
    Lists lists;
};

TEST_P(Classifications, FollowThePrecedence) {
    const ClassifyCase& c = GetParam();
    std::vector<TMessageEntry> messages = {c.message};
    messages[0].SpamNote = "old note";
    messages[0].Locked = messages[0].Secured = !c.locked;
    messages[0].Selected = !c.locked;  // the user's tick is replaced
    ClassifyMessagesWith(messages, lists.Rules(), c.stopEmpty);
    EXPECT_EQ(messages[0].SpamNote, c.note);
    EXPECT_EQ(messages[0].Locked, c.locked);
    EXPECT_EQ(messages[0].Secured, c.secured);
    EXPECT_EQ(messages[0].Selected, c.locked);
}

INSTANTIATE_TEST_SUITE_P(
    Classify, Classifications,
    ::testing::Values(
        ClassifyCase{"nothing", Msg("Mario", "mario@x.it", "ciao"), false, "", false, false},
        ClassifyCase{"blocked_sender", Msg("", "news@PROMO.com", "ciao"), false,
                     "<<< Mittente bloccato: promo >>>", true, false},
        ClassifyCase{"blocked_subject", Msg("", "a@b.c", "Grande OFFERTA oggi"), false,
                     "<<< Oggetto bloccato: offerta  >>>", true, false},
        ClassifyCase{"safe_sender", Msg("", "capo@amico.it", "x"), false,
                     "<<< Mittente sicuro: amico.it >>>", false, true},
        ClassifyCase{"safe_subject", Msg("", "a@b.c", "La tua FATTURA"), false,
                     "<<< Oggetto sicuro: fattura >>>", false, true},
        ClassifyCase{"safe_sender_beats_blocked_subject", Msg("", "x@amico.it", "viagra"), false,
                     "<<< Mittente sicuro: amico.it >>>", false, true},
        ClassifyCase{"safe_subject_beats_blocked_sender", Msg("", "spam@promo.it", "fattura"),
                     false, "<<< Oggetto sicuro: fattura >>>", false, true},
        ClassifyCase{"blocked_sender_before_blocked_subject", Msg("", "spam@x", "viagra"), false,
                     "<<< Mittente bloccato: spam@ >>>", true, false},
        ClassifyCase{"display_name_not_compared", Msg("promo", "a@b.c", "ciao"), false, "", false,
                     false},
        ClassifyCase{"subject_rule_not_on_address", Msg("", "viagra@b.c", "ciao"), false, "", false,
                     false},
        ClassifyCase{"empty_message_blocked", Msg("", "", ""), true,
                     "<<< Bloccato perch\xE8 mittente ed oggetto sono vuoti >>>",  // perchè
                     true, false},
        ClassifyCase{"empty_message_when_off", Msg("", "", ""), false, "", false, false},
        ClassifyCase{"name_only_is_not_empty", Msg("Mario", "", ""), true, "", false, false},
        ClassifyCase{"no_sender_subject_still_ruled", Msg("", "", "viagra"), true,
                     "<<< Oggetto bloccato: viagra >>>", true, false}),
    testcase::RowName);

TEST(ClassifyRun, PumpsOncePerRecord) {
    Lists lists;
    std::vector<TMessageEntry> messages(5, Msg("a", "b", "c"));
    int pumps = 0;
    ClassifyMessagesWith(messages, lists.Rules(), false, [&] { ++pumps; });
    EXPECT_EQ(pumps, 5);
}

TEST(ClassifyRun, NestedChangesDuringThePumpAreSafe) {
    // A handler run by the pump may extend and sort a list, or empty the records.
    Lists lists;
    lists.blockedSenders.Lines = {"promo"};
    std::vector<TMessageEntry> messages(4, Msg("", "x@promo.it", ""));
    int pumps = 0;
    ClassifyMessagesWith(messages, lists.Rules(), false, [&] {
        if (++pumps == 1) {
            lists.blockedSenders.Lines.insert(lists.blockedSenders.Lines.begin(), 50, "aaa");
        } else if (pumps == 2) {
            messages.resize(1);
        }
    });
    EXPECT_EQ(pumps, 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].SpamNote, "<<< Mittente bloccato: promo >>>");
}

class ClassifySettings : public ::testing::Test {
protected:
    void SetUp() override { SetHomeDir(home.Dir()); }
    void TearDown() override { SetHomeDir(""); }
    testing::TempHome home;
    Lists lists;
};

TEST_F(ClassifySettings, StopEmptyMsgComesFromTheSettingsFile) {
    std::vector<TMessageEntry> messages = {Msg("", "", "")};
    ClassifyMessages(messages, lists.Rules());
    EXPECT_FALSE(messages[0].Locked);
    WriteIniBool("Setup", "StopEmptyMsg", true);
    ClassifyMessages(messages, lists.Rules());
    EXPECT_TRUE(messages[0].Locked);
    EXPECT_TRUE(messages[0].Selected);
}

TEST_F(ClassifySettings, BadStopEmptyMsgChangesNoRecord) {
    WriteIniString("Setup", "StopEmptyMsg", "si");
    lists.blockedSenders.Lines = {"promo"};
    std::vector<TMessageEntry> messages = {Msg("", "promo@x", "")};
    messages[0].SpamNote = "before";
    EXPECT_THROW(ClassifyMessages(messages, lists.Rules()), EConvertError);
    EXPECT_EQ(messages[0].SpamNote, "before");
    EXPECT_FALSE(messages[0].Locked);
}

// Random lists and texts over a small alphabet, so that overlaps, repeats and
// prefixes of one line inside another are common: the run must agree with
// MatchesRuleList on every record.
TEST(ClassifyRun, AgreesWithTheLineByLineMatcher) {
    std::mt19937 random(12345);
    std::string alphabet = "abAB.\xE8\xC8 ";  // è È
    auto text = [&](size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) c = alphabet[random() % alphabet.size()];
        return s;
    };
    int plantedHits = 0;
    for (int round = 0; round < 250; ++round) {
        if (round == 200) {  // then every byte value, in long lines
            alphabet.clear();
            for (int c = 0; c < 256; ++c) alphabet += static_cast<char>(c);
        }
        Lists lists;
        for (TRuleList* l : {&lists.blockedSenders, &lists.safeSenders, &lists.blockedSubjects,
                             &lists.safeSubjects})
            for (size_t n = random() % 12; n > 0; --n)
                l->Lines.push_back(text(round < 200 ? 4 : 60));
        std::vector<TMessageEntry> messages;
        for (int i = 0; i < 30; ++i) messages.push_back(Msg("", text(12), text(12)));
        // Long random lines hardly ever meet by chance: plant some, case changed.
        auto plant = [&](const TRuleList& l, std::string& field) {
            if (!l.Lines.empty())
                field = text(20) + LowerCase(l.Lines[random() % l.Lines.size()]) + text(20);
        };
        for (size_t i = 0; round >= 200 && i < messages.size(); i += 3) {
            plant(i % 2 ? lists.safeSenders : lists.blockedSenders, messages[i].FromAddress);
            plant(i % 4 ? lists.blockedSubjects : lists.safeSubjects, messages[i].Subject);
        }
        ClassifyMessagesWith(messages, lists.Rules(), false);
        for (const TMessageEntry& m : messages) {
            std::string line, expected;
            if (MatchesRuleList(m.FromAddress, lists.safeSenders, line))
                expected = "<<< Mittente sicuro: " + line + " >>>";
            else if (MatchesRuleList(m.Subject, lists.safeSubjects, line))
                expected = "<<< Oggetto sicuro: " + line + " >>>";
            else if (MatchesRuleList(m.FromAddress, lists.blockedSenders, line))
                expected = "<<< Mittente bloccato: " + line + " >>>";
            else if (MatchesRuleList(m.Subject, lists.blockedSubjects, line))
                expected = "<<< Oggetto bloccato: " + line + " >>>";
            if (round >= 200 && !expected.empty()) ++plantedHits;
            ASSERT_EQ(m.SpamNote, expected) << "round " << round << " address '" << m.FromAddress
                                            << "' subject '" << m.Subject << "'";
        }
    }
    EXPECT_GT(plantedHits, 300);
}

TEST(ClassifyRun, TenThousandRecordsAgainstFourThousandRulesFindTheLastEntries) {
    std::mt19937 random(7);
    auto word = [&](size_t length) {
        std::string s(length, 'a');
        for (char& c : s) c = static_cast<char>('a' + random() % 26);
        return s;
    };
    Lists lists;
    for (int i = 0; i < 1000; ++i) {
        lists.blockedSenders.Lines.push_back(word(8) + "@" + word(6) + ".com");
        lists.safeSenders.Lines.push_back(word(7) + "." + word(5) + ".it");
        lists.blockedSubjects.Lines.push_back(word(6) + " " + word(7));
        lists.safeSubjects.Lines.push_back("Re: " + word(9));
    }
    std::vector<TMessageEntry> messages;
    for (int i = 0; i < 10000; ++i)
        messages.push_back(Msg("", word(10) + "@" + word(8) + ".example.org",
                               word(8) + " " + word(12) + " " + word(9) + " " + word(6)));
    // A few hits, at the end of their lists so every line is passed first.
    messages[42].FromAddress = "x" + lists.blockedSenders.Lines.back();
    messages[43].Subject = lists.safeSubjects.Lines.back() + "!";

    ClassifyMessagesWith(messages, lists.Rules(), false);
    EXPECT_TRUE(messages[42].Locked);
    EXPECT_TRUE(messages[43].Secured);
    int flagged = 0;
    for (const TMessageEntry& m : messages) flagged += m.Locked || m.Secured;
    EXPECT_EQ(flagged, 2);
}

// Long lines over every byte value make far more states than the matcher
// keeps full rows for: once that room is spent it walks the trie instead,
// and must still agree with the line-by-line matcher.
TEST(ClassifyRun, AgreesOnceTheRoomForRowsIsSpent) {
    std::mt19937 random(99);
    auto text = [&](size_t length) {
        std::string s(length, ' ');
        for (char& c : s) c = static_cast<char>(random() % 256);
        return s;
    };
    Lists lists;
    for (int i = 0; i < 1500; ++i) lists.blockedSubjects.Lines.push_back(text(60));
    std::vector<TMessageEntry> messages;
    for (int i = 0; i < 600; ++i) {
        std::string subject = text(80);
        // Every third one holds a line, case changed, so that deep states are
        // reached and left at every depth.
        if (i % 3 == 0)
            subject = text(30) + LowerCase(lists.blockedSubjects.Lines[random() % 1500]) + text(30);
        messages.push_back(Msg("", "", subject));
    }
    ClassifyMessagesWith(messages, lists.Rules(), false);
    int hits = 0;
    for (const TMessageEntry& m : messages) {
        std::string line;
        const std::string expected = MatchesRuleList(m.Subject, lists.blockedSubjects, line)
                                         ? "<<< Oggetto bloccato: " + line + " >>>"
                                         : "";
        hits += !expected.empty();
        ASSERT_EQ(m.SpamNote, expected);
    }
    EXPECT_GE(hits, 200);
}

// Rules made ready beforehand (as a check does on its worker thread) serve
// only while every list still has the lines they were made from; a list
// changed since, in any of the four, gets the current lines used.
TEST(PreparedRules, ServeOnlyTheListsTheyWereMadeFrom) {
    Lists lists;
    lists.blockedSenders.Lines = {"promo"};
    lists.safeSubjects.Lines = {"fattura"};
    const TPreparedRules prepared(lists.Rules());
    EXPECT_TRUE(prepared.BuiltFrom(lists.Rules()));
    std::vector<TMessageEntry> messages = {Msg("", "promo@x", "offerta"),
                                          Msg("", "ciao@b", "ciao")};
    ClassifyMessages(messages, lists.Rules(), {}, "", &prepared);
    EXPECT_EQ(messages[0].SpamNote, "<<< Mittente bloccato: promo >>>");
    EXPECT_EQ(messages[1].SpamNote, "");

    for (TRuleList* changed : {&lists.blockedSenders, &lists.safeSenders, &lists.blockedSubjects,
                               &lists.safeSubjects}) {
        Lists now = lists;
        TRuleList& list = changed == &lists.blockedSenders   ? now.blockedSenders
                          : changed == &lists.safeSenders    ? now.safeSenders
                          : changed == &lists.blockedSubjects ? now.blockedSubjects
                                                              : now.safeSubjects;
        list.Lines.push_back("ciao");
        EXPECT_FALSE(prepared.BuiltFrom(now.Rules()));
        std::vector<TMessageEntry> again = messages;
        ClassifyMessages(again, now.Rules(), {}, "", &prepared);
        std::vector<TMessageEntry> expected = messages;
        ClassifyMessagesWith(expected, now.Rules(), false);
        EXPECT_EQ(again[1].SpamNote, expected[1].SpamNote);
        EXPECT_NE(again[1].SpamNote, "");
    }
}

}  // namespace
}  // namespace kalmuro
