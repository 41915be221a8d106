#ifndef DYNARRAY_H
#define DYNARRAY_H

#include <cstddef>
#include <cstdint>
#include <new>

#include "FFTRealAssert.h"

// A heap array of fixed length with a checked element access, holding the
// tables of FFTReal. resize() does not keep the old elements: the tables are
// always rebuilt after a resize. The storage starts on a 64-byte boundary, a
// cache line, so that the vector loads and stores of the transform on the
// work buffer do not straddle lines more often than their offsets require.
template <class T>
class DynArray
{
public:
    DynArray();
    explicit DynArray(int32_t size);
    ~DynArray();

    DynArray(const DynArray &) = delete;
    DynArray &operator=(const DynArray &) = delete;

    int32_t size() const { return _len; }

    // size > 0: drops the elements and allocates size new, default-initialised
    // ones. size == 0: nothing changes.
    void resize(int32_t size);

    const T &operator[](int32_t pos) const;
    T &operator[](int32_t pos);

private:
    static const std::size_t ALIGNMENT = 64;

    static T *allocate(int32_t size);
    static void release(T *data_ptr, int32_t size);

    T *_data_ptr;
    int32_t _len;
};

template <class T>
T *DynArray<T>::allocate(int32_t size)
{
    void *const raw = ::operator new[](sizeof(T) * static_cast<std::size_t>(size), std::align_val_t(ALIGNMENT));
    T *const data_ptr = static_cast<T *>(raw);
    for (int32_t i = 0; i < size; ++i) {
        new (data_ptr + i) T;
    }
    return data_ptr;
}

template <class T>
void DynArray<T>::release(T *data_ptr, int32_t size)
{
    if (data_ptr == nullptr) {
        return;
    }
    for (int32_t i = 0; i < size; ++i) {
        data_ptr[i].~T();
    }
    ::operator delete[](data_ptr, std::align_val_t(ALIGNMENT));
}

template <class T>
DynArray<T>::DynArray()
    : _data_ptr(nullptr)
    , _len(0)
{
}

template <class T>
DynArray<T>::DynArray(int32_t size)
    : _data_ptr(nullptr)
    , _len(0)
{
    FFTREAL_ASSERT(size >= 0);
    if (size > 0) {
        _data_ptr = allocate(size);
        _len = size;
    }
}

template <class T>
DynArray<T>::~DynArray()
{
    release(_data_ptr, _len);
    _data_ptr = nullptr;
    _len = 0;
}

template <class T>
void DynArray<T>::resize(int32_t size)
{
    FFTREAL_ASSERT(size >= 0);
    if (size > 0) {
        T *const old_data_ptr = _data_ptr;
        const int32_t old_len = _len;
        _data_ptr = allocate(size);
        _len = size;
        release(old_data_ptr, old_len);
    }
}

template <class T>
const T &DynArray<T>::operator[](int32_t pos) const
{
    FFTREAL_ASSERT(pos >= 0);
    FFTREAL_ASSERT(pos < _len);
    return _data_ptr[pos];
}

template <class T>
T &DynArray<T>::operator[](int32_t pos)
{
    FFTREAL_ASSERT(pos >= 0);
    FFTREAL_ASSERT(pos < _len);
    return _data_ptr[pos];
}

#endif // DYNARRAY_H
