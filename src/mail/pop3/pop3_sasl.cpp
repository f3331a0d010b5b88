// The OAuth 2.0 login of a POP3 session: AUTH with a bearer token, in the
// two-line form (the command, the server's "+", then the answer), which every
// provider takes; the one-line form with an initial response is refused by
// some of them.
#include <algorithm>

#include "mail/auth/sasl.h"
#include "mail/pop3/pop3_client.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

// The reply codes of POP3's +OK and -ERR, as ReadResponse gives them.
constexpr int32_t OkCode = 1;
constexpr int32_t ErrCode = 2;

std::string RefusedText(const std::string& status, const std::string& serverText) {
    std::string text = "Accesso OAuth rifiutato dal server";
    if (!status.empty()) text += " (" + status + ")";
    if (!serverText.empty()) text += ": " + serverText;
    return text;
}

bool StartsWith(const std::string& line, std::string_view prefix) {
    return line.size() >= prefix.size() && SameText(std::string_view(line).substr(0, prefix.size()), prefix);
}

// A "+" continuation, as opposed to "+OK".
bool IsContinuation(const std::string& line) {
    return !line.empty() && line[0] == '+' && (line.size() == 1 || line[1] == ' ');
}

}  // namespace

EOAuthRefused::EOAuthRefused(const std::string& status, const std::string& serverText,
                             bool tokenRefused)
    : EMailError(RefusedText(status, serverText)), TokenRefused(tokenRefused) {}

ENoOAuthMechanism::ENoOAuthMechanism()
    // né ... né
    : EMailError("Il server non offre l'accesso OAuth 2.0: n\xE9 XOAUTH2 n\xE9 OAUTHBEARER "
                 "tra i suoi metodi SASL") {}

void TPop3Client::AuthenticateOAuth() {
    const std::optional<TSaslMechanism> mechanism = ChooseOAuthMechanism(QuerySaslMechanisms());
    if (!mechanism) throw ENoOAuthMechanism();
    const bool xoauth2 = *mechanism == TSaslMechanism::XOAuth2;
    // The server's lines are read raw: a continuation is no POP3 status.
    auto readLine = [this] {
        std::string line;
        do line = Trim(ReadLine());
        while (line.empty());
        return line;
    };
    auto serverWords = [](const std::string& line) {
        const size_t blank = line.find(' ');
        return blank == std::string::npos ? std::string() : Trim(line.substr(blank + 1));
    };
    auto refusal = [&](const std::string& line) {
        LastReply.NumericCode = ErrCode;
        LastReply.TextCode = std::to_string(ErrCode);
        LastReply.Text = {serverWords(line)};
    };

    SendLine(xoauth2 ? "AUTH XOAUTH2" : "AUTH OAUTHBEARER");
    std::string line = readLine();
    if (!IsContinuation(line)) {
        refusal(line);
        // The server does not take the mechanism at all: no token was sent.
        throw EOAuthRefused("", serverWords(line), false);
    }
    const int port = Port;
    SendLine(Base64Encode(xoauth2 ? XOAuth2Response(Username, AccessToken)
                                  : OAuthBearerResponse(Username, AccessToken, Host, port)));
    line = readLine();
    if (StartsWith(line, "+OK")) {
        LastReply.NumericCode = OkCode;
        LastReply.TextCode = std::to_string(OkCode);
        LastReply.Text = {serverWords(line)};
        return;
    }
    std::string status;
    if (IsContinuation(line)) {
        // The error in JSON: untrusted, read for its status alone. The
        // exchange must still be ended, by an empty answer.
        const std::optional<std::string> json = Base64Decode(serverWords(line));
        if (json) status = ParseSaslOAuthError(*json).Status;
        SendLine("");
        line = readLine();
    }
    refusal(line);
    throw EOAuthRefused(status, serverWords(line), true);
}

}  // namespace kalmuro
