// The start program and the self-update DLL are built without C++ exceptions,
// so that they need none of the exception, demangling and threading support
// of the C++ runtime (which would make up most of them). These definitions
// replace the runtime's allocation and throw helpers that the standard
// containers call. The only failures that reach them are running out of
// memory and an impossible string length, and those end the process with exit
// code 3, as everywhere in the program; kes_selfupdate.h says so to the hosts
// of the DLL. Returning instead would mean leaving every caller's frames
// without their destructors (open handles and all), or the exception runtime.
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void endProcessOnFatalError() {
    ExitProcess(3);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    endProcessOnFatalError();
}

void* operator new[](std::size_t size) {
    return ::operator new(size);
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete[](void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace std {

void __throw_length_error(const char*) {
    endProcessOnFatalError();
}

void __throw_logic_error(const char*) {
    endProcessOnFatalError();
}

void __throw_bad_alloc() {
    endProcessOnFatalError();
}

void __throw_bad_array_new_length() {
    endProcessOnFatalError();
}

void __throw_out_of_range(const char*) {
    endProcessOnFatalError();
}

void __throw_out_of_range_fmt(const char*, ...) {
    endProcessOnFatalError();
}

}  // namespace std

// The C runtime registers a handler for errors of its math functions, which
// prints to a console the start program does not have; nothing here does
// floating-point math. Returning 0 leaves the runtime's own handling (errno).
extern "C" int _matherr(struct _exception*) {
    return 0;
}
