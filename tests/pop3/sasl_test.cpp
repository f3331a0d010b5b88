// The pieces of an OAuth login that need no server: base64 both ways, the
// two mechanisms' answers, the choice between them, and the JSON error.
#include "mail/auth/sasl.h"

#include <gtest/gtest.h>

namespace kalmuro {
namespace {

TEST(Base64, RoundTripsEveryLengthAndRefusesWhatNoEncoderWrites) {
    std::string bytes;
    for (int n = 0; n < 40; ++n) {
        EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes) << n;
        bytes += static_cast<char>(n * 37 + 200);
    }
    EXPECT_EQ(Base64Encode("any carnal pleas"), "YW55IGNhcm5hbCBwbGVhcw==");
    EXPECT_EQ(Base64Decode("YW55IGNhcm5hbCBwbGVhcw"), "any carnal pleas");  // padding optional
    EXPECT_EQ(Base64Decode("YW55\r\n IGNh"), "any ca");
    for (const char* bad : {"Y", "YW55I", "YW=5", "YW55*", "YQ===", "YQ=x"})
        EXPECT_EQ(Base64Decode(bad), std::nullopt) << bad;
}

TEST(SaslResponses, HaveTheirExactForms) {
    EXPECT_EQ(XOAuth2Response("a@b.it", "tok"), std::string("user=a@b.it\x01" "auth=Bearer tok\x01\x01"));
    EXPECT_EQ(OAuthBearerResponse("x,y=z@b.it", "tok", "pop.b.it", 995),
              std::string("n,a=x=2Cy=3Dz@b.it,\x01" "host=pop.b.it\x01" "port=995\x01"
                          "auth=Bearer tok\x01\x01"));
}

TEST(SaslChoice, FollowsTheCapaLine) {
    using V = std::vector<std::string>;
    struct TCase {
        std::optional<V> Line;
        std::optional<TSaslMechanism> Chosen;
    };
    const TCase cases[] = {
        {std::nullopt, TSaslMechanism::XOAuth2},  // no SASL line: try it
        {V{"PLAIN", "xoauth2"}, TSaslMechanism::XOAuth2},
        {V{"OAUTHBEARER", "XOAUTH2"}, TSaslMechanism::XOAuth2},
        {V{"PLAIN", "OAUTHBEARER"}, TSaslMechanism::OAuthBearer},
        {V{"PLAIN", "LOGIN"}, std::nullopt},
        {V{}, std::nullopt},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ChooseOAuthMechanism(cases[i].Line), cases[i].Chosen) << i;
}

TEST(SaslError, ReadsTheStatusOfWhateverJsonArrives) {
    TSaslOAuthError e = ParseSaslOAuthError(
        R"({"status":"401","schemes":"bearer","scope":"https://mail.google.com/"})");
    EXPECT_TRUE(e.Valid);
    EXPECT_EQ(e.Status, "401");
    EXPECT_EQ(e.Schemes, "bearer");
    EXPECT_EQ(ParseSaslOAuthError(R"({"status":"invalid_token"})").Status, "invalid_token");
    EXPECT_EQ(ParseSaslOAuthError(R"({"status":400})").Status, "400");
    for (const char* bad : {"", "not json", "[1,2]", "{\"status\":", "\"401\""})
        EXPECT_FALSE(ParseSaslOAuthError(bad).Valid) << bad;
}

}  // namespace
}  // namespace kalmuro
