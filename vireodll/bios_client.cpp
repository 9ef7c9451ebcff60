#include "vireodll/bios_client.h"

#include <objbase.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstring>
#include <initializer_list>

#include "common/handles.h"
#include "crvwmiex.h"

#include "common/safe_strings.h"

namespace {

// The BIOS's own code for "the output had an unexpected shape".
constexpr LONG kLengthMismatch = 3;
constexpr DWORD kAllContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// Releases an interface pointer when it goes out of scope.
template <typename Interface>
class ComPointer {
public:
    ComPointer() = default;
    ~ComPointer() {
        if (pointer_) pointer_->Release();
    }
    ComPointer(const ComPointer&) = delete;
    ComPointer& operator=(const ComPointer&) = delete;

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    void** addressof() { return reinterpret_cast<void**>(&pointer_); }

private:
    Interface* pointer_ = nullptr;
};

// A variant that starts as a byte array holding no array, and is released
// with VariantClear when it goes out of scope: whatever the server left in it
// (an array, a string, an interface) is freed, and nothing held by reference.
class ByteArrayVariant {
public:
    ByteArrayVariant() {
        VariantInit(&variant_);
        variant_.vt = VT_ARRAY | VT_UI1;
        variant_.parray = nullptr;
    }
    ~ByteArrayVariant() { VariantClear(&variant_); }
    ByteArrayVariant(const ByteArrayVariant&) = delete;
    ByteArrayVariant& operator=(const ByteArrayVariant&) = delete;

    VARIANT* get() { return &variant_; }
    // An array of any kind, held directly or by reference.
    bool holdsArray() const { return (variant_.vt & VT_ARRAY) && variant_.parray != nullptr; }
    // Only a byte array held directly can be copied from: its type says so.
    SAFEARRAY* byteArray() const {
        return variant_.vt == (VT_ARRAY | VT_UI1) ? variant_.parray : nullptr;
    }
    void hold(SAFEARRAY* array) { variant_.parray = array; }

private:
    VARIANT variant_;
};

// Fills the input variant with inSize bytes, stopping at the first put that
// fails; returns that failure, or S_OK. No array at all is not a failure.
HRESULT FillInput(ByteArrayVariant& input, ULONG inSize, const BYTE* inData) {
    if (inSize == 0) return S_OK;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, inSize);
    if (array == nullptr) return S_OK;
    input.hold(array);
    for (LONG index = 0; index < static_cast<LONG>(inSize); ++index) {
        BYTE value = inData[index];
        const HRESULT put = SafeArrayPutElement(array, &index, &value);
        if (FAILED(put)) return put;
    }
    return S_OK;
}

HRESULT ConnectToServer(ComPointer<IcrvWmiEx>& server) {
    HRESULT result;
    {
        ComPointer<IUnknown> object;
        result = CoCreateInstance(CLSID_crvwmiex, nullptr, kAllContexts, IID_IUnknown,
                                  object.addressof());
        if (SUCCEEDED(result)) {
            result = OleRun(object.get());
            if (SUCCEEDED(result))
                result = object->QueryInterface(IID_IcrvWmiEx, server.addressof());
        }
    }
    return result == E_NOINTERFACE ? E_FAIL : result;
}

// Only a one-dimensional array of one-byte elements can be copied byte for
// byte; any other shape counts as a length mismatch.
bool IsByteVector(SAFEARRAY* array) {
    return array != nullptr && SafeArrayGetDim(array) == 1 && SafeArrayGetElemsize(array) == 1;
}

// Copies the server's output byte array into outData when its element count
// is outSize; any other array (another element type, one held by reference,
// another shape or count) stores the mismatch code and leaves outData
// untouched.
void CopyOutput(SAFEARRAY* array, ULONG outSize, LONG* returnCode, BYTE* outData) {
    LONG lower = 0;
    LONG upper = -1;
    if (!IsByteVector(array) || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper)) ||
        static_cast<LONGLONG>(upper) - lower + 1 != static_cast<LONGLONG>(outSize)) {
        *returnCode = kLengthMismatch;
        return;
    }
    const LONG count = static_cast<LONG>(outSize);
    // Indexes outside 0..outSize-1 (a negative lower bound) have no byte in outData.
    for (LONG index = lower < 0 ? 0 : lower; index < count; ++index) {
        BYTE value = 0;
        if (SUCCEEDED(SafeArrayGetElement(array, &index, &value))) outData[index] = value;
    }
}

}  // namespace

CClientcrvwmiex::CClientcrvwmiex() : status_(S_OK) {
    ZeroMemory(serverPath_, sizeof(serverPath_));
    const DWORD expanded = ExpandEnvironmentStringsA("%ProgramFiles%", serverPath_, MAX_PATH);
    if (expanded != 0 && expanded <= MAX_PATH) {
        for (const char* part : {"\\Corvane", "\\Shared", "\\"}) {
            if (FAILED(StringCchCatA(serverPath_, MAX_PATH, part))) break;
        }
    }
    if (memchr(serverPath_, '\0', MAX_PATH) != nullptr)
        StringCchCatA(serverPath_, MAX_PATH, "crvwmiex.exe");

    vireo::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    vireo::UniqueServiceHandle service;
    if (manager) service.reset(OpenServiceA(manager.get(), "crvwmiex", SERVICE_QUERY_CONFIG));
    if (!service) status_ = E_FAIL;
}

CClientcrvwmiex::~CClientcrvwmiex() = default;

HRESULT CClientcrvwmiex::ExecMethodEx(LONG command, LONG commandType, ULONG inSize, ULONG outSize,
                                      LONG* returnCode, const BYTE* inData, BYTE* outData) {
    ByteArrayVariant input;
    const HRESULT running = FillInput(input, inSize, inData);
    ByteArrayVariant output;
    if (SUCCEEDED(running) && outSize != 0) output.hold(SafeArrayCreateVector(VT_UI1, 0, outSize));

    ComPointer<IcrvWmiEx> server;
    const HRESULT connected = ConnectToServer(server);
    if (FAILED(connected)) return connected;

    const HRESULT result = server->crvExecMethodEx(command, commandType, inSize, outSize,
                                                   returnCode, input.get(), output.get());
    if (FAILED(result)) {
        SetErrorInfo(0, nullptr);
        return result;
    }
    if (outSize != 0 && output.holdsArray())
        CopyOutput(output.byteArray(), outSize, returnCode, outData);
    return result;
}
