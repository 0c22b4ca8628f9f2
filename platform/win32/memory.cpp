// Global allocation for the few C++ objects of the loader. The static C++
// runtime's operator new would bring exception support into every
// publication; these never throw and return null when memory is short.
#include <stdlib.h>

#include <new>

void* operator new(size_t size) { return malloc(size); }
void* operator new[](size_t size) { return malloc(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return malloc(size); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

// Pure virtual calls cannot happen in the loader; without the C++ runtime
// there is nobody else to provide the symbol.
extern "C" void __cxa_pure_virtual() { abort(); }
