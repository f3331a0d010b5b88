#include "mail/net/fifo.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>

namespace kalmuro {
namespace {

// Random runs of pushes and pops, through growth and wrap-around, must give
// what a deque gives; items that need memory of their own are moved whole.
TEST(Fifo, BehavesAsADequeUsedAsAQueue) {
    std::mt19937 random(3);
    TFifo<std::string> fifo;
    std::deque<std::string> expected;
    int next = 0;
    for (int step = 0; step < 20000; ++step) {
        // Phases that mostly fill and mostly drain, so the ring grows and wraps.
        const bool filling = (step / 500) % 2 == 0;
        if (random() % 4 != 0 ? filling : !filling) {
            std::string item = "item with room of its own " + std::to_string(next++);
            fifo.push_back(item);
            expected.push_back(item);
        } else if (!expected.empty()) {
            ASSERT_EQ(fifo.front(), expected.front()) << "step " << step;
            fifo.pop_front();
            expected.pop_front();
        }
        ASSERT_EQ(fifo.size(), expected.size());
        ASSERT_EQ(fifo.empty(), expected.empty());
        if (step % 5000 == 4999) {
            fifo.clear();
            expected.clear();
        }
    }
    while (!expected.empty()) {
        ASSERT_EQ(fifo.front(), expected.front());
        fifo.pop_front();
        expected.pop_front();
    }
    EXPECT_TRUE(fifo.empty());
}

}  // namespace
}  // namespace kalmuro
