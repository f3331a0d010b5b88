// A first-in first-out queue in one growing ring of slots: unlike a deque it
// allocates only when it has to grow, however many items pass through it.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace kalmuro {

template <class T>
class TFifo {
public:
    bool empty() const { return FCount == 0; }
    size_t size() const { return FCount; }
    T& front() { return FSlots[FFirst]; }
    const T& front() const { return FSlots[FFirst]; }

    void push_back(T item) {
        if (FCount == FSlots.size()) Grow();
        FSlots[(FFirst + FCount) % FSlots.size()] = std::move(item);
        ++FCount;
    }
    void pop_front() {
        FSlots[FFirst] = T();  // what the item held goes now, not when its slot is reused
        FFirst = (FFirst + 1) % FSlots.size();
        --FCount;
    }
    // Empties the queue and keeps its room.
    void clear() {
        while (!empty()) pop_front();
        FFirst = 0;
    }

private:
    void Grow() {
        std::vector<T> grown(FSlots.empty() ? 16 : 2 * FSlots.size());
        for (size_t i = 0; i < FCount; ++i)
            grown[i] = std::move(FSlots[(FFirst + i) % FSlots.size()]);
        FSlots = std::move(grown);
        FFirst = 0;
    }

    std::vector<T> FSlots;
    size_t FFirst = 0;
    size_t FCount = 0;
};

}  // namespace kalmuro
