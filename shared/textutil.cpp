#include "textutil.h"

#include <cstdarg>
#include <cstdio>

size_t FieldLength(const char* field, size_t fieldSize)
{
    if (field == nullptr)
        return 0;
    const void* nul = memchr(field, '\0', fieldSize);
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : fieldSize;
}

size_t CopyField(char* dst, size_t dstSize, const char* src, size_t srcSize)
{
    if (dst == nullptr || dstSize == 0)
        return 0;
    size_t n = FieldLength(src, srcSize);
    if (n > dstSize - 1)
        n = dstSize - 1;
    if (n > 0)
        memmove(dst, src, n);
    dst[n] = '\0';
    return n;
}

size_t CopyText(char* dst, size_t dstSize, const char* src)
{
    return CopyField(dst, dstSize, src, src ? strlen(src) : 0);
}

size_t FormatText(char* dst, size_t dstSize, const char* fmt, ...)
{
    if (dst == nullptr || dstSize == 0)
        return 0;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(dst, dstSize, fmt, ap);
    va_end(ap);
    if (n < 0) {
        dst[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(n) < dstSize ? static_cast<size_t>(n) : dstSize - 1;
}
