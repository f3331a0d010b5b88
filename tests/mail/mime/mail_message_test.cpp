#include "mail/mime/mail_message.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "mail/errors.h"
#include "mail/mime/mail_date.h"
#include "support/case_name.h"
#include "support/date_at.h"

namespace kalmuro {
namespace {

using testcase::PrintTo;

constexpr double kHour = 1.0 / 24;

using testing::At;

class MailMessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUtcOffsetForTesting([] { return std::optional<int>(60); });
    }
    void TearDown() override { SetUtcOffsetForTesting({}); }

    static void Fill(TMailMessage& message, const std::vector<std::string>& lines) {
        for (const std::string& line : lines) message.HeaderLines.Add(line);
    }
};

TEST_F(MailMessageTest, ReadsARealisticHeader) {
    TMailMessage m;
    Fill(m, {
                "Return-Path: <bounce@lists.example.org>",
                "Received: from mx.example.org (mx.example.org [192.0.2.1])",
                "\tby pop.example.net; Fri, 7 Sep 2001 12:00:05 +0200",
                "From: =?ISO-8859-1?Q?Andr=E9?= Gide <andre@example.org>",
                "To: Ann <ann@example.net>, \"Ray, Bob\" <bob@example.net>",
                "Cc: team: c1@example.net, c2@example.net;",
                "Subject: =?ISO-8859-1?Q?R=E9union?=",
                " =?WINDOWS-1252?B?kw==?=demain",
                "Date: Fri, 7 Sep 2001 12:00:00 +0200",
                "Message-Id: <123@example.org>",
                "Newsgroups: comp.mail, , alt.test ",
                "Organization: Example",
                "Disposition-Notification-To: andre@example.org",
                "Reply-To: list@example.org",
                "Sender: owner@example.org",
                "X-Priority: 3 (Normal)",
                "MIME-Version: 1.0",
                "Content-Type: multipart/alternative; charset=\"iso-8859-1\"; boundary=\"--=_b1\"",
                "Content-Transfer-Encoding: 8bit",
            });
    m.InterpretHeaders();
    EXPECT_EQ(m.Subject,
              "R\xE9union \x93"
              "demain");                      // Réunion “demain
    EXPECT_EQ(m.From.Name, "Andr\xE9 Gide");  // André
    EXPECT_EQ(m.From.Address, "andre@example.org");
    EXPECT_NEAR(m.Date, At(2001, 9, 7, 11), 1e-9);  // 10:00 UTC, shown one hour east
    EXPECT_EQ(m.ContentType, "multipart/alternative; charset=\"iso-8859-1\"; boundary=\"--=_b1\"");
    EXPECT_EQ(m.CharSet, "ISO-8859-1");
    EXPECT_EQ(m.ContentTransferEncoding, "8bit");
    EXPECT_EQ(m.MsgId, "<123@example.org>");
    EXPECT_EQ(m.NewsGroups, (std::vector<std::string>{"comp.mail", "alt.test"}));
    ASSERT_EQ(m.Recipients.size(), 2u);
    EXPECT_EQ(m.Recipients[1].Name, "Ray, Bob");
    ASSERT_EQ(m.CCList.size(), 2u);
    EXPECT_EQ(m.CCList[0].Address, "c1@example.net");
    EXPECT_EQ(m.Organization, "Example");
    EXPECT_EQ(m.ReceiptRecipient.Address, "andre@example.org");
    ASSERT_EQ(m.ReplyTo.size(), 1u);
    EXPECT_EQ(m.Sender.Address, "owner@example.org");
    EXPECT_EQ(m.Priority, "3 (Normal)");
    EXPECT_EQ(m.MIMEBoundary, "--=_b1");
}

TEST_F(MailMessageTest, ContentTypeParametersInAnyCase) {
    TMailMessage m;
    Fill(m, {"Content-Type: text/plain; ChArSeT=utf-8;", "\tBoUnDaRy=\" b;1 \""});
    m.InterpretHeaders();
    EXPECT_EQ(m.ContentType, "text/plain; ChArSeT=utf-8; BoUnDaRy=\" b;1 \"");
    EXPECT_EQ(m.CharSet, "UTF-8");
    EXPECT_EQ(m.MIMEBoundary, "b;1");
}

TEST_F(MailMessageTest, EmptyHeaderGivesTheOffsetAsDate) {
    TMailMessage m;
    m.InterpretHeaders();
    EXPECT_EQ(m.Subject, "");
    EXPECT_EQ(m.From.Address, "");
    EXPECT_NEAR(m.Date, kHour, 1e-9);  // 30/12/1899 01:00, one hour east
}

TEST_F(MailMessageTest, HeaderTextIsTheLinesAsReceived) {
    TMailMessage m;
    Fill(m, {"Subject: a", "\tb", "From: x@y.z"});
    m.InterpretHeaders();
    EXPECT_EQ(m.Subject, "a b");
    EXPECT_EQ(m.HeaderLines.Text(), "Subject: a\r\n\tb\r\nFrom: x@y.z\r\n");
}

TEST_F(MailMessageTest, ReceiptFallsBackToReturnReceiptTo) {
    TMailMessage m;
    Fill(m, {"Disposition-Notification-To:  ", "Return-Receipt-To: r@x.y"});
    m.InterpretHeaders();
    EXPECT_EQ(m.ReceiptRecipient.Address, "r@x.y");
}

TEST_F(MailMessageTest, PriorityPrefersPriorityHeader) {
    TMailMessage m;
    Fill(m, {"X-Priority: 1", "Priority: urgent"});
    m.InterpretHeaders();
    EXPECT_EQ(m.Priority, "urgent");
}

// An error ends the interpretation at its header: earlier members are set,
// later ones keep what they held.
struct FailureRow {
    const char* name;
    const char* extra;               // a line before the common ones, or none
    bool zoneless;                   // the machine cannot tell its offset
    const char* message;
    bool subjectSet, fromSet, dateSet;
    const char* senderAddress;  // "a@b.c" when Sender itself failed part-way
};

class InterpretFailureTest : public MailMessageTest,
                             public ::testing::WithParamInterface<FailureRow> {};

TEST_P(InterpretFailureTest, StopsAtTheFailingHeader) {
    const FailureRow& row = GetParam();
    if (row.zoneless) SetUtcOffsetForTesting([] { return std::optional<int>(); });
    TMailMessage m;
    m.Subject = "old subject";
    m.From.Address = "old@x.y";
    m.Date = 5;
    m.Sender.Address = "old sender";
    m.Priority = "old priority";
    // The failing line comes first so that it wins over the good one below.
    if (row.extra != nullptr) m.HeaderLines.Add(row.extra);
    Fill(m, {"Subject: =?ISO-8859-1?Q?ok=21?=", "From: Ann <ann@x.y>",
             "Date: 7 Sep 2001 12:00 +0000", "Sender: s@x.y", "To: t@x.y", "Cc: c@x.y",
             "Reply-To: r@x.y", "Return-Receipt-To: rr@x.y", "X-Priority: 1"});
    try {
        m.InterpretHeaders();
        FAIL() << "no error";
    } catch (const EError& e) {
        EXPECT_STREQ(e.what(), row.message);
    }
    EXPECT_EQ(m.Subject, row.subjectSet ? "ok!" : "old subject");
    if (row.fromSet) {
        EXPECT_EQ(m.From.Name, "Ann");
        EXPECT_EQ(m.From.Address, "ann@x.y");
    }
    if (!row.subjectSet) {
        EXPECT_EQ(m.From.Address, "old@x.y");
    }
    EXPECT_NEAR(m.Date, row.dateSet ? At(2001, 9, 7, 13) : 5.0, 1e-9);
    EXPECT_EQ(m.Sender.Address, row.senderAddress);
    EXPECT_EQ(m.Priority, "old priority");
}

const FailureRow kFailureRows[] = {
    {"bad_escape_in_subject", "Subject: =?ISO-8859-1?Q?=G1?=", false,
     "'$G1' is not a valid integer value", false, false, false, "old sender"},
    {"bad_escape_in_from", "From: =?WINDOWS-1252?Q?=XY?= <a@b.c>", false,
     "'$XY' is not a valid integer value", true, false, false, "old sender"},
    {"address_after_angle_in_from", "From: <a@b.c> d@e.f", false, "@ Outside address", true, false,
     false, "old sender"},
    {"bad_escape_in_to", "To: =?ISO-8859-1?Q?=  ?= <t@x.y>", false,
     "'$  ' is not a valid integer value", true, true, false, "old sender"},
    {"address_after_angle_in_to", "To: <a@b.c> d@e.f", false, "@ Outside address", true, true,
     false, "old sender"},
    {"address_after_angle_in_cc", "Cc: x@y.z, <a@b.c> d@e.f", false, "@ Outside address", true,
     true, false, "old sender"},
    {"bad_escape_in_cc", "Cc: =?ISO-8859-1?Q?=Q1?=", false, "'$Q1' is not a valid integer value",
     true, true, false, "old sender"},
    {"address_after_angle_in_receipt", "Disposition-Notification-To: <a@b.c> d@e.f", false,
     "@ Outside address", true, true, false, "old sender"},
    {"address_after_angle_in_return_receipt", "Return-Receipt-To: <a@b.c> d@e.f", false,
     "@ Outside address", true, true, false, "old sender"},
    {"address_after_angle_in_reply_to", "Reply-To: <a@b.c> d@e.f", false, "@ Outside address", true,
     true, false, "old sender"},
    {"no_time_zone_information", nullptr, true,
     "Failed attempting to retrieve time zone information.", true, true, false, "old sender"},
    {"address_after_angle_in_sender", "Sender: <a@b.c> d@e.f", false, "@ Outside address", true,
     true, true, "a@b.c"},
};

INSTANTIATE_TEST_SUITE_P(Rows, InterpretFailureTest, ::testing::ValuesIn(kFailureRows),
                         testcase::RowName);

TEST_F(MailMessageTest, FromKeepsWhatItGatheredBeforeItsError) {
    TMailMessage m;
    Fill(m, {"From: Bob <b@x.y> c@z", "Subject: s"});
    EXPECT_THROW(m.InterpretHeaders(), EEmailParseError);
    EXPECT_EQ(m.From.Name, "Bob");
    EXPECT_EQ(m.From.Address, "b@x.y");
    EXPECT_EQ(m.Subject, "s");
}

TEST_F(MailMessageTest, ReplyToAndSenderAreNotDecoded) {
    TMailMessage m;
    Fill(m, {"Reply-To: =?ISO-8859-1?Q?=ZZ?= <r@x.y>", "Sender: =?ISO-8859-1?Q?=ZZ?= <s@x.y>",
             "Disposition-Notification-To: =?ISO-8859-1?Q?=ZZ?= <d@x.y>"});
    EXPECT_NO_THROW(m.InterpretHeaders());
    ASSERT_EQ(m.ReplyTo.size(), 1u);
    EXPECT_EQ(m.ReplyTo[0].Address, "r@x.y");
    EXPECT_EQ(m.Sender.Name, "=?ISO-8859-1?Q?=ZZ?=");
}

TEST_F(MailMessageTest, OtherCharsetStaysEncodedInSubject) {
    TMailMessage m;
    Fill(m, {"SUBJECT: =?UTF-8?Q?Caf=C3=A9?=", "from: one two"});
    m.InterpretHeaders();
    EXPECT_EQ(m.Subject, "=?UTF-8?Q?Caf=C3=A9?=");
    EXPECT_EQ(m.From.Name, "one ");
    EXPECT_EQ(m.From.Address, "");
}

}  // namespace
}  // namespace kalmuro
