#pragma once
// Owners for every kind of Win32 handle the launcher holds: kernel objects (processes, threads,
// mutexes), files, WinHTTP, BCrypt and GDI. Windows only; the POSIX counterpart is
// file_descriptor.h.

#include "launcher/platform/scoped_handle.h"
#include "launcher/platform/windows.h"  // before the headers below, which need its types

#include <bcrypt.h>
#include <winhttp.h>

namespace launcher {

// Processes, threads and mutexes: null when there is none.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { CloseHandle(handle); }
};
using KernelHandle = ScopedHandle<KernelHandleTraits>;

// What CreateFileW returns: INVALID_HANDLE_VALUE when there is none.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { CloseHandle(handle); }
};
using FileHandle = ScopedHandle<FileHandleTraits>;

// What FindFirstFileExW returns: INVALID_HANDLE_VALUE when there is none.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { FindClose(handle); }
};
using FindHandle = ScopedHandle<FindHandleTraits>;

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { WinHttpCloseHandle(handle); }
};
using InternetHandle = ScopedHandle<InternetHandleTraits>;

struct AlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptCloseAlgorithmProvider(handle, 0); }
};
using AlgorithmHandle = ScopedHandle<AlgorithmTraits>;

struct HashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptDestroyHash(handle); }
};
using HashHandle = ScopedHandle<HashTraits>;

struct KeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptDestroyKey(handle); }
};
using KeyHandle = ScopedHandle<KeyTraits>;

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle object) { DeleteObject(object); }
};
using GdiObject = ScopedHandle<GdiObjectTraits>;

struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle dc) { DeleteDC(dc); }
};
using MemoryDc = ScopedHandle<MemoryDcTraits>;

}  // namespace launcher
