// What the keyring tests share: the private keyring's items as secret-tool
// shows them to any other program of the desktop, a store that counts the
// requests and fails the one asked for, and accounts saved with the keyring
// on.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/engine_harness.h"
#include "mail/text.h"
#include "secrets/account_secrets.h"

namespace kalmuro::keyringtest {

using enginetest::Account;
using enginetest::ReadFile;

// One item; texts in UTF-8 as the service holds them.
struct TItem {
    std::string Label, Secret;
    std::map<std::string, std::string> Attributes;
    // Items of one account share a label: their kind orders them, whatever
    // order the service lists them in.
    bool operator<(const TItem& o) const {
        return std::tie(Label, Attributes, Secret) < std::tie(o.Label, o.Attributes, o.Secret);
    }
    bool operator==(const TItem& o) const {
        return Label == o.Label && Secret == o.Secret && Attributes == o.Attributes;
    }
};

inline std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

inline void PrintTo(const TItem& item, std::ostream* out) {
    *out << "{" << item.Label << ", " << item.Secret;
    for (const auto& [name, value] : item.Attributes) *out << ", " << name << "=" << value;
    *out << "}";
}

// Every item with application=kalmuro, sorted by label.
inline std::vector<TItem> Items() {
    std::vector<TItem> items;
    // The attributes come on stderr.
    const std::string out = Shell("secret-tool search --all application kalmuro 2>&1");
    for (size_t start = 0, end; start < out.size(); start = end + 1) {
        end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(start, end - start);
        if (line.rfind("[/", 0) == 0) items.emplace_back();
        const size_t eq = line.find(" = ");
        if (items.empty() || eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq), value = line.substr(eq + 3);
        if (name == "label") items.back().Label = value;
        if (name == "secret") items.back().Secret = value;
        if (name.rfind("attribute.", 0) == 0) items.back().Attributes[name.substr(10)] = value;
    }
    std::sort(items.begin(), items.end());
    return items;
}

// The item the save should leave for an account with this password.
inline TItem ItemOf(const TMailAccount& a, const std::string& password) {
    return {"Kalmuro: " + Cp1252ToUtf8(a.AccountName),
            Cp1252ToUtf8(password),
            {{"application", "kalmuro"},
             {"server", a.PopServer},
             {"port", a.Port},
             {"user", a.UserId},
             {"kind", "password"}}};
}

inline void ClearKeyring() { Shell("secret-tool clear application kalmuro 2>/dev/null"); }

inline void LockKeyring() {
    Shell(
        "dbus-send --session --dest=org.freedesktop.secrets --print-reply "
        "/org/freedesktop/secrets org.freedesktop.Secret.Service.Lock "
        "array:objpath:/org/freedesktop/secrets/collection/login >/dev/null 2>&1");
}

// The desktop's keyring with every request counted; the request numbered
// FailAt (from 1) of the kind FailKind raises instead.
class TCountingStore : public TSecretStore {
public:
    enum TKind { Lookups, Stores, Removes, Any };
    int Count[3] = {0, 0, 0};
    TKind FailKind = Any;
    int FailAt = 0;

    TCountingStore() : FPrevious(ReplaceSecretStoreForTesting(this)) {}
    ~TCountingStore() override { ReplaceSecretStoreForTesting(FPrevious); }

    std::optional<std::string> Lookup(const TSecretAttributes& a) override {
        Next(Lookups);
        return DesktopKeyring().Lookup(a);
    }
    void Store(const TSecretAttributes& a, const std::string& label,
               const std::string& secret) override {
        Next(Stores);
        DesktopKeyring().Store(a, label, secret);
    }
    void Remove(const TSecretAttributes& a) override {
        Next(Removes);
        DesktopKeyring().Remove(a);
    }
    void Probe() override { DesktopKeyring().Probe(); }
    int Total() const { return Count[0] + Count[1] + Count[2]; }

private:
    void Next(TKind kind) {
        ++Count[kind];
        if (FailAt > 0 && (FailKind == Any ? Total() == FailAt
                                           : FailKind == kind && Count[kind] == FailAt))
            throw ESecretError("injected failure");
    }
    TSecretStore* FPrevious;
};

// A fresh home folder and an empty keyring for every test.
class KeyringTest : public ::testing::Test {
protected:
    enginetest::TTempHome Home;
    void SetUp() override { ClearKeyring(); }

    // The accounts saved in the file, then moved into the keyring.
    static void SaveInKeyring(const TArrayOfMailAccount& accounts) {
        SaveAccounts(accounts);
        TArrayOfMailAccount loaded;
        LoadAccountsWithSecrets(loaded);
        SaveAccountsWithSecrets(loaded, loaded, true);
    }
    static TArrayOfMailAccount Loaded() {
        TArrayOfMailAccount accounts;
        LoadAccountsWithSecrets(accounts);
        return accounts;
    }
};

}  // namespace kalmuro::keyringtest
