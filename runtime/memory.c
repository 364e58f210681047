/* The four memory routines that GCC emits calls to even in code that links no C runtime
   (zeroing or copying a record, comparing blocks). Built with -fno-builtin and without loop
   pattern distribution, so GCC cannot turn these loops back into calls to themselves. */
#include <stddef.h>

void* memset(void* dest, int value, size_t count)
{
    unsigned char* d = (unsigned char*)dest;
    while (count--) *d++ = (unsigned char)value;
    return dest;
}

void* memcpy(void* dest, const void* src, size_t count)
{
    unsigned char* d = (unsigned char*)dest;
    const unsigned char* s = (const unsigned char*)src;
    while (count--) *d++ = *s++;
    return dest;
}

void* memmove(void* dest, const void* src, size_t count)
{
    unsigned char* d = (unsigned char*)dest;
    const unsigned char* s = (const unsigned char*)src;
    if (d < s) {
        while (count--) *d++ = *s++;
    } else {
        d += count;
        s += count;
        while (count--) *--d = *--s;
    }
    return dest;
}

int memcmp(const void* a, const void* b, size_t count)
{
    const unsigned char* x = (const unsigned char*)a;
    const unsigned char* y = (const unsigned char*)b;
    for (; count; --count, ++x, ++y) {
        if (*x != *y) return *x < *y ? -1 : 1;
    }
    return 0;
}
