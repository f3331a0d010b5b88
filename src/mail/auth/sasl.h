// SASL for OAuth 2.0 bearer tokens: the initial responses of XOAUTH2 and
// OAUTHBEARER, which of them a server's capabilities call for, and the JSON
// error a server sends when it refuses a token. No Qt, no I/O.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalmuro {

std::string Base64Encode(std::string_view bytes);
// Standard alphabet, padding optional, blanks and line ends ignored; nothing
// for any other character or a length no encoder gives.
std::optional<std::string> Base64Decode(std::string_view text);

enum class TSaslMechanism { XOAuth2, OAuthBearer };

// "user=<user>^Aauth=Bearer <token>^A^A".
std::string XOAuth2Response(const std::string& user, const std::string& token);
// RFC 7628: "n,a=<user>,^Ahost=<host>^Aport=<port>^Aauth=Bearer <token>^A^A",
// with "," and "=" of the user name escaped as the GS2 header wants.
std::string OAuthBearerResponse(const std::string& user, const std::string& token,
                                const std::string& host, int port);

// The mechanisms of a CAPA "SASL" line, or nothing when CAPA had none (or
// was refused). XOAUTH2 when listed, or when no line says otherwise (the
// server then answers for itself); OAUTHBEARER when only it is listed;
// nothing when the line lists neither.
std::optional<TSaslMechanism> ChooseOAuthMechanism(
    const std::optional<std::vector<std::string>>& saslLine);

// What a refusing server says in its JSON (untrusted): "status" and, when
// present, "scope" and "schemes"; Valid is false for text that is no JSON
// object.
struct TSaslOAuthError {
    bool Valid = false;
    std::string Status, Scope, Schemes;
};
TSaslOAuthError ParseSaslOAuthError(std::string_view json);

}  // namespace kalmuro
