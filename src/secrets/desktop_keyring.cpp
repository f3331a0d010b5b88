// The desktop's keyring through libsecret. The library is opened at the
// first request, not linked: a program that keeps its passwords in the
// settings file never loads it, nor GLib's D-Bus code that comes with it.
#include <dlfcn.h>
#include <libsecret/secret.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "mail/text.h"
#include "secrets/secret_store.h"

namespace kalmuro {

namespace {

// The few entry points used, looked up in the library once.
struct TLibSecret {
    decltype(&secret_password_lookup_sync) Lookup = nullptr;
    decltype(&secret_password_store_sync) Store = nullptr;
    decltype(&secret_password_clear_sync) Clear = nullptr;
    decltype(&secret_password_free) Free = nullptr;
    decltype(&g_error_free) ErrorFree = nullptr;
    std::string Problem;  // why it could not be used; empty when it can
};

template <typename F>
bool Resolve(void* handle, const char* name, F& function) {
    function = reinterpret_cast<F>(dlsym(handle, name));
    return function != nullptr;
}

const TLibSecret& LibSecret() {
    static const TLibSecret library = [] {
        TLibSecret lib;
        // Never closed again: GLib cannot be unloaded once its types exist.
        void* handle = dlopen(KALMURO_LIBSECRET_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = dlerror();
            lib.Problem = why != nullptr ? why : KALMURO_LIBSECRET_SONAME;
            return lib;
        }
        if (!Resolve(handle, "secret_password_lookup_sync", lib.Lookup) ||
            !Resolve(handle, "secret_password_store_sync", lib.Store) ||
            !Resolve(handle, "secret_password_clear_sync", lib.Clear) ||
            !Resolve(handle, "secret_password_free", lib.Free) ||
            !Resolve(handle, "g_error_free", lib.ErrorFree))
            lib.Problem =
                std::string(KALMURO_LIBSECRET_SONAME) + " lacks a function it should have";
        return lib;
    }();
    if (!library.Problem.empty()) throw ESecretError(library.Problem);
    return library;
}

// Items are matched by their attributes alone, not by the schema's name, so
// that one written by hand with secret-tool and the same attributes is found.
const SecretSchema* Schema() {
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "org.kalmuro.Secret";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        const char* names[] = {"application", "server", "port", "user", "kind"};
        for (size_t i = 0; i < std::size(names); ++i)
            s.attributes[i] = {names[i], SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

// The attribute values as the service wants them: UTF-8.
struct TWireAttributes {
    std::string Server, Port, User, Kind;
    explicit TWireAttributes(const TSecretAttributes& a)
        : Server(Cp1252ToUtf8(a.Server)),
          Port(Cp1252ToUtf8(a.Port)),
          User(Cp1252ToUtf8(a.User)),
          Kind(Cp1252ToUtf8(a.Kind)) {}
};

// Raises the error a call left, freeing it first.
void ThrowIfError(const TLibSecret& lib, GError* error, const char* fallback) {
    if (error == nullptr) return;
    std::string text = error->message != nullptr ? Utf8ToCp1252(error->message) : fallback;
    lib.ErrorFree(error);
    throw ESecretError(text);
}

class TDesktopKeyring : public TSecretStore {
public:
    std::optional<std::string> Lookup(const TSecretAttributes& attributes) override {
        const TLibSecret& lib = LibSecret();
        const TWireAttributes a(attributes);
        GError* error = nullptr;
        gchar* secret = lib.Lookup(Schema(), nullptr, &error, "application", kSecretApplication,
                                   "server", a.Server.c_str(), "port", a.Port.c_str(), "user",
                                   a.User.c_str(), "kind", a.Kind.c_str(), nullptr);
        if (error != nullptr) {
            if (secret != nullptr) lib.Free(secret);
            ThrowIfError(lib, error, "the keyring could not be read");
        }
        if (secret == nullptr) return std::nullopt;
        std::string text = Utf8ToCp1252(secret);
        lib.Free(secret);  // wipes the copy it made
        return text;
    }

    void Store(const TSecretAttributes& attributes, const std::string& label,
               const std::string& secret) override {
        const TLibSecret& lib = LibSecret();
        const TWireAttributes a(attributes);
        const std::string wireLabel = Cp1252ToUtf8(label);
        std::string wireSecret = Cp1252ToUtf8(secret);
        GError* error = nullptr;
        const gboolean stored = lib.Store(
            Schema(), SECRET_COLLECTION_DEFAULT, wireLabel.c_str(), wireSecret.c_str(), nullptr,
            &error, "application", kSecretApplication, "server", a.Server.c_str(), "port",
            a.Port.c_str(), "user", a.User.c_str(), "kind", a.Kind.c_str(), nullptr);
        std::fill(wireSecret.begin(), wireSecret.end(), '\0');
        ThrowIfError(lib, error, "the keyring refused the password");
        if (!stored) throw ESecretError("the keyring refused the password");
    }

    void Remove(const TSecretAttributes& attributes) override {
        const TLibSecret& lib = LibSecret();
        const TWireAttributes a(attributes);
        GError* error = nullptr;
        // False without an error just means there was nothing to remove.
        lib.Clear(Schema(), nullptr, &error, "application", kSecretApplication, "server",
                  a.Server.c_str(), "port", a.Port.c_str(), "user", a.User.c_str(), "kind",
                  a.Kind.c_str(), nullptr);
        ThrowIfError(lib, error, "the keyring refused to remove the password");
    }

    void Probe() override {
        const TLibSecret& lib = LibSecret();
        GError* error = nullptr;
        // A kind no item has: the answer is "none", or why there is no answer.
        gchar* secret = lib.Lookup(Schema(), nullptr, &error, "application", kSecretApplication,
                                   "kind", "probe", nullptr);
        if (secret != nullptr) lib.Free(secret);
        ThrowIfError(lib, error, "the keyring cannot be reached");
    }
};

TSecretStore*& StoreInUse() {
    static TSecretStore* store = nullptr;
    return store;
}

}  // namespace

TSecretStore& DesktopKeyring() {
    static TDesktopKeyring keyring;
    return keyring;
}

TSecretStore& SecretStore() {
    TSecretStore* store = StoreInUse();
    return store != nullptr ? *store : DesktopKeyring();
}

TSecretStore* ReplaceSecretStoreForTesting(TSecretStore* store) {
    TSecretStore* previous = &SecretStore();
    StoreInUse() = store;
    return previous;
}

}  // namespace kalmuro
