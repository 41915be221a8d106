#ifndef SPSCRING_H
#define SPSCRING_H

#include <array>
#include <atomic>
#include <cstddef>

// A queue between exactly one writing and one reading thread that never
// waits and never allocates, so that an audio thread can use either end.
// Holds Capacity - 1 items; Capacity is a power of two.
template<typename T, std::size_t Capacity>
class SpscRing
{
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "Capacity is a power of two");

public:
    // False when the ring is full; the item is then not taken.
    bool push(const T &item)
    {
        const std::size_t head = writeIndex.load(std::memory_order_relaxed);
        const std::size_t next = (head + 1) & (Capacity - 1);
        if (next == readIndex.load(std::memory_order_acquire))
            return false;
        items[head] = item;
        writeIndex.store(next, std::memory_order_release);
        return true;
    }

    // False when the ring is empty.
    bool pop(T &item)
    {
        const std::size_t tail = readIndex.load(std::memory_order_relaxed);
        if (tail == writeIndex.load(std::memory_order_acquire))
            return false;
        item = items[tail];
        readIndex.store((tail + 1) & (Capacity - 1), std::memory_order_release);
        return true;
    }

private:
    std::array<T, Capacity> items{};
    std::atomic<std::size_t> writeIndex{0};
    std::atomic<std::size_t> readIndex{0};
};

#endif // SPSCRING_H
