// A TCP link, connected to a loopback server, whose printer commands reach
// the private scheduler of the "cups" fixture with freshly reset queues.
#pragma once

#include "fixtures/CupsFixture.h"
#include "link/TcpLinkFixture.h"

namespace quorvin::testing {

class CupsLinkTest : public TcpLinkTest {
protected:
    void SetUp() override {
        // Before the link exists: its threads must see the private scheduler.
        ASSERT_TRUE(UseCupsFixture(cups)) << cups.error;
        ASSERT_EQ(ResetCupsQueues(cups), 0);  // the queues are shared with other tests
        TcpLinkTest::SetUp();
        if (HasFatalFailure()) return;
        BeforeConnect();
        if (HasFatalFailure()) return;
        Connect(server);
    }
    // What a test needs in place before the link registers.
    virtual void BeforeConnect() {}

    CupsFixture cups;
};

}  // namespace quorvin::testing
