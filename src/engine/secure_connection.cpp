// What the user is told when a secure connection fails, and the acceptance
// of a certificate that cannot be verified.
#include <string>

#include "engine/form_main.h"
#include "mail/accounts.h"
#include "mail/settings.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

// The end of "Il certificato del server <host> ...".
std::string ProblemText(const ECertificateError& e) {
    switch (e.Problem) {
        case TCertificateProblem::SelfSigned:
            return "\xE8 autofirmato";  // è
        case TCertificateProblem::UnknownAuthority:
            return "\xE8 rilasciato da un'autorit\xE0 sconosciuta";  // è, autorità
        case TCertificateProblem::NameMismatch:
            return "\xE8 intestato a un altro server";  // è
        case TCertificateProblem::Expired:
            return "\xE8 scaduto";  // è
        case TCertificateProblem::NotYetValid:
            return "non \xE8 ancora valido";  // è
        case TCertificateProblem::Other:
            break;
    }
    return "non \xE8 valido (" + e.Detail + ")";  // è
}

}  // namespace

bool TFormMain::ReportTlsFailure(int32_t accountIndex, const ETlsError& error,
                                 const std::string& host, const TServerReply& reply,
                                 std::string& fingerprint) {
    if (dynamic_cast<const EStlsRefused*>(&error) != nullptr) {
        std::string text = "Il server " + host + " non consente la connessione sicura (STARTTLS):";
        for (const std::string& line : reply.Text) text += "\\n" + Trim(line);
        ShowError(text);
        return false;
    }
    const auto* certificate = dynamic_cast<const ECertificateError*>(&error);
    if (certificate == nullptr) {
        // A handshake the user stopped needs no word.
        if (!StopPressed())
            ShowError("Connessione sicura con il server " + host + " non riuscita:\\n" +
                      error.what());
        return false;
    }
    const size_t index = static_cast<size_t>(accountIndex);
    if (index >= Accounts.size()) return false;
    TMailAccount account = Accounts[index];
    if (account.StoredNumber <= 0) account.StoredNumber = accountIndex + 1;
    const std::string key = kKeyFingerprint + IntToStr(account.StoredNumber);
    std::string text = "Il certificato del server " + host + " " + ProblemText(*certificate) +
                       ".\\nImpronta SHA-256: " + certificate->Fingerprint;
    if (!AskToAcceptCertificates) {
        ShowError(text + "\\nPer accettarlo comunque, scrivere " + key + "=" +
                  certificate->Fingerprint + " nella sezione [" + kSectionAccounts + "] di " +
                  IniFileName());
        return false;
    }
    text += "\\n\\nAccettare comunque questo certificato per l'account " + account.AccountName +
            " ?";
    if (ShowMsgBox(text, kTitleError, mbYesNo, miWarning, 2) != mrYes) return false;
    account.Fingerprint = certificate->Fingerprint;
    try {
        StoreAcceptedFingerprint(account);
    } catch (const std::exception& e) {
        ShowError(e.what());
        return false;
    }
    // Handlers run in every pump: the list may have changed meanwhile.
    if (index < Accounts.size() && Accounts[index].PopServer == account.PopServer)
        Accounts[index].Fingerprint = account.Fingerprint;
    fingerprint = account.Fingerprint;
    return true;
}

}  // namespace kalmuro
