// A move-only owner of a Windows handle, closed by a policy when it goes out of scope.
#pragma once

#include <utility>

#include "platform/win32/windows_api.h"

namespace kesmar {

// Policy: `Invalid()` is the value that owns nothing, `Close(h)` releases h.
template <typename Policy>
class UniqueHandle {
 public:
  using Handle = typename Policy::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  // No implicit conversion: the raw handle is taken on purpose, with get().
  Handle get() const { return handle_; }
  bool valid() const { return handle_ != Policy::Invalid(); }
  Handle release() { return std::exchange(handle_, Policy::Invalid()); }
  void reset(Handle handle = Policy::Invalid()) {
    if (valid()) Policy::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Policy::Invalid();
};

struct KernelHandlePolicy {  // process, thread, file from CreateFile
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

struct FileHandlePolicy {  // CreateFile results, where failure is INVALID_HANDLE_VALUE
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

struct FindHandlePolicy {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::FindClose(h); }
};

struct CoTaskMemPolicy {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle p) { ::CoTaskMemFree(p); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandlePolicy>;
using UniqueFileHandle = UniqueHandle<FileHandlePolicy>;
using UniqueFindHandle = UniqueHandle<FindHandlePolicy>;

}  // namespace kesmar
