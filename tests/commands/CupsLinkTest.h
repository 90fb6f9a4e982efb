// A link (TCP or WebSocket, by the test's parameter), connected to a
// loopback server, whose printer commands reach the private scheduler of
// the "cups" fixture with freshly reset queues.
#pragma once

#include "fixtures/CupsFixture.h"
#include "link/LinkRig.h"

namespace quorvin::testing {

class CupsLinkTest : public AnyLinkTest {
protected:
    void SetUp() override {
        // Before the link exists: its threads must see the private scheduler.
        ASSERT_TRUE(UseCupsFixture(cups)) << cups.error;
        ASSERT_EQ(ResetCupsQueues(cups), 0);  // the queues are shared with other tests
        AnyLinkTest::SetUp();
    }

    CupsFixture cups;
};

}  // namespace quorvin::testing
