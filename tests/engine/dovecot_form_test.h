// The form on the real road: one throw-away Dovecot on 127.0.0.1 for every
// test of a suite (started by the suite's SetUpTestSuite), and the texts its
// users' generated messages are delivered as. A server that cannot start
// fails every test of the suite.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "engine/engine_harness.h"
#include "support/dovecot_server.h"

namespace kalmuro::enginetest {

// TSuite: the fixture itself, so that each suite has its own server.
template <class TSuite>
class TDovecotFormTest : public TFormTest {
protected:
    static void TearDownTestSuite() {
        Server.reset();
        Wire.clear();
    }
    void SetUp() override { ASSERT_TRUE(Ready) << Server->Error(); }

    static inline std::unique_ptr<test::TDovecotServer> Server;
    static inline test::TDovecotServer::TWireTexts Wire;
    static inline bool Ready = false;
};

}  // namespace kalmuro::enginetest
