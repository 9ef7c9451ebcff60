// Stand-in for the maker's WMI-extension server crvwmiex.exe: an
// out-of-process COM server for CLSID_crvwmiex whose IcrvWmiEx answers
// crvExecMethodEx as HKCU\Software\CorvaneBench\crvwmiex says (read at each
// call: Behaviour, ReturnCode, Records, LowerBound) and journals each call.
// IDispatch goes through the type library embedded in the executable, which
// also marshals the calls across processes.
//
//   crvwmiex /RegServer     registers the class, the type library and the
//                           "crvwmiex" service entry (which is never started)
//   crvwmiex /UnregServer   removes all three
//   crvwmiex [-Embedding]   serves until the last object and lock are gone
//                           (and LingerMs more, read at start), or until 60 s
//                           pass without any object; then it revokes its
//                           class and leaves after a quiet second
//
// StoppingFor (a count) makes that many activations meet a server that is
// shutting down: CreateInstance answers CO_E_SERVER_STOPPING, and the server
// then leaves as soon as it holds no object.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <strsafe.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "common/handles.h"
#include "crvwmiex.h"
#include "journal.h"

namespace {

using vireo::UniqueHkey;
using vireo::UniqueServiceHandle;

constexpr char kConfigKey[] = "Software\\CorvaneBench\\crvwmiex";
constexpr char kServiceName[] = "crvwmiex";
constexpr char kServiceDisplayName[] = "Corvane WMI extension";
constexpr HRESULT kMethodFailure = static_cast<HRESULT>(0x80041001L);
constexpr LONG kDefaultReturnCodeOnly = 5;
constexpr ULONGLONG kIdleLimitMs = 60000;
// How long a server whose class is revoked still answers: a client that was
// handed the class object just before the revoke reaches it within this time.
constexpr ULONGLONG kQuietAfterRevokeMs = 1000;
// Posted to the main thread when the last object or lock is gone.
constexpr UINT kCheckLifetime = WM_APP + 1;

// ---------------------------------------------------------------------------
// Holders.

// Releases an interface pointer when it goes out of scope.
template <typename Interface>
class ComPointer {
public:
    ComPointer() = default;
    ~ComPointer() { reset(); }
    ComPointer(const ComPointer&) = delete;
    ComPointer& operator=(const ComPointer&) = delete;

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    Interface** addressof() {
        reset();
        return &pointer_;
    }
    void reset() {
        if (pointer_) pointer_->Release();
        pointer_ = nullptr;
    }

private:
    Interface* pointer_ = nullptr;
};

// Destroys a safe array unless it was handed on with release().
class UniqueSafeArray {
public:
    explicit UniqueSafeArray(SAFEARRAY* array) : array_(array) {}
    ~UniqueSafeArray() {
        if (array_) SafeArrayDestroy(array_);
    }
    UniqueSafeArray(const UniqueSafeArray&) = delete;
    UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;

    SAFEARRAY* get() const { return array_; }
    SAFEARRAY* release() {
        SAFEARRAY* array = array_;
        array_ = nullptr;
        return array;
    }
    void reset(SAFEARRAY* array) {
        if (array_) SafeArrayDestroy(array_);
        array_ = array;
    }

private:
    SAFEARRAY* array_;
};

// A safe array's elements, locked for direct access while the holder lives.
class ArrayData {
public:
    explicit ArrayData(SAFEARRAY* array) : array_(array) {
        if (array_ == nullptr || FAILED(SafeArrayAccessData(array_, &data_))) data_ = nullptr;
    }
    ~ArrayData() {
        if (data_) SafeArrayUnaccessData(array_);
    }
    ArrayData(const ArrayData&) = delete;
    ArrayData& operator=(const ArrayData&) = delete;

    BYTE* bytes() const { return static_cast<BYTE*>(data_); }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

// ---------------------------------------------------------------------------
// Server lifetime. Objects live in this single-threaded apartment, so every
// change happens on the main thread; the counters are interlocked anyway.

LONG g_liveObjects = 0;
LONG g_serverLocks = 0;
ULONGLONG g_idleSince = 0;
// How long the server stays after its last object and lock are gone. The pass
// asks again at once after a failed attempt; with a linger that request
// reaches this server rather than one that is already leaving.
ULONGLONG g_lingerMs = 0;
// Whether a client has created an object or locked the server yet: until
// then only the minute without objects ends it.
bool g_served = false;
DWORD g_mainThread = 0;

// The server is done once its clients have left no object and no lock for
// the linger time, or once no object has been left for a minute, whatever the
// locks say.
bool ServerIsDone() {
    if (g_liveObjects != 0) return false;
    const ULONGLONG idle = GetTickCount64() - g_idleSince;
    return idle >= kIdleLimitMs || (g_served && g_serverLocks == 0 && idle >= g_lingerMs);
}

// After its class is revoked, the server leaves once it has had no object and
// no lock for the quiet time.
bool QuietSinceRevoke() {
    return g_liveObjects == 0 && g_serverLocks == 0 &&
           GetTickCount64() - g_idleSince >= kQuietAfterRevokeMs;
}

// Without a linger the server stops as soon as its last object and lock are
// gone; the main loop decides, between two incoming calls.
void QuitNowIfUnused() {
    if (g_lingerMs == 0 && g_liveObjects == 0 && g_serverLocks == 0)
        PostThreadMessageA(g_mainThread, kCheckLifetime, 0, 0);
}

void ObjectCreated() {
    InterlockedIncrement(&g_liveObjects);
    g_served = true;
}

void ObjectDestroyed() {
    if (InterlockedDecrement(&g_liveObjects) == 0) {
        g_idleSince = GetTickCount64();
        QuitNowIfUnused();
    }
}

// ---------------------------------------------------------------------------
// Configuration of the current call.

enum class Behaviour {
    Answer,
    ReturnCodeOnly,
    WrongLength,
    WideElements,
    TwoDimensions,
    FailMethod,
    ExitDuringCall,
    NoArray,
    LowerBound
};

struct Configuration {
    Behaviour behaviour = Behaviour::Answer;
    bool hasReturnCode = false;
    DWORD returnCode = 0;
    LONG lowerBound = 1;
    std::vector<BYTE> records;
};

Behaviour ParseBehaviour(const char* name) {
    struct Named {
        const char* name;
        Behaviour behaviour;
    };
    static const Named kNames[] = {
        {"answer", Behaviour::Answer},
        {"return-code", Behaviour::ReturnCodeOnly},
        {"wrong-length", Behaviour::WrongLength},
        {"wide-elements", Behaviour::WideElements},
        {"two-dimensions", Behaviour::TwoDimensions},
        {"fail-method", Behaviour::FailMethod},
        {"exit-during-call", Behaviour::ExitDuringCall},
        {"no-array", Behaviour::NoArray},
        {"lower-bound", Behaviour::LowerBound},
    };
    for (const Named& named : kNames)
        if (lstrcmpiA(name, named.name) == 0) return named.behaviour;
    return Behaviour::Answer;  // unknown names answer normally
}

Configuration ReadConfiguration() {
    Configuration config;

    char behaviour[64] = "";
    DWORD size = sizeof(behaviour);
    if (RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "Behaviour", RRF_RT_REG_SZ, nullptr, behaviour,
                     &size) == ERROR_SUCCESS) {
        behaviour[ARRAYSIZE(behaviour) - 1] = '\0';
        config.behaviour = ParseBehaviour(behaviour);
    }

    size = sizeof(config.returnCode);
    config.hasReturnCode = RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "ReturnCode",
                                        RRF_RT_REG_DWORD, nullptr, &config.returnCode,
                                        &size) == ERROR_SUCCESS;

    DWORD lowerBound = 0;
    size = sizeof(lowerBound);
    if (RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "LowerBound", RRF_RT_REG_DWORD, nullptr,
                     &lowerBound, &size) == ERROR_SUCCESS)
        config.lowerBound = static_cast<LONG>(lowerBound);

    size = 0;
    if (RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "Records", RRF_RT_REG_BINARY, nullptr, nullptr,
                     &size) == ERROR_SUCCESS &&
        size > 0) {
        config.records.resize(size);
        if (RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "Records", RRF_RT_REG_BINARY, nullptr,
                         config.records.data(), &size) == ERROR_SUCCESS)
            config.records.resize(size);
        else
            config.records.clear();
    }
    return config;
}

// The record byte at index, zero past the end of the records.
BYTE RecordByte(const Configuration& config, ULONG index) {
    return index < config.records.size() ? config.records[index] : 0;
}

// ---------------------------------------------------------------------------
// Variants and arrays.

// The array a variant holds (directly or by reference), or null.
SAFEARRAY* ArrayOf(const VARIANT* variant) {
    if (variant == nullptr || (variant->vt & VT_ARRAY) == 0) return nullptr;
    if (variant->vt & VT_BYREF) return variant->pparray ? *variant->pparray : nullptr;
    return variant->parray;
}

// Elements over all dimensions.
ULONGLONG ElementCount(SAFEARRAY* array) {
    const UINT dimensions = SafeArrayGetDim(array);
    if (dimensions == 0) return 0;
    ULONGLONG count = 1;
    for (UINT dimension = 1; dimension <= dimensions; ++dimension) {
        LONG lower = 0, upper = -1;
        if (FAILED(SafeArrayGetLBound(array, dimension, &lower)) ||
            FAILED(SafeArrayGetUBound(array, dimension, &upper)) || upper < lower)
            return 0;
        count *= static_cast<ULONGLONG>(static_cast<LONGLONG>(upper) - lower + 1);
    }
    return count;
}

bool IsByteVectorOf(const VARIANT* variant, ULONG count) {
    SAFEARRAY* array = ArrayOf(variant);
    return array != nullptr && (variant->vt & VT_TYPEMASK) == VT_UI1 &&
           SafeArrayGetDim(array) == 1 && SafeArrayGetElemsize(array) == 1 &&
           ElementCount(array) == count;
}

// Nothing to fill: empty, null, or an array variant without an array.
bool HoldsNoArray(const VARIANT* variant) {
    if (variant->vt == VT_EMPTY || variant->vt == VT_NULL) return true;
    return (variant->vt & VT_ARRAY) != 0 && ArrayOf(variant) == nullptr;
}

// Puts array (of elementType) into the variant, destroying what it held. A
// by-reference array of the same type is replaced where it is referenced.
void PutArray(VARIANT* variant, VARTYPE elementType, UniqueSafeArray& array) {
    if (variant->vt == (VT_BYREF | VT_ARRAY | elementType) && variant->pparray != nullptr) {
        if (*variant->pparray) SafeArrayDestroy(*variant->pparray);
        *variant->pparray = array.release();
        return;
    }
    VariantClear(variant);
    variant->vt = VT_ARRAY | elementType;
    variant->parray = array.release();
}

// Copies the records, zero-padded or cut, into count bytes.
void CopyRecords(const Configuration& config, BYTE* bytes, ULONG count) {
    for (ULONG index = 0; index < count; ++index) bytes[index] = RecordByte(config, index);
}

// A one-dimensional byte array of count elements holding the records.
HRESULT NewRecordVector(const Configuration& config, ULONG count, UniqueSafeArray& result) {
    UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, 0, count));
    if (array.get() == nullptr) return E_OUTOFMEMORY;
    if (count > 0) {
        ArrayData data(array.get());
        if (data.bytes() == nullptr) return E_UNEXPECTED;
        CopyRecords(config, data.bytes(), count);
    }
    result.reset(array.release());
    return S_OK;
}

// ---------------------------------------------------------------------------
// What each behaviour leaves in the output variant.

HRESULT AnswerOutput(const Configuration& config, ULONG outSize, VARIANT* output) {
    if (IsByteVectorOf(output, outSize)) {
        if (outSize == 0) return S_OK;
        ArrayData data(ArrayOf(output));
        if (data.bytes() == nullptr) return E_UNEXPECTED;
        CopyRecords(config, data.bytes(), outSize);
        return S_OK;
    }
    if (outSize == 0 || !HoldsNoArray(output)) return S_OK;  // any other shape stays as received
    UniqueSafeArray array(nullptr);
    const HRESULT created = NewRecordVector(config, outSize, array);
    if (FAILED(created)) return created;
    PutArray(output, VT_UI1, array);
    return S_OK;
}

HRESULT WrongLengthOutput(const Configuration& config, ULONG outSize, VARIANT* output) {
    UniqueSafeArray array(nullptr);
    const HRESULT created = NewRecordVector(config, outSize + 3, array);
    if (FAILED(created)) return created;
    PutArray(output, VT_UI1, array);
    return S_OK;
}

HRESULT WideElementsOutput(const Configuration& config, ULONG outSize, VARIANT* output) {
    UniqueSafeArray array(SafeArrayCreateVector(VT_I4, 0, outSize));
    if (array.get() == nullptr) return E_OUTOFMEMORY;
    if (outSize > 0) {
        ArrayData data(array.get());
        if (data.bytes() == nullptr) return E_UNEXPECTED;
        LONG* elements = reinterpret_cast<LONG*>(data.bytes());
        for (ULONG index = 0; index < outSize; ++index) elements[index] = RecordByte(config, index);
    }
    PutArray(output, VT_I4, array);
    return S_OK;
}

// A byte array of the given bounds whose first outSize bytes hold the
// records, put into the output variant.
HRESULT RecordArrayOutput(const Configuration& config, UINT dimensions, SAFEARRAYBOUND* bounds,
                          ULONG outSize, VARIANT* output) {
    UniqueSafeArray array(SafeArrayCreate(VT_UI1, dimensions, bounds));
    if (array.get() == nullptr) return E_OUTOFMEMORY;
    if (outSize > 0) {
        ArrayData data(array.get());
        if (data.bytes() == nullptr) return E_UNEXPECTED;
        CopyRecords(config, data.bytes(), outSize);
    }
    PutArray(output, VT_UI1, array);
    return S_OK;
}

// outSize x 1 bytes: the first dimension has outSize elements, and with a
// second dimension of one element the bytes lie in index order.
HRESULT TwoDimensionsOutput(const Configuration& config, ULONG outSize, VARIANT* output) {
    SAFEARRAYBOUND bounds[2];
    bounds[0].lLbound = 0;
    bounds[0].cElements = outSize;
    bounds[1].lLbound = 0;
    bounds[1].cElements = 1;
    return RecordArrayOutput(config, 2, bounds, outSize, output);
}

// The records in outSize elements numbered from the configured lower bound.
HRESULT LowerBoundOutput(const Configuration& config, ULONG outSize, VARIANT* output) {
    SAFEARRAYBOUND bounds;
    bounds.lLbound = config.lowerBound;
    bounds.cElements = outSize;
    return RecordArrayOutput(config, 1, &bounds, outSize, output);
}

// Success, but the output variant holds a number where the array belongs.
HRESULT NoArrayOutput(ULONG outSize, VARIANT* output) {
    VariantClear(output);
    output->vt = VT_I4;
    output->lVal = static_cast<LONG>(outSize);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Journal.

// "null" without an array, otherwise the array's bytes in hex (cut short when
// the text is full).
void DescribeInput(const VARIANT* input, char* text, size_t capacity) {
    SAFEARRAY* array = ArrayOf(input);
    if (array == nullptr) {
        StringCchCopyA(text, capacity, "null");
        return;
    }
    text[0] = '\0';
    const ULONGLONG bytes = ElementCount(array) * SafeArrayGetElemsize(array);
    if (bytes == 0) return;
    ArrayData data(array);
    if (data.bytes() == nullptr) return;
    for (ULONGLONG index = 0; index < bytes; ++index) {
        char pair[3];
        StringCchPrintfA(pair, ARRAYSIZE(pair), "%02x", data.bytes()[index]);
        if (FAILED(StringCchCatA(text, capacity, pair))) break;
    }
}

void JournalCall(LONG command, LONG commandType, ULONG inSize, ULONG outSize, const VARIANT* input,
                 const VARIANT* output) {
    char inputText[1024];
    DescribeInput(input, inputText, ARRAYSIZE(inputText));
    char outputText[32] = "null";
    if (SAFEARRAY* array = ArrayOf(output))
        StringCchPrintfA(outputText, ARRAYSIZE(outputText), "%llu", ElementCount(array));
    char event[1400];
    StringCchPrintfA(event, ARRAYSIZE(event),
                     "crvExecMethodEx command=%ld type=%ld in=%lu out=%lu input=%s output-array=%s",
                     command, commandType, inSize, outSize, inputText, outputText);
    bench::AppendJournal(event);
}

// ---------------------------------------------------------------------------
// The COM object and its class factory.

// The interface's type information, from the type library in this executable.
HRESULT LoadInterfaceTypeInfo(ITypeInfo** info) {
    char path[MAX_PATH] = "";
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    OLECHAR widePath[MAX_PATH] = L"";
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0) return E_FAIL;
    widePath[MAX_PATH - 1] = L'\0';
    ComPointer<ITypeLib> library;
    const HRESULT loaded = LoadTypeLibEx(widePath, REGKIND_NONE, library.addressof());
    if (FAILED(loaded)) return loaded;
    return library->GetTypeInfoOfGuid(IID_IcrvWmiEx, info);
}

class WmiExtension final : public IcrvWmiEx {
public:
    WmiExtension() { ObjectCreated(); }
    ~WmiExtension() { ObjectDestroyed(); }
    WmiExtension(const WmiExtension&) = delete;
    WmiExtension& operator=(const WmiExtension&) = delete;

    HRESULT Initialize() { return LoadInterfaceTypeInfo(typeInfo_.addressof()); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, IID_IcrvWmiEx)) {
            *object = static_cast<IcrvWmiEx*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch, through the type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        typeInfo_->AddRef();
        *info = typeInfo_.get();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        return DispGetIDsOfNames(typeInfo_.get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override {
        if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        return typeInfo_->Invoke(static_cast<IcrvWmiEx*>(this), member, flags, parameters, result,
                                 exception, argumentError);
    }

    // IcrvWmiEx
    HRESULT STDMETHODCALLTYPE crvExecMethodEx(LONG command, LONG commandType, ULONG inSize,
                                              ULONG outSize, LONG* returnCode, VARIANT* inData,
                                              VARIANT* outData) override {
        JournalCall(command, commandType, inSize, outSize, inData, outData);
        const Configuration config = ReadConfiguration();
        if (config.behaviour == Behaviour::FailMethod) return kMethodFailure;
        if (returnCode == nullptr || outData == nullptr) return E_POINTER;

        const LONG configured = static_cast<LONG>(config.returnCode);
        switch (config.behaviour) {
        case Behaviour::ReturnCodeOnly:
            *returnCode = config.hasReturnCode ? configured : kDefaultReturnCodeOnly;
            return S_OK;
        case Behaviour::WrongLength:
            *returnCode = 0;
            return WrongLengthOutput(config, outSize, outData);
        case Behaviour::WideElements:
            *returnCode = 0;
            return WideElementsOutput(config, outSize, outData);
        case Behaviour::TwoDimensions:
            *returnCode = 0;
            return TwoDimensionsOutput(config, outSize, outData);
        case Behaviour::LowerBound:
            *returnCode = 0;
            return LowerBoundOutput(config, outSize, outData);
        case Behaviour::NoArray:
            *returnCode = 0;
            return NoArrayOutput(outSize, outData);
        case Behaviour::ExitDuringCall:
            // The server's process ends before it answers.
            ExitProcess(3);
        case Behaviour::Answer:
        case Behaviour::FailMethod:
            break;
        }
        *returnCode = config.hasReturnCode ? configured : 0;
        return AnswerOutput(config, outSize, outData);
    }

private:
    LONG references_ = 1;
    ComPointer<ITypeInfo> typeInfo_;
};

// Whether this activation is one of the StoppingFor count still to meet a
// server that is shutting down (the count goes down by one).
bool TakeOneStoppingActivation() {
    DWORD stopping = 0;
    DWORD size = sizeof(stopping);
    if (RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "StoppingFor", RRF_RT_REG_DWORD, nullptr,
                     &stopping, &size) != ERROR_SUCCESS ||
        stopping == 0)
        return false;
    --stopping;
    RegSetKeyValueA(HKEY_CURRENT_USER, kConfigKey, "StoppingFor", REG_DWORD, &stopping,
                    sizeof(stopping));
    return true;
}

// One static factory; COM's references to it do not keep the server alive.
class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        if (TakeOneStoppingActivation()) {
            // A server that says it is stopping leaves like one whose last
            // client has gone, not after the minute an unused one waits.
            g_served = true;
            g_idleSince = GetTickCount64();
            return CO_E_SERVER_STOPPING;
        }
        WmiExtension* extension = new (std::nothrow) WmiExtension();
        if (extension == nullptr) return E_OUTOFMEMORY;
        HRESULT result = extension->Initialize();
        if (SUCCEEDED(result)) result = extension->QueryInterface(iid, object);
        extension->Release();  // the caller's reference, if any, keeps it
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            InterlockedIncrement(&g_serverLocks);
            g_served = true;
        } else if (InterlockedDecrement(&g_serverLocks) == 0 && g_liveObjects == 0) {
            g_idleSince = GetTickCount64();
            QuitNowIfUnused();
        }
        return S_OK;
    }
};

Factory g_factory;

// ---------------------------------------------------------------------------
// Messages and registration.

// Writes a line to stderr, when there is one (a redirection or a console).
void WriteErrorLine(const char* line) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(error, line, static_cast<DWORD>(lstrlenA(line)), &written, nullptr);
}

void ReportError(const char* what, DWORD code) {
    char line[512];
    StringCchPrintfA(line, ARRAYSIZE(line), "crvwmiex: %s (0x%08lX)\r\n", what, code);
    WriteErrorLine(line);
}

// "{XXXXXXXX-...}" in capitals, as the registry keys name it.
bool GuidText(REFGUID guid, char (&text)[40]) {
    OLECHAR wide[40] = L"";
    if (StringFromGUID2(guid, wide, ARRAYSIZE(wide)) == 0) return false;
    wide[ARRAYSIZE(wide) - 1] = L'\0';
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, text, ARRAYSIZE(text), nullptr, nullptr) == 0)
        return false;
    text[ARRAYSIZE(text) - 1] = '\0';
    return true;
}

LONG SetDefaultValue(const char* subkey, const char* value) {
    UniqueHkey key;
    LONG status = RegCreateKeyExA(HKEY_CLASSES_ROOT, subkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  key.addressof(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>(lstrlenA(value) + 1));
}

// The class key, "CLSID\{...}".
bool ClassKeyPath(char (&path)[64]) {
    char clsid[40];
    return GuidText(CLSID_crvwmiex, clsid) &&
           SUCCEEDED(StringCchPrintfA(path, ARRAYSIZE(path), "CLSID\\%s", clsid));
}

int Register() {
    char path[MAX_PATH] = "";
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    if (length == 0 || length >= MAX_PATH) {
        ReportError("cannot find this program's path", GetLastError());
        return 1;
    }
    // A path with spaces is quoted, so that it reads as one command word.
    char command[MAX_PATH + 2] = "";
    const HRESULT quoted = StringCchPrintfA(command, ARRAYSIZE(command),
                                            std::strchr(path, ' ') ? "\"%s\"" : "%s", path);
    char classKey[64] = "", libid[40] = "", subkey[96] = "";
    if (FAILED(quoted) || !ClassKeyPath(classKey) || !GuidText(LIBID_crvwmiexLib, libid)) {
        ReportError("cannot format the registration", ERROR_INSUFFICIENT_BUFFER);
        return 1;
    }

    LONG status = SetDefaultValue(classKey, "crvwmiex");
    if (status == ERROR_SUCCESS) {
        StringCchPrintfA(subkey, ARRAYSIZE(subkey), "%s\\LocalServer32", classKey);
        status = SetDefaultValue(subkey, command);
    }
    if (status == ERROR_SUCCESS) {
        StringCchPrintfA(subkey, ARRAYSIZE(subkey), "%s\\TypeLib", classKey);
        status = SetDefaultValue(subkey, libid);
    }
    if (status != ERROR_SUCCESS) {
        ReportError("cannot register the class", static_cast<DWORD>(status));
        return 1;
    }

    // Registering the type library also registers IcrvWmiEx with the
    // universal marshaler.
    OLECHAR widePath[MAX_PATH] = L"";
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0) {
        ReportError("cannot convert this program's path", GetLastError());
        return 1;
    }
    widePath[MAX_PATH - 1] = L'\0';
    ComPointer<ITypeLib> library;
    const HRESULT registered = LoadTypeLibEx(widePath, REGKIND_REGISTER, library.addressof());
    if (FAILED(registered)) {
        ReportError("cannot register the type library", static_cast<DWORD>(registered));
        return 1;
    }

    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        ReportError("cannot open the service control manager", GetLastError());
        return 1;
    }
    UniqueServiceHandle service(CreateServiceA(manager.get(), kServiceName, kServiceDisplayName,
                                               SERVICE_QUERY_CONFIG, SERVICE_WIN32_OWN_PROCESS,
                                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command,
                                               nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service && GetLastError() != ERROR_SERVICE_EXISTS) {
        ReportError("cannot create the service entry", GetLastError());
        return 1;
    }
    return 0;
}

// Whatever is already gone counts as removed.
int Unregister() {
    char classKey[64] = "";
    if (!ClassKeyPath(classKey)) {
        ReportError("cannot format the class key", ERROR_INSUFFICIENT_BUFFER);
        return 1;
    }
    int exitCode = 0;
    const LONG deleted = RegDeleteTreeA(HKEY_CLASSES_ROOT, classKey);
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
        ReportError("cannot remove the class", static_cast<DWORD>(deleted));
        exitCode = 1;
    }

    // Only a registered library is unregistered: for one that is not, the
    // platforms disagree on the error.
    BSTR registeredPath = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(LIBID_crvwmiexLib, 1, 0, 0, &registeredPath))) {
        SysFreeString(registeredPath);
        const HRESULT unregistered = UnRegisterTypeLib(LIBID_crvwmiexLib, 1, 0, 0, SYS_WIN32);
        if (FAILED(unregistered)) {
            ReportError("cannot unregister the type library", static_cast<DWORD>(unregistered));
            exitCode = 1;
        }
    }

    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        ReportError("cannot open the service control manager", GetLastError());
        return 1;
    }
    UniqueServiceHandle service(OpenServiceA(manager.get(), kServiceName, DELETE));
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
            ReportError("cannot open the service entry", GetLastError());
            exitCode = 1;
        }
    } else if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        ReportError("cannot delete the service entry", GetLastError());
        exitCode = 1;
    }
    return exitCode;
}

// ---------------------------------------------------------------------------
// Serving.

int Serve() {
    vireo::ComInitialization com;
    if (FAILED(com.result())) {
        ReportError("cannot initialise COM", static_cast<DWORD>(com.result()));
        return 1;
    }
    g_mainThread = GetCurrentThreadId();
    MSG message;
    // Creates this thread's message queue before anything posts to it.
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

    DWORD cookie = 0;
    const HRESULT registered = CoRegisterClassObject(
        CLSID_crvwmiex, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(registered)) {
        ReportError("cannot register the class object", static_cast<DWORD>(registered));
        return 1;
    }
    g_idleSince = GetTickCount64();
    DWORD lingerMs = 0;
    DWORD size = sizeof(lingerMs);
    if (RegGetValueA(HKEY_CURRENT_USER, kConfigKey, "LingerMs", RRF_RT_REG_DWORD, nullptr,
                     &lingerMs, &size) == ERROR_SUCCESS)
        g_lingerMs = lingerMs;
    // A check four times a second ends the server.
    const UINT_PTR timer = SetTimer(nullptr, 0, 250, nullptr);
    if (timer == 0) {
        ReportError("cannot set the timer", GetLastError());
        CoRevokeClassObject(cookie);
        return 1;
    }
    // Once done, the class is revoked at once, so no new activation is handed
    // this server; it still answers what reaches it (a new object keeps it),
    // and leaves after a quiet time with no object.
    bool revoked = false;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        const bool check = message.hwnd == nullptr &&
                           (message.message == kCheckLifetime ||
                            (message.message == WM_TIMER && message.wParam == timer));
        if (!check) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
            continue;
        }
        if (revoked) {
            if (QuietSinceRevoke()) break;
        } else if (ServerIsDone()) {
            CoRevokeClassObject(cookie);
            revoked = true;
            g_idleSince = GetTickCount64();
        }
    }
    KillTimer(nullptr, timer);
    if (!revoked) CoRevokeClassObject(cookie);
    return 0;
}

enum class Mode { Serve, Register, Unregister, Invalid };

// One optional switch, "-" or "/" followed by a word in any case.
Mode ParseCommandLine() {
    if (__argc < 2) return Mode::Serve;
    if (__argc > 2) return Mode::Invalid;
    const char* argument = __argv[1];
    if (argument[0] != '-' && argument[0] != '/') return Mode::Invalid;
    const char* word = argument + 1;
    if (lstrcmpiA(word, "RegServer") == 0) return Mode::Register;
    if (lstrcmpiA(word, "UnregServer") == 0) return Mode::Unregister;
    if (lstrcmpiA(word, "Embedding") == 0) return Mode::Serve;
    return Mode::Invalid;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    switch (ParseCommandLine()) {
    case Mode::Register:
        return Register();
    case Mode::Unregister:
        return Unregister();
    case Mode::Serve:
        return Serve();
    case Mode::Invalid:
        break;
    }
    WriteErrorLine("usage: crvwmiex [/RegServer | /UnregServer | /Embedding]\r\n");
    return 1;
}
