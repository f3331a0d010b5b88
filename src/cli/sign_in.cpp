#include "sign_in.h"

#include <csignal>
#include <cstdio>

#include "mail/auth/oauth_client.h"
#include "mail/settings.h"
#include "mail/text.h"
#include "secrets/account_secrets.h"

namespace kalmuro {

namespace {

volatile std::sig_atomic_t GInterrupted = 0;

void Print(std::FILE* out, const std::string& text) {
    std::fprintf(out, "%s\n", Cp1252ToUtf8(text).c_str());
    std::fflush(out);
}

}  // namespace

int RunSignIn(int32_t number, const std::string& home) {
    if (!home.empty()) SetHomeDir(home);
    std::signal(SIGINT, [](int) { GInterrupted = 1; });
    try {
        TArrayOfMailAccount accounts;
        LoadAccountsWithSecrets(accounts);
        const TMailAccount* account = nullptr;
        for (const TMailAccount& a : accounts)
            if (a.StoredNumber == number) account = &a;
        if (account == nullptr) {
            Print(stderr, "kalmuro: nessun account con il numero " + std::to_string(number));
            return 1;
        }
        if (!account->IsOAuth()) {
            Print(stderr, "kalmuro: l'account " + account->AccountName + " non usa OAuth 2.0");
            return 1;
        }
        const TOAuthClientConfig config = OAuthClientConfig(*account);
        TOAuthWait wait;
        wait.TimeoutMs = static_cast<int32_t>(
            std::min<int64_t>(StrToInt(ReadIniString(kSectionSetup, "Timeout", "60")), 600) * 1000);
        wait.StopRequested = [] { return GInterrupted != 0; };
        TOAuthTokens tokens;
        if (!config.DeviceUrl.empty()) {
            const TDeviceAuthorization device = StartDeviceAuthorization(config, wait);
            Print(stdout, "Aprire " + device.VerificationUri + " e inserire il codice " +
                              device.UserCode);
            tokens = PollDeviceToken(config, device, wait);
        } else {
            // The address is printed for the user to open: there is always one.
            tokens = *SignInThroughBrowser(
                config,
                [](const std::string& address) {
                    Print(stdout, "Aprire nel browser questo indirizzo:\n" + address);
                    return true;
                },
                wait);
        }
        bool inFile = false;
        StoreOAuthTokensKeepingRefresh(*account, tokens, inFile);
        if (inFile)
            Print(stderr, "kalmuro: il portachiavi del sistema non risponde: il token di rinnovo "
                          "\xE8 salvato nel file delle impostazioni");  // è
        const std::string who = AddressInToken(tokens.AccessToken);
        Print(stdout, "Accesso eseguito come " + (who.empty() ? account->UserId : who));
        return 0;
    } catch (const std::exception& e) {
        Print(stderr, std::string("kalmuro: ") + e.what());
        return 1;
    }
}

}  // namespace kalmuro
