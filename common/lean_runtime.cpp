// The lean C++ runtime of the two Windows programs, the installer and the uninstaller.
//
// Both are built without exceptions, but the C++ library's own std::string code and its
// operator new are compiled with them and would bring the whole unwinding runtime, thread
// support and a name demangler into each program, several times the size of everything
// else. So the text type is instantiated here, without exceptions, and allocation and the
// library's error hooks end the process: they are reached only when memory runs out or a
// length exceeds anything a package, a path or a log can hold.
#include <cstdlib>
#include <new>
#include <string>

template class std::__cxx11::basic_string<char>;

void* operator new(std::size_t size)
{
    void* block = std::malloc(size != 0 ? size : 1);
    if (!block) std::abort();
    return block;
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
}  // namespace std
