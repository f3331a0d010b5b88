// Small helpers shared by the POP3 test files.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "mail/pop3/pop3_client.h"
#include "support/scripted_server.h"

namespace kalmuro::test {

// A client pointed at 127.0.0.1:port with a short read time-out, so that a
// test never hangs on a broken expectation.
template <class TClient>
void PointAt(TClient& client, int32_t port) {
    client.Host = "127.0.0.1";
    client.Port = port;
    client.ReadTimeout = 5000;
}

// A client pointed at port, with the credentials LoggedIn() expects.
inline void PointAtAsAlice(TPop3Client& client, int32_t port) {
    PointAt(client, port);
    client.Username = "alice";
    client.Password = "secret";
}

// Logs the client in over TLS and says whether it did. It must when ok;
// otherwise the certificate must be refused for `problem`, with the
// fingerprint of `certificate` (a file of TestCertificateDir()), and the
// connection closed.
inline bool TlsLogin(TPop3Client& client, bool ok, TCertificateProblem problem,
                     const std::string& certificate) {
    try {
        client.Login(5000);
        EXPECT_TRUE(ok);
        return true;
    } catch (const ECertificateError& e) {
        EXPECT_FALSE(ok) << e.what();
        EXPECT_EQ(e.Problem, problem) << e.Detail;
        EXPECT_EQ(e.Fingerprint, OpensslFingerprint(certificate));
        EXPECT_FALSE(client.IsConnected());
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
    return false;
}

// The text of whatever f throws, or "<none>".
template <class F>
std::string ErrorText(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<none>";
}

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

}  // namespace kalmuro::test
