// One-line owners for the Windows resources the engine holds.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <utility>

namespace wkechr {

template <typename T, typename Traits>
class Scoped {
public:
    Scoped() = default;
    explicit Scoped(T value) : value_(value) {}
    ~Scoped() { Reset(); }
    Scoped(Scoped&& other) noexcept : value_(std::exchange(other.value_, Traits::Invalid())) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) {
            Reset();
            value_ = std::exchange(other.value_, Traits::Invalid());
        }
        return *this;
    }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

    T Get() const { return value_; }
    bool Valid() const { return value_ != Traits::Invalid(); }
    explicit operator bool() const { return Valid(); }
    void Reset(T value = Traits::Invalid()) {
        if (Valid()) Traits::Close(value_);
        value_ = value;
    }
    T Release() { return std::exchange(value_, Traits::Invalid()); }

private:
    T value_ = Traits::Invalid();
};

struct HandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct FileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct SocketTraits {
    static SOCKET Invalid() { return INVALID_SOCKET; }
    static void Close(SOCKET s) { closesocket(s); }
};
struct WindowTraits {
    static HWND Invalid() { return nullptr; }
    static void Close(HWND h) { DestroyWindow(h); }
};
struct FindTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
struct RegKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY k) { RegCloseKey(k); }
};
struct ProcessHeapTraits {
    static void* Invalid() { return nullptr; }
    static void Close(void* p) { HeapFree(GetProcessHeap(), 0, p); }
};

using ScopedHandle = Scoped<HANDLE, HandleTraits>;
using ScopedFile = Scoped<HANDLE, FileHandleTraits>;
using ScopedSocket = Scoped<SOCKET, SocketTraits>;
using ScopedWindow = Scoped<HWND, WindowTraits>;
using ScopedFind = Scoped<HANDLE, FindTraits>;
using ScopedRegKey = Scoped<HKEY, RegKeyTraits>;
using ScopedHeapMem = Scoped<void*, ProcessHeapTraits>;

// Winsock stays started while one of these lives.
class ScopedWinsock {
public:
    ScopedWinsock() {
        WSADATA data;
        ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~ScopedWinsock() {
        if (ok_) WSACleanup();
    }
    ScopedWinsock(const ScopedWinsock&) = delete;
    ScopedWinsock& operator=(const ScopedWinsock&) = delete;
    bool Ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace wkechr
