// An array of plain items grown with realloc. The build has no exceptions,
// so an allocation that fails marks the array failed (and what is added
// later is dropped) instead of ending the process; its owner's entry point
// then raises MemoryError. It takes no interpreter lock: a page rendered
// beside the interpreter grows one too.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <type_traits>

namespace grown {

template <class T>
class Grown {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    Grown() = default;
    Grown(const Grown &) = delete;
    Grown &operator=(const Grown &) = delete;
    ~Grown() { std::free(items_); }

    // Room for n more items, which are then counted; null only once an
    // allocation failed (room for none is memory too, so that a caller
    // tells failure by null alone).
    T *room(std::size_t n) {
        if (!fits(n) && !grow(n)) return nullptr;
        T *at = items_ + size_;
        size_ += n;
        return at;
    }
    bool push(const T &item) {
        T *at = room(1);
        return at && (*at = item, true);
    }
    // Room for up to n more items, written through the pointer and then
    // counted by took(end); null once an allocation failed.
    T *reserve(std::size_t n) { return !fits(n) && !grow(n) ? nullptr : items_ + size_; }
    void took(const T *end) { size_ = static_cast<std::size_t>(end - items_); }
    void clear() { size_ = 0; }
    // The last n items dropped (n at most the size).
    void drop(std::size_t n) { size_ -= n; }
    // The items, given away: the caller frees them; the array is then empty.
    T *release() {
        T *items = items_;
        items_ = nullptr;
        size_ = capacity_ = 0;
        return items;
    }

    T *begin() const { return items_; }
    T *end() const { return items_ + size_; }
    T &operator[](std::size_t i) const { return items_[i]; }
    std::size_t size() const { return size_; }
    bool failed() const { return failed_; }

  private:
    bool fits(std::size_t n) const { return items_ && size_ + n <= capacity_; }
    [[gnu::noinline]] bool grow(std::size_t n) {
        if (failed_) return false;
        std::size_t capacity = capacity_ ? 2 * capacity_ : (4096 + sizeof(T) - 1) / sizeof(T);
        while (capacity < size_ + n) capacity *= 2;
        T *moved = static_cast<T *>(std::realloc(items_, capacity * sizeof(T)));
        if (!moved) return !(failed_ = true);
        items_ = moved;
        capacity_ = capacity;
        return true;
    }
    T *items_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
    bool failed_ = false;
};

}  // namespace grown
