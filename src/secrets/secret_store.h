// Secrets kept outside the settings file. Every caller goes through
// SecretStore(): the desktop's keyring (the freedesktop Secret Service), or
// what a test put in its place.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace kalmuro {

inline constexpr const char* kSecretApplication = "kalmuro";
inline constexpr const char* kSecretKindPassword = "password";
inline constexpr const char* kSecretKindRefreshToken = "refresh_token";
inline constexpr const char* kSecretKindAccessToken = "access_token";

// What finds one secret: the account's server, port and user, never its
// number or its name, which the settings dialog may change, and the kind of
// secret (a password, or a token of its own kind). Windows-1252 texts.
struct TSecretAttributes {
    std::string Server, Port, User;
    std::string Kind = kSecretKindPassword;
    bool operator==(const TSecretAttributes&) const = default;
};

// The keyring could not be reached, or refused or failed a request.
// what() is the service's own (English) text.
class ESecretError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TSecretStore {
public:
    virtual ~TSecretStore() = default;
    // The secret of the item with these attributes, nothing when there is
    // none. A locked keyring is unlocked by the desktop's own prompt.
    virtual std::optional<std::string> Lookup(const TSecretAttributes& attributes) = 0;
    // Creates the item, or replaces the secret and label of the one there.
    virtual void Store(const TSecretAttributes& attributes, const std::string& label,
                       const std::string& secret) = 0;
    // Removes the items with these attributes; none is no error.
    virtual void Remove(const TSecretAttributes& attributes) = 0;
    // Raises ESecretError when the store cannot be reached at all.
    virtual void Probe() = 0;
};

// The desktop's keyring. Nothing is loaded until its first request.
TSecretStore& DesktopKeyring();
// The store in use.
TSecretStore& SecretStore();
// Test seam: puts store in place of the desktop's keyring (nullptr: back to
// it) and returns the one that was in use.
TSecretStore* ReplaceSecretStoreForTesting(TSecretStore* store);

}  // namespace kalmuro
