// Owning holders for the platform resources the product acquires. Each holder
// releases its resource when it goes out of scope, so a function never needs a
// clean-up ladder: acquire into a holder, return from anywhere.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <setupapi.h>

#include <cstdio>

namespace vireo {

// Move-only owner of a value described by Traits: Traits::invalid() is the
// empty value (a SetupAPI device list's is INVALID_HANDLE_VALUE, a registry
// key's is null) and Traits::close() releases a held value.
template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Type get() const { return value_; }
    bool valid() const { return value_ != Traits::invalid(); }
    explicit operator bool() const { return valid(); }

    // Address for an out-parameter; whatever was held is released first.
    Type* addressof() {
        reset();
        return &value_;
    }

    Type release() {
        Type value = value_;
        value_ = Traits::invalid();
        return value;
    }

    void reset(Type value = Traits::invalid()) {
        if (valid()) Traits::close(value_);
        value_ = value;
    }

private:
    Type value_ = Traits::invalid();
};

namespace detail {
template <typename T, auto Close>
struct NullIsEmpty {
    using Type = T;
    static T invalid() { return nullptr; }
    static void close(T value) { Close(value); }
};
template <typename T, auto Close>
struct InvalidHandleIsEmpty {
    using Type = T;
    static T invalid() { return INVALID_HANDLE_VALUE; }
    static void close(T value) { Close(value); }
};
inline void CloseKey(HKEY key) { RegCloseKey(key); }
inline void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }
inline void UnloadModule(HMODULE module) { FreeLibrary(module); }
inline void DestroyDeviceList(HDEVINFO list) { SetupDiDestroyDeviceInfoList(list); }
inline void CloseService(SC_HANDLE service) { CloseServiceHandle(service); }
// A failed close has no one to report to; the result is dropped on purpose.
inline void CloseFile(FILE* file) { (void)fclose(file); }
inline void FreeLocalMemory(HLOCAL memory) { LocalFree(memory); }
inline void CloseFind(HANDLE find) { FindClose(find); }
}  // namespace detail

using UniqueHkey = UniqueResource<detail::NullIsEmpty<HKEY, detail::CloseKey>>;
using UniqueHandle = UniqueResource<detail::NullIsEmpty<HANDLE, detail::CloseKernelHandle>>;
// Toolhelp snapshots and files report failure as INVALID_HANDLE_VALUE.
using UniqueFileHandle =
    UniqueResource<detail::InvalidHandleIsEmpty<HANDLE, detail::CloseKernelHandle>>;
using UniqueModule = UniqueResource<detail::NullIsEmpty<HMODULE, detail::UnloadModule>>;
using UniqueDeviceList =
    UniqueResource<detail::InvalidHandleIsEmpty<HDEVINFO, detail::DestroyDeviceList>>;
using UniqueServiceHandle = UniqueResource<detail::NullIsEmpty<SC_HANDLE, detail::CloseService>>;
// A directory listing begun with FindFirstFile.
using UniqueFindHandle = UniqueResource<detail::InvalidHandleIsEmpty<HANDLE, detail::CloseFind>>;
using UniqueStdioFile = UniqueResource<detail::NullIsEmpty<FILE*, detail::CloseFile>>;
// Memory the platform allocated for the caller with LocalAlloc (the active
// power scheme's GUID, for one).
template <typename T>
using UniqueLocalPointer = UniqueResource<detail::NullIsEmpty<T*, detail::FreeLocalMemory>>;

// Opens an existing registry key; the holder is empty when the open failed,
// and status (when given) says why.
inline UniqueHkey OpenRegistryKey(HKEY root, const char* path, REGSAM access,
                                  LONG* status = nullptr) {
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExA(root, path, 0, access, &key);
    if (result != ERROR_SUCCESS) key = nullptr;
    if (status != nullptr) *status = result;
    return UniqueHkey(key);
}

// Both handles of a started process, closed process first, then thread.
class UniqueProcessInformation {
public:
    UniqueProcessInformation() { ZeroMemory(&info_, sizeof(info_)); }
    ~UniqueProcessInformation() {
        if (info_.hProcess) CloseHandle(info_.hProcess);
        if (info_.hThread) CloseHandle(info_.hThread);
    }
    UniqueProcessInformation(const UniqueProcessInformation&) = delete;
    UniqueProcessInformation& operator=(const UniqueProcessInformation&) = delete;

    PROCESS_INFORMATION* addressof() { return &info_; }
    HANDLE process() const { return info_.hProcess; }

private:
    PROCESS_INFORMATION info_;
};

// COM initialisation on this thread, undone only when it succeeded
// (S_OK or S_FALSE).
class ComInitialization {
public:
    ComInitialization() : result_(CoInitialize(nullptr)) {}
    ~ComInitialization() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;

    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

}  // namespace vireo
