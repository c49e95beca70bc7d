#pragma once

// Small move-only owners for the handle kinds the library holds. Each kind is
// a traits type naming its empty value and how it is closed; the owner gives
// the usual verbs: get, release, reset, put (for out-parameters), explicit bool.

#include <windows.h>
#include <msi.h>
#include <unknwn.h>
#include <winsvc.h>

#include <utility>

namespace imdp {

template <typename Traits>
class unique_handle {
public:
    using pointer = typename Traits::pointer;

    unique_handle() noexcept : value_(Traits::invalid()) {}
    explicit unique_handle(pointer value) noexcept : value_(value) {}
    unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    ~unique_handle() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    pointer release() noexcept
    {
        pointer value = value_;
        value_ = Traits::invalid();
        return value;
    }

    void reset(pointer value = Traits::invalid()) noexcept
    {
        if (value_ != Traits::invalid())
            Traits::close(value_);
        value_ = value;
    }

    // Closes what is held and gives the address for a function that fills it.
    pointer* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    pointer value_;
};

struct msi_handle_traits {
    using pointer = MSIHANDLE;
    static pointer invalid() noexcept { return 0; }
    static void close(pointer h) noexcept { MsiCloseHandle(h); }
};

struct reg_key_traits {
    using pointer = HKEY;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { RegCloseKey(h); }
};

struct service_handle_traits {
    using pointer = SC_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { CloseServiceHandle(h); }
};

// Kernel objects whose "no handle" value is NULL (processes, threads, events,
// mutexes, tokens).
struct kernel_handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { CloseHandle(h); }
};

// Kernel objects whose "no handle" value is INVALID_HANDLE_VALUE (CreateFileW,
// CreateToolhelp32Snapshot).
struct file_handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { CloseHandle(h); }
};

struct find_handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { FindClose(h); }
};

struct module_traits {
    using pointer = HMODULE;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { FreeLibrary(h); }
};

struct local_memory_traits {
    using pointer = HLOCAL;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { LocalFree(h); }
};

// Security identifiers from AllocateAndInitializeSid.
struct sid_traits {
    using pointer = PSID;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { FreeSid(h); }
};

using unique_msi_handle = unique_handle<msi_handle_traits>;
using unique_hkey = unique_handle<reg_key_traits>;
using unique_service_handle = unique_handle<service_handle_traits>;
using unique_kernel_handle = unique_handle<kernel_handle_traits>;
using unique_file_handle = unique_handle<file_handle_traits>;
using unique_find_handle = unique_handle<find_handle_traits>;
using unique_module = unique_handle<module_traits>;
using unique_local_memory = unique_handle<local_memory_traits>;
using unique_sid = unique_handle<sid_traits>;

// Owner of one COM interface reference.
template <typename T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    explicit com_ptr(T* p) noexcept : p_(p) {}
    com_ptr(com_ptr&& other) noexcept : p_(other.release()) {}
    com_ptr& operator=(com_ptr&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    ~com_ptr() { reset(); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    T* release() noexcept
    {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(T* p = nullptr) noexcept
    {
        if (p_ != nullptr)
            p_->Release();
        p_ = p;
    }
    T** put() noexcept
    {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};

} // namespace imdp
