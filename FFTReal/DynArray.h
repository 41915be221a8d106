#ifndef DYNARRAY_H
#define DYNARRAY_H

#include <cstdint>

#include "FFTRealAssert.h"

// A heap array of fixed length with a checked element access, holding the
// tables of FFTReal. resize() does not keep the old elements: the tables are
// always rebuilt after a resize.
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
    T *_data_ptr;
    int32_t _len;
};

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
        _data_ptr = new T[size];
        _len = size;
    }
}

template <class T>
DynArray<T>::~DynArray()
{
    delete[] _data_ptr;
    _data_ptr = nullptr;
    _len = 0;
}

template <class T>
void DynArray<T>::resize(int32_t size)
{
    FFTREAL_ASSERT(size >= 0);
    if (size > 0) {
        T *const old_data_ptr = _data_ptr;
        _data_ptr = new T[size];
        _len = size;
        delete[] old_data_ptr;
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
