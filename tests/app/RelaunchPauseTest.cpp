#include "app/RelaunchPause.h"

#include <gtest/gtest.h>

namespace quorvin {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// One pause object through a run of ends: each row is how long the link
// was up before it ended (0: the start failed) and the pause that follows.
TEST(RelaunchPauseTest, DoublesUpToHalfAMinuteAndStartsOverAfterAMinuteUp) {
    struct Step {
        std::chrono::steady_clock::duration upFor;
        milliseconds pause;
    };
    const Step steps[] = {
        {seconds(0), milliseconds(500)},  {seconds(0), milliseconds(1000)},   {seconds(0), milliseconds(2000)},
        {seconds(5), milliseconds(4000)},  // up briefly: still backing off
        {seconds(0), milliseconds(8000)}, {seconds(0), milliseconds(16000)},  {seconds(0), milliseconds(30000)},
        {seconds(0), milliseconds(30000)},  // never beyond the longest
        {seconds(59), milliseconds(30000)},  // just short of settled
        {seconds(60), milliseconds(500)},   // a minute up: the short pause again
        {seconds(0), milliseconds(1000)},  {std::chrono::hours(5), milliseconds(500)},
    };
    RelaunchPause pause;
    int row = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(row++);
        EXPECT_EQ(pause.After(s.upFor), s.pause);
    }
}

}  // namespace
}  // namespace quorvin
