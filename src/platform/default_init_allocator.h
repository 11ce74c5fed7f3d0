// An allocator whose vectors leave new elements of plain types uninitialised on resize(n), for
// arrays that are read from a file straight away: filling them with zeros first would write
// every page twice. assign(n, value) and resize(n, value) still set them. Large arrays are
// backed by huge pages where the kernel offers them (adviseHugePages).
#pragma once

#include <algorithm>
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

// An index array about to be read: left empty when the load will hand over the array it reads
// (keepOrCopy), else n zeros.
template <class T>
void sizeIndexArray(UninitVector<T>& v, std::size_t n, bool handedOver) {
    if (handedOver) {
        v = {};
    } else {
        v.assign(n, T{});
    }
}

// Makes the array read into `read` the object's own: moved into `store` with `array` pointing at
// it when `adopt`, else copied into the array `array` already points at (made elsewhere).
template <class T>
void keepOrCopy(UninitVector<T>& read, UninitVector<T>& store, T*& array, bool adopt) {
    if (adopt) {
        store = std::move(read);
        array = store.data();
    } else {
        std::copy(read.begin(), read.end(), array);
    }
}

}  // namespace strata::platform
