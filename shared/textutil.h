// Bounded text copies and reads of fields from buffers of known length.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

// Copies src into dst (dstSize bytes), cut to fit, always NUL-terminated.
// Returns the number of characters copied.
size_t CopyText(char* dst, size_t dstSize, const char* src);
// As CopyText for a source field of srcSize bytes that may hold no NUL.
size_t CopyField(char* dst, size_t dstSize, const char* src, size_t srcSize);
// vsnprintf into dst, always NUL-terminated; returns the length written (cut).
size_t FormatText(char* dst, size_t dstSize, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
// Length of a field that may hold no NUL.
size_t FieldLength(const char* field, size_t fieldSize);

template <size_t N>
inline size_t CopyText(char (&dst)[N], const char* src) { return CopyText(dst, N, src); }

// Reads a little-endian value at off from a buffer of len bytes; false when it does not fit.
template <typename T>
inline bool ReadField(const void* buf, size_t len, size_t off, T* out)
{
    if (buf == nullptr || off > len || sizeof(T) > len - off)
        return false;
    memcpy(out, static_cast<const unsigned char*>(buf) + off, sizeof(T));
    return true;
}

// Writes a value at off into a buffer of len bytes; false when it does not fit.
template <typename T>
inline bool WriteField(void* buf, size_t len, size_t off, const T& value)
{
    if (buf == nullptr || off > len || sizeof(T) > len - off)
        return false;
    memcpy(static_cast<unsigned char*>(buf) + off, &value, sizeof(T));
    return true;
}
