// Any bytes as a settings file: reading sections, keys and accounts, and
// writing a key, must never crash, and the written key must read back.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mail/accounts.h"
#include "mail/errors.h"
#include "mail/settings.h"

namespace {

const std::string& IniPath() {
    static const std::string path = [] {
        // A memory file system when there is one: every write is flushed to disk.
        char shm[] = "/dev/shm/kalmuro-fuzz-ini-XXXXXX";
        char tmp[] = "/tmp/kalmuro-fuzz-ini-XXXXXX";
        char* dir = mkdtemp(shm);
        if (dir == nullptr) dir = mkdtemp(tmp);
        if (dir == nullptr) abort();
        static std::string folder = dir;
        std::atexit([] {
            unlink((folder + "/kalmuro.ini").c_str());
            rmdir(folder.c_str());
        });
        return folder + "/kalmuro.ini";
    }();
    return path;
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kalmuro;
    const std::string& path = IniPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::vector<std::string> names, values;
    const int count = ReadIniSection("Accounts", &names, &values, path);
    Check(count == static_cast<int>(names.size()) && names.size() == values.size(),
          "listing sizes");
    for (const std::string& v : values) Check(v.size() <= kMaxIniValueLength, "value length");
    for (const std::string& name : names) (void)ReadIniString("Accounts", name, "", path);

    try {
        (void)ReadIniInteger("Setup", "Timeout", 60, path);
        (void)ReadIniBool("Setup", "CheckStart", false, path);
    } catch (const EConvertError&) {
    }
    try {
        TArrayOfMailAccount accounts;
        LoadAccounts(accounts, path);
        for (const TMailAccount& a : accounts)
            Check(!a.PopServer.empty() && !a.UserId.empty(), "account");
    } catch (const EConvertError&) {
    }

    const int setupBefore = ReadIniSection("Setup", nullptr, nullptr, path);
    const std::string value = "v" + std::to_string(size);
    WriteIniString("Fuzz", "Key", value, path);
    Check(ReadIniString("Fuzz", "Key", "", path) == value, "written key reads back");
    Check(ReadIniSection("Setup", nullptr, nullptr, path) == setupBefore,
          "other section untouched");
    EraseIniSection("Fuzz", path);
    Check(ReadIniString("Fuzz", "Key", "gone", path) == "gone", "erased");
    return 0;
}
