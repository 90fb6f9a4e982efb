// The line print tasks wait in: places given back before their turn are
// skipped, and turns go in the order the tickets were taken.
#include <gtest/gtest.h>

#include "commands/TaskTurns.h"

namespace quorvin {
namespace {

TEST(TaskTurns, APlaceGivenBackBeforeItsTurnIsSkipped) {
    CTaskTurns turns(1);
    CTaskTurns::Ticket first = turns.Take();
    CTaskTurns::Ticket second = turns.Take();
    CTaskTurns::Ticket third = turns.Take();
    EXPECT_EQ(turns.Waiting(), 2);
    second.Release();  // its task ended before it could download
    EXPECT_EQ(turns.Waiting(), 1);
    first.Release();
    // The turn went to the third, not to the place given back.
    ASSERT_EQ(turns.Waiting(), 0);
    third.Wait();
    CTaskTurns::Ticket fourth = turns.Take();
    EXPECT_EQ(turns.Waiting(), 1);
    third = CTaskTurns::Ticket();  // a ticket replaced gives its turn back
    EXPECT_EQ(turns.Waiting(), 0);
}

}  // namespace
}  // namespace quorvin
