// An allocator whose vectors leave new elements of plain types uninitialised on resize(n), for
// arrays that are read from a file straight away: filling them with zeros first would write
// every page twice. assign(n, value) and resize(n, value) still set them. Large arrays are
// backed by huge pages where the kernel offers them (adviseHugePages).
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/aligned_block.h"

namespace strata::platform {

template <class T>
struct DefaultInitAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <class U>
    explicit DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        T* p = std::allocator<T>::allocate(n);
        adviseHugePages(p, n * sizeof(T));
        return p;
    }

    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        std::construct_at(p, std::forward<Args>(args)...);
    }
};

template <class T>
using UninitVector = std::vector<T, DefaultInitAllocator<T>>;

// Makes v hold n elements: zeros, or left as they come when the caller reads over all of them
// at once (a fresh allocation: nothing of the old contents stays).
template <class T>
void sizeArray(UninitVector<T>& v, std::size_t n, bool readOver) {
    if (readOver) {
        v = {};
        v.resize(n);
    } else {
        v.assign(n, T{});
    }
}

}  // namespace strata::platform
