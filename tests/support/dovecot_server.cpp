#include "support/dovecot_server.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "support/scripted_server.h"
#include "support/temp_home.h"

namespace kalmuro::test {

namespace {

// Quotes one word for /bin/sh.
std::string Quote(const std::string& s) {
    std::string r = "'";
    for (char c : s) {
        if (c == '\'')
            r += "'\\''";
        else
            r += c;
    }
    return r + "'";
}

using testing::ReadFile;

// The directory of the project's scripts (scripts/dovecot).
std::string DovecotScriptDir() { return std::string(KALMURO_SOURCE_DIR) + "/scripts/dovecot"; }

std::string Tail(const std::string& text, size_t lines) {
    size_t pos = text.size();
    while (lines > 0 && pos > 0) {
        pos = text.rfind('\n', pos - 1);
        if (pos == std::string::npos) return text;
        --lines;
    }
    return text.substr(pos);
}

// Undoes the manifest's escapes: \t \n \\ (and \N alone means none).
std::string Unescape(const std::string& field) {
    std::string r;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 1 < field.size()) {
            const char c = field[++i];
            r += c == 't' ? '\t' : c == 'n' ? '\n' : c;
        } else {
            r += field[i];
        }
    }
    return r;
}

}  // namespace

TDovecotServer::TDovecotServer() {
    // Short, under /tmp: Unix socket paths are limited and every parent
    // directory must be searchable by the server's users.
    char name[] = "/tmp/kq.XXXXXX";
    if (mkdtemp(name) == nullptr) throw std::runtime_error("TDovecotServer: mkdtemp failed");
    FDir = name;
    chmod(FDir.c_str(), 0711);
    FPort = RefusedPort();  // nothing listens there: free a moment ago
}

TDovecotServer::~TDovecotServer() {
    if (FRunning) {
        // Fresh dir and port each time: no need to wait, the script removes
        // the dir once the server has gone.
        Run("NO_WAIT=1 CLEANUP=1 " + Quote(DovecotScriptDir() + "/stop_server.sh") + " " +
            Quote(FDir));
        FRunning = false;
    } else {
        Run("rm -rf " + Quote(FDir));
    }
}

bool TDovecotServer::Run(const std::string& command) {
    std::string output;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) {
        FError += "cannot run: " + command + "\n";
        return false;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
    const int status = pclose(p);
    if (status == 0) return true;
    FError += "command failed (" + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
              "): " + command + "\n" + output + "\n";
    return false;
}

bool TDovecotServer::AddUser(const std::string& user, const std::string& password) {
    return Run(Quote(DovecotScriptDir() + "/add_user.sh") + " " + Quote(FDir) + " " + Quote(user) +
               " " + Quote(password));
}

bool TDovecotServer::GenerateMail(const std::string& user, int32_t n, int32_t seed) {
    return Run("python3 " + Quote(DovecotScriptDir() + "/gen_maildir.py") + " " +
               Quote(Maildir(user)) + " " + std::to_string(n) + " --seed " + std::to_string(seed) +
               " --tsv " + Quote(FDir + "/" + user + ".tsv") + " --manifest " +
               Quote(FDir + "/" + user + ".json"));
}

std::string CrLfText(const std::string& file) {
    std::string out;
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] == '\n' && (i == 0 || file[i - 1] != '\r')) out += '\r';
        out += file[i];
    }
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
    return out;
}

bool TDovecotServer::AddGeneratedUsers(const std::map<std::string, int32_t>& users, int32_t seed,
                                       TWireTexts* wire) {
    for (const auto& [user, count] : users) {
        if (!AddUser(user, "pw") || !GenerateMail(user, count, ++seed)) return false;
        if (wire == nullptr) continue;
        for (const TManifestEntry& m : Manifest(user)) {
            (*wire)[user].push_back(CrLfText(ReadFile(Maildir(user) + "/new/" + m.FileName)));
        }
    }
    return true;
}

bool TDovecotServer::Start() {
    // The server goes with this process even if it dies without cleaning up.
    const std::string env = std::string(UidlIsFileName ? "UIDL_FORMAT=%g " : "") +
                      "WATCH_PID=" + std::to_string(getpid()) + " " +
                      (OAuthKey.empty() ? "" : "OAUTH_KEY=" + Quote(OAuthKey) + " ") +
                      (OAuthKey.empty() ? "" : "OAUTH_MECHANISMS=" + Quote(OAuthMechanisms) + " ");
    if (Tls) {
        // The certificates are made once per program and copied: the
        // server's folder goes with the server.
        if (!Run("mkdir -p " + Quote(FDir + "/tls") + " && cp " + Quote(TestCertificateDir()) +
                 "/* " + Quote(FDir + "/tls/")))
            return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (Tls && FTlsPort == 0) FTlsPort = RefusedPort();
        if (Imap && FImapPort == 0) FImapPort = RefusedPort();
        const std::string tls = (Tls ? "TLS_PORT=" + std::to_string(FTlsPort) + " " : "") +
                                (Imap ? "IMAP_PORT=" + std::to_string(FImapPort) + " " : "");
        const size_t errorLength = FError.size();
        if (Run(env + tls + Quote(DovecotScriptDir() + "/start_server.sh") + " " + Quote(FDir) + " " +
                std::to_string(FPort))) {
            FError.resize(errorLength);
            FRunning = true;
            return true;
        }
        // Someone took the port since we picked it: try another.
        if (FError.find("Address already in use") == std::string::npos) break;
        FPort = RefusedPort();
        FTlsPort = 0;
        FImapPort = 0;
    }
    FError += "--- server log (tail):\n" + Tail(Log(), 40);
    return false;
}

void TDovecotServer::Stop(bool wait) {
    if (!FRunning) return;
    Run(std::string(wait ? "" : "NO_WAIT=1 ") + Quote(DovecotScriptDir() + "/stop_server.sh") +
        " " + Quote(FDir));
    FRunning = false;
}

std::string TDovecotServer::Maildir(const std::string& user) const {
    return FDir + "/mail/" + user + "/Maildir";
}

std::string TDovecotServer::CaFile() const { return FDir + "/tls/ca.pem"; }

std::string TDovecotServer::Log() const { return ReadFile(FDir + "/dovecot.log"); }

std::vector<TManifestEntry> TDovecotServer::Manifest(const std::string& user) const {
    std::vector<TManifestEntry> entries;
    std::istringstream in(ReadFile(FDir + "/" + user + ".tsv"));
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        size_t start = 0;
        for (;;) {
            const size_t tab = line.find('\t', start);
            f.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        if (f.size() < 15) continue;
        TManifestEntry e;
        e.Number = std::stoi(f[0]);
        e.Size = std::stoi(f[1]);
        e.HeaderSize = std::stoi(f[2]);
        e.FromName = Unescape(f[3]);
        e.FromAddress = Unescape(f[4]);
        if (f[5] != "\\N") e.Subject = Unescape(f[5]);
        if (f[6] != "\\N") e.DateUtc = std::stoll(f[6]);
        e.DateOffsetMinutes = std::stoi(f[7]);
        e.Spam = f[8] == "1";
        e.Folded = f[9] == "1";
        e.DotLines = std::stoi(f[10]);
        e.FromForm = f[11];
        e.SubjectForm = f[12];
        e.DateForm = f[13];
        e.FileName = f[14];
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace kalmuro::test
