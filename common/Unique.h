// One small move-only owner per handle kind.
#pragma once

#include <windows.h>

#include <utility>

template <typename H, auto Close, H Invalid = H{}>
class Unique {
public:
    Unique() = default;
    explicit Unique(H h) : h_(h) {}
    Unique(Unique&& o) noexcept : h_(std::exchange(o.h_, Invalid)) {}
    Unique& operator=(Unique&& o) noexcept
    {
        reset(std::exchange(o.h_, Invalid));
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { reset(); }
    void reset(H h = Invalid)
    {
        if (h_ != Invalid)
            Close(h_);
        h_ = h;
    }
    H get() const { return h_; }
    H release() { return std::exchange(h_, Invalid); }
    explicit operator bool() const { return h_ != Invalid; }

private:
    H h_ = Invalid;
};

inline void CloseHandleChecked(HANDLE h) { ::CloseHandle(h); }
inline void FreeLibraryChecked(HMODULE h) { ::FreeLibrary(h); }

using UniqueHandle = Unique<HANDLE, &CloseHandleChecked>;
using UniqueModule = Unique<HMODULE, &FreeLibraryChecked>;
// CreateFile answers INVALID_HANDLE_VALUE, not null, on failure: owners keep null for "no handle".
inline HANDLE NullIfInvalid(HANDLE h) { return h == INVALID_HANDLE_VALUE ? nullptr : h; }
