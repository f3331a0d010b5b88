#include "mail/auth/sasl.h"

#include <nlohmann/json.hpp>

#include "mail/text.h"

namespace kalmuro {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string Gs2Escaped(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == ',')
            out += "=2C";
        else if (c == '=')
            out += "=3D";
        else
            out += c;
    }
    return out;
}

// A JSON member as text: strings as they are, anything else as JSON.
std::string MemberText(const nlohmann::json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || it->is_null()) return {};
    return it->is_string() ? it->get<std::string>() : it->dump();
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    std::string out;
    unsigned bits = 0;
    int count = 0, padding = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int v = Base64Value(c);
        if (v < 0 || padding > 0) return std::nullopt;  // nothing may follow padding
        bits = bits << 6 | static_cast<unsigned>(v);
        if (++count == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>((bits >> 8) & 0xFF);
            out += static_cast<char>(bits & 0xFF);
            bits = 0;
            count = 0;
        }
    }
    if (count == 1 || padding > 2 || (padding > 0 && count + padding != 4)) return std::nullopt;
    if (count == 2) out += static_cast<char>(bits >> 4);
    if (count == 3) {
        out += static_cast<char>(bits >> 10);
        out += static_cast<char>((bits >> 2) & 0xFF);
    }
    return out;
}

std::string XOAuth2Response(const std::string& user, const std::string& token) {
    return "user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01";
}

std::string OAuthBearerResponse(const std::string& user, const std::string& token,
                                const std::string& host, int port) {
    return "n,a=" + Gs2Escaped(user) + ",\x01" "host=" + host + "\x01" "port=" +
           std::to_string(port) + "\x01" "auth=Bearer " + token + "\x01\x01";
}

std::optional<TSaslMechanism> ChooseOAuthMechanism(
    const std::optional<std::vector<std::string>>& saslLine) {
    if (!saslLine) return TSaslMechanism::XOAuth2;
    bool bearer = false;
    for (const std::string& name : *saslLine) {
        if (SameText(name, "XOAUTH2")) return TSaslMechanism::XOAuth2;
        if (SameText(name, "OAUTHBEARER")) bearer = true;
    }
    if (bearer) return TSaslMechanism::OAuthBearer;
    return std::nullopt;
}

TSaslOAuthError ParseSaslOAuthError(std::string_view json) {
    TSaslOAuthError error;
    const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return error;
    error.Valid = true;
    error.Status = MemberText(parsed, "status");
    error.Scope = MemberText(parsed, "scope");
    error.Schemes = MemberText(parsed, "schemes");
    return error;
}

}  // namespace kalmuro
