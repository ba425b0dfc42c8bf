// The launcher executable's own copies of C++ runtime functions whose library copies bring debugging aids or the unwinder.
//
// The launcher catches no exception: the library's errors (a length past
// max_size, an allocation that fails outside the nothrow paths) end the
// process whatever happens. The runtime's own versions of these functions
// end it the same way, but bring along what a console program would want:
// the verbose terminate handler prints the exception's demangled type,
// which links the whole demangler and a printf, and the throwing helpers
// link every standard exception type and the old string that they carry.
// A GUI program without a console has nowhere to print, so these end it at
// once, as abort() does (exit code 3). Only the launcher exe links this file;
// with any helper missing here, the runtime's own copy would be linked and
// the link would fail on the duplicates, so none is forgotten silently.
//
// The stub is built without exceptions. A library object compiled with
// them names the personality routine in its unwind tables, and linking it
// for a single function brings the whole unwinder; the allocation
// functions and the steady clock below stand in for such objects.
#include <chrono>
#include <cstdlib>
#include <new>

#include "platform/win32/windows_api.h"

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
// A failed library assertion (_GLIBCXX_ASSERTIONS): an index out of range, a
// front() of an empty container. The runtime's version prints a report
// with the demangled function name first.
[[noreturn]] void __glibcxx_assert_fail(const char*, int, const char*, const char*) noexcept { std::abort(); }
[[noreturn]] void __throw_bad_exception() { std::abort(); }
[[noreturn]] void __throw_bad_alloc() { std::abort(); }
[[noreturn]] void __throw_bad_array_new_length() { std::abort(); }
[[noreturn]] void __throw_bad_cast() { std::abort(); }
[[noreturn]] void __throw_bad_typeid() { std::abort(); }
[[noreturn]] void __throw_logic_error(const char*) { std::abort(); }
[[noreturn]] void __throw_domain_error(const char*) { std::abort(); }
[[noreturn]] void __throw_invalid_argument(const char*) { std::abort(); }
[[noreturn]] void __throw_length_error(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
[[noreturn]] void __throw_runtime_error(const char*) { std::abort(); }
[[noreturn]] void __throw_range_error(const char*) { std::abort(); }
[[noreturn]] void __throw_overflow_error(const char*) { std::abort(); }
[[noreturn]] void __throw_underflow_error(const char*) { std::abort(); }
}  // namespace std

// The allocation functions. The runtime's throw std::bad_alloc, and its
// nothrow forms catch that again; either way they bring the unwinder, which
// a launcher built without exceptions has no use for. These keep both
// contracts without it: the throwing forms end the process where the throw
// would have ended it uncaught, and the nothrow forms give a null pointer,
// which is how a payload block that cannot be had turns into exit code 1
// (ByteBlock::Allocate).
void* operator new(std::size_t size) {
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  std::abort();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

// The names of the files that "-c" writes before it renames them take a seed
// from this clock (CreateUniqueFile). Windows' tick count since start-up is
// steady, in milliseconds, from Vista on.
std::chrono::steady_clock::time_point std::chrono::steady_clock::now() noexcept {
  return time_point(std::chrono::milliseconds(GetTickCount64()));
}
