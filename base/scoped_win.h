// Small owners of Windows resources, one line each at the point of use. Each kind keeps a count of
// the objects it holds right now, so a test can show that a cycle of work leaves none behind.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <imm.h>

#include <atomic>
#include <utility>

enum class LiveKind { Handle, Dc, GdiObject, ComRef, Library, Count };

inline std::atomic<long>& LiveCounter(LiveKind kind) {
    static std::atomic<long> counters[static_cast<int>(LiveKind::Count)];
    return counters[static_cast<int>(kind)];
}
inline long LiveObjects(LiveKind kind) { return LiveCounter(kind).load(); }

namespace scoped_detail {

// Owner of one value of type T that Traits::Close frees; moves, never copies.
template <typename T, typename Traits>
class Owner {
public:
    Owner() = default;
    explicit Owner(T value) { Reset(value); }
    ~Owner() { Reset(); }
    Owner(Owner&& other) noexcept : value_(std::exchange(other.value_, Traits::Empty())) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) {
            Reset();
            value_ = std::exchange(other.value_, Traits::Empty());
        }
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    void Reset(T value = Traits::Empty()) {
        if (Traits::Valid(value_)) {
            Traits::Close(value_);
            --LiveCounter(Traits::kKind);
        }
        value_ = value;
        if (Traits::Valid(value_)) ++LiveCounter(Traits::kKind);
    }
    T Get() const { return value_; }
    operator T() const { return value_; }
    explicit operator bool() const { return Traits::Valid(value_); }

private:
    T value_ = Traits::Empty();
};

struct HandleTraits {
    static constexpr LiveKind kKind = LiveKind::Handle;
    static HANDLE Empty() { return nullptr; }
    static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct MemDcTraits {
    static constexpr LiveKind kKind = LiveKind::Dc;
    static HDC Empty() { return nullptr; }
    static bool Valid(HDC h) { return h != nullptr; }
    static void Close(HDC h) { DeleteDC(h); }
};
template <typename T>
struct GdiObjTraits {
    static constexpr LiveKind kKind = LiveKind::GdiObject;
    static T Empty() { return nullptr; }
    static bool Valid(T h) { return h != nullptr; }
    static void Close(T h) { DeleteObject(h); }
};
struct LibraryTraits {
    static constexpr LiveKind kKind = LiveKind::Library;
    static HMODULE Empty() { return nullptr; }
    static bool Valid(HMODULE h) { return h != nullptr; }
    static void Close(HMODULE h) { FreeLibrary(h); }
};

}  // namespace scoped_detail

using ScopedHandle = scoped_detail::Owner<HANDLE, scoped_detail::HandleTraits>;
using ScopedMemDC = scoped_detail::Owner<HDC, scoped_detail::MemDcTraits>;
template <typename T>
using ScopedGdiObj = scoped_detail::Owner<T, scoped_detail::GdiObjTraits<T>>;
using ScopedLibrary = scoped_detail::Owner<HMODULE, scoped_detail::LibraryTraits>;

// GetDC for the lifetime of the scope.
class ScopedGetDC {
public:
    explicit ScopedGetDC(HWND window) : window_(window), dc_(GetDC(window)) {
        if (dc_) ++LiveCounter(LiveKind::Dc);
    }
    ~ScopedGetDC() {
        if (dc_) {
            ReleaseDC(window_, dc_);
            --LiveCounter(LiveKind::Dc);
        }
    }
    ScopedGetDC(const ScopedGetDC&) = delete;
    ScopedGetDC& operator=(const ScopedGetDC&) = delete;
    operator HDC() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// GetDCEx for the lifetime of the scope (for a DC whose clipping the caller chooses).
class ScopedGetDCEx {
public:
    ScopedGetDCEx(HWND window, DWORD flags) : window_(window), dc_(GetDCEx(window, nullptr, flags)) {
        if (dc_) ++LiveCounter(LiveKind::Dc);
    }
    ~ScopedGetDCEx() {
        if (dc_) {
            ReleaseDC(window_, dc_);
            --LiveCounter(LiveKind::Dc);
        }
    }
    ScopedGetDCEx(const ScopedGetDCEx&) = delete;
    ScopedGetDCEx& operator=(const ScopedGetDCEx&) = delete;
    operator HDC() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint and EndPaint around the scope.
class ScopedPaint {
public:
    explicit ScopedPaint(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {
        if (dc_) ++LiveCounter(LiveKind::Dc);
    }
    ~ScopedPaint() {
        EndPaint(window_, &paint_);
        if (dc_) --LiveCounter(LiveKind::Dc);
    }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;
    operator HDC() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// The window's input context (ImmGetContext / ImmReleaseContext).
class ScopedImeContext {
public:
    explicit ScopedImeContext(HWND window) : window_(window), context_(ImmGetContext(window)) {}
    ~ScopedImeContext() {
        if (context_) ImmReleaseContext(window_, context_);
    }
    ScopedImeContext(const ScopedImeContext&) = delete;
    ScopedImeContext& operator=(const ScopedImeContext&) = delete;
    operator HIMC() const { return context_; }

private:
    HWND window_;
    HIMC context_;
};

// Selects an object into a DC and puts the previous one back at the end of the scope.
class ScopedSelectObj {
public:
    ScopedSelectObj(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~ScopedSelectObj() {
        if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    }
    ScopedSelectObj(const ScopedSelectObj&) = delete;
    ScopedSelectObj& operator=(const ScopedSelectObj&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// One reference to a COM object.
template <typename T>
class ScopedComPtr {
public:
    ScopedComPtr() = default;
    explicit ScopedComPtr(T* p) : p_(p) {
        if (p_) ++LiveCounter(LiveKind::ComRef);
    }
    ~ScopedComPtr() { Reset(); }
    ScopedComPtr(const ScopedComPtr&) = delete;
    ScopedComPtr& operator=(const ScopedComPtr&) = delete;

    void Reset() {
        Adopt();
        if (p_) {
            p_->Release();
            p_ = nullptr;
            --LiveCounter(LiveKind::ComRef);
        }
    }
    // For creation functions that write an interface pointer: releases what is held first.
    T** Receive() {
        Reset();
        receiving_ = true;
        // Counted when first used (or reset): the creation function writes p_ after we return.
        return &p_;
    }
    T* Get() {
        Adopt();
        return p_;
    }
    T* operator->() { return Get(); }
    explicit operator bool() {
        Adopt();
        return p_ != nullptr;
    }

private:
    void Adopt() {
        if (receiving_) {
            receiving_ = false;
            if (p_) ++LiveCounter(LiveKind::ComRef);
        }
    }
    T* p_ = nullptr;
    bool receiving_ = false;
};

// OleInitialize for the lifetime of the scope (COM on the UI thread, as drag and drop and the
// shell dialogs need).
class ScopedOle {
public:
    ScopedOle() : ok_(SUCCEEDED(OleInitialize(nullptr))) {}
    ~ScopedOle() {
        if (ok_) OleUninitialize();
    }
    ScopedOle(const ScopedOle&) = delete;
    ScopedOle& operator=(const ScopedOle&) = delete;

private:
    bool ok_;
};
