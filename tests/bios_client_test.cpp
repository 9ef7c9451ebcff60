// The BIOS command client against servers registered in this process (one per
// row of the failure table) and through the out-of-process stand-in.
#include <gtest/gtest.h>

#include <ole2.h>

#include <functional>

#include "crvwmiex.h"
#include "support/machine.h"
#include "support/pause_recorder.h"
#include "support/wait_bound.h"
#include "vireodll/bios_client.h"
#include "vireodll/preference_pass.h"
#include "vireodll/wireless.h"

namespace vireo::testing {
namespace {

constexpr BYTE kSentinel = 0xbd;
constexpr LONG kUntouchedCode = 0x5a5a;

// What a fake server saw of one call.
struct ReceivedCall {
    LONG command = -1, commandType = -1;
    ULONG inSize = 0, outSize = 0;
    bool inputArrayNull = false, outputArrayNull = false;
    VARTYPE inputType = VT_EMPTY, outputType = VT_EMPTY;
    std::vector<BYTE> input;
    LONG outputCount = -1;
};

// How a fake server behaves; the default answers with record bytes 1, 2, 3...
struct FakeBehaviour {
    HRESULT createResult = S_OK;  // of IClassFactory::CreateInstance
    HRESULT runResult = S_OK;     // of IRunnableObject::Run
    bool offersInterface = true;
    HRESULT methodResult = S_OK;
    LONG returnCode = 0;
    // Replaces (or fills) the output variant; null leaves it as received.
    std::function<void(VARIANT* output, ULONG outSize)> answer = [](VARIANT* output, ULONG) {
        if (!(output->vt & VT_ARRAY) || output->parray == nullptr) return;
        BYTE* bytes = nullptr;
        SafeArrayAccessData(output->parray, reinterpret_cast<void**>(&bytes));
        for (ULONG i = 0; i < output->parray->rgsabound[0].cElements; ++i) bytes[i] = BYTE(i + 1);
        SafeArrayUnaccessData(output->parray);
    };
};

std::vector<BYTE> BytesOf(SAFEARRAY* array) {
    std::vector<BYTE> bytes(array->rgsabound[0].cElements);
    for (LONG i = 0; i < static_cast<LONG>(bytes.size()); ++i)
        SafeArrayGetElement(array, &i, &bytes[i]);
    return bytes;
}

// The byte a test array holds at index i.
BYTE ByteAt(LONG index) { return BYTE(0x40 + index); }

// A byte array of count elements numbered from lower, each holding ByteAt.
SAFEARRAY* ByteArrayFrom(LONG lower, ULONG count) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, lower, count);
    for (LONG i = lower; array != nullptr && i < lower + LONG(count); ++i) {
        BYTE value = ByteAt(i);
        SafeArrayPutElement(array, &i, &value);
    }
    return array;
}

// An object a server could leave in the output; counts the ones not released.
struct CountedObject : IUnknown {
    static inline int live = 0;
    CountedObject() { ++live; }
    virtual ~CountedObject() { --live; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references;
        if (left == 0) delete this;
        return left;
    }
    ULONG references = 1;
};

void Replace(VARIANT* variant, VARTYPE type, SAFEARRAY* array) {
    if ((variant->vt & VT_ARRAY) && variant->parray) SafeArrayDestroy(variant->parray);
    variant->vt = VT_ARRAY | type;
    variant->parray = array;
}

class FakeServer : public IcrvWmiEx, public IRunnableObject {
public:
    FakeServer(const FakeBehaviour& behaviour, ReceivedCall& received)
        : behaviour_(behaviour), received_(received) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch ||
            (iid == IID_IcrvWmiEx && behaviour_.offersInterface))
            *object = static_cast<IcrvWmiEx*>(this);
        else if (iid == IID_IRunnableObject)
            *object = static_cast<IRunnableObject*>(this);
        if (*object == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    // IDispatch: not used by the client.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
    // IcrvWmiEx
    HRESULT STDMETHODCALLTYPE crvExecMethodEx(LONG command, LONG commandType, ULONG inSize,
                                              ULONG outSize, LONG* returnCode, VARIANT* inData,
                                              VARIANT* outData) override {
        received_.command = command;
        received_.commandType = commandType;
        received_.inSize = inSize;
        received_.outSize = outSize;
        received_.inputType = inData->vt;
        received_.outputType = outData->vt;
        received_.inputArrayNull = inData->parray == nullptr;
        received_.outputArrayNull = outData->parray == nullptr;
        if (inData->parray) received_.input = BytesOf(inData->parray);
        if (outData->parray) received_.outputCount = LONG(outData->parray->rgsabound[0].cElements);
        *returnCode = behaviour_.returnCode;
        if (FAILED(behaviour_.methodResult)) {
            // As a dispatch server does: error information describes the failure.
            ICreateErrorInfo* error = nullptr;
            if (SUCCEEDED(CreateErrorInfo(&error))) {
                IErrorInfo* info = nullptr;
                if (SUCCEEDED(
                        error->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
                    SetErrorInfo(0, info);
                    info->Release();
                }
                error->Release();
            }
            return behaviour_.methodResult;
        }
        if (behaviour_.answer) behaviour_.answer(outData, outSize);
        return behaviour_.methodResult;
    }
    // IRunnableObject: only Run matters to OleRun.
    HRESULT STDMETHODCALLTYPE GetRunningClass(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Run(LPBINDCTX) override { return behaviour_.runResult; }
    BOOL STDMETHODCALLTYPE IsRunning() override { return TRUE; }
    HRESULT STDMETHODCALLTYPE LockRunning(BOOL, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL) override { return S_OK; }

private:
    virtual ~FakeServer() = default;
    const FakeBehaviour& behaviour_;
    ReceivedCall& received_;
    ULONG references_ = 1;
};

class FakeFactory : public IClassFactory {
public:
    FakeFactory(const FakeBehaviour& behaviour, ReceivedCall& received)
        : behaviour_(behaviour), received_(received) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** object) override {
        *object = nullptr;
        if (FAILED(behaviour_.createResult)) return behaviour_.createResult;
        auto* server = new FakeServer(behaviour_, received_);
        const HRESULT result = server->QueryInterface(iid, object);
        server->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    const FakeBehaviour& behaviour_;
    ReceivedCall& received_;
};

// Sentinel bytes on each side of the caller's output buffer.
constexpr size_t kGuard = 4;

struct CallOutcome {
    HRESULT result;
    LONG returnCode;
    std::vector<BYTE> buffer;  // kGuard sentinels, the output bytes, kGuard sentinels
    BYTE at(LONG index) const { return buffer[kGuard + index]; }
};

class BiosClient : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override {
        if (cookie_) CoRevokeClassObject(cookie_);
        CoUninitialize();
    }
    void RegisterFake() {
        ASSERT_EQ(S_OK, CoRegisterClassObject(CLSID_crvwmiex, &factory_, CLSCTX_INPROC_SERVER,
                                              REGCLS_MULTIPLEUSE, &cookie_));
    }
    // The call the wireless step makes, with sentinels in and around the
    // output and in the code.
    CallOutcome Call(ULONG inSize = 0, ULONG outSize = 16, const BYTE* input = nullptr) {
        CallOutcome outcome{E_UNEXPECTED, kUntouchedCode,
                            std::vector<BYTE>(outSize + 2 * kGuard, kSentinel)};
        BYTE* output = outcome.buffer.data() + kGuard;
        CClientcrvwmiex client;
        outcome.result = client.ExecMethodEx(1, 14, inSize, outSize, &outcome.returnCode,
                                             input ? input : output, output);
        return outcome;
    }
    static bool Untouched(const CallOutcome& outcome) {
        for (BYTE b : outcome.buffer)
            if (b != kSentinel) return false;
        return true;
    }

    FakeBehaviour behaviour_;
    ReceivedCall received_;
    FakeFactory factory_{behaviour_, received_};
    DWORD cookie_ = 0;
};

TEST_F(BiosClient, MatchingCountCopiesTheBytesAndKeepsTheServersCode) {
    behaviour_.returnCode = 0;
    RegisterFake();
    const auto outcome = Call(0, 16);
    EXPECT_EQ(S_OK, outcome.result);
    EXPECT_EQ(0, outcome.returnCode);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(BYTE(i + 1), outcome.at(i)) << i;
    EXPECT_EQ(kSentinel, outcome.at(16)) << "nothing written past outSize";
    EXPECT_EQ(1, received_.command);
    EXPECT_EQ(14, received_.commandType);
    EXPECT_EQ(16, received_.outputCount);
}

TEST_F(BiosClient, NonzeroCodeFromTheServerIsHandedBack) {
    behaviour_.returnCode = 9;
    RegisterFake();
    const auto outcome = Call();
    EXPECT_EQ(S_OK, outcome.result);
    EXPECT_EQ(9, outcome.returnCode);
}

TEST_F(BiosClient, InputBytesReachTheServerAndNoInputMeansANullArray) {
    RegisterFake();
    const BYTE input[] = {0x10, 0x80, 0xff, 0x00};
    Call(4, 8, input);
    EXPECT_EQ((std::vector<BYTE>{0x10, 0x80, 0xff, 0x00}), received_.input);
    EXPECT_EQ(VT_ARRAY | VT_UI1, received_.inputType);

    Call(0, 8);
    EXPECT_TRUE(received_.inputArrayNull);
    EXPECT_EQ(VT_ARRAY | VT_UI1, received_.inputType);
}

TEST_F(BiosClient, NoOutputSizeCreatesNoArrayAndCopiesNothing) {
    behaviour_.answer = [](VARIANT* output, ULONG) {
        Replace(output, VT_UI1, SafeArrayCreateVector(VT_UI1, 0, 4));
    };
    RegisterFake();
    const auto outcome = Call(0, 0);
    EXPECT_EQ(S_OK, outcome.result);
    EXPECT_TRUE(received_.outputArrayNull);
    EXPECT_EQ(VT_ARRAY | VT_UI1, received_.outputType);
    EXPECT_TRUE(Untouched(outcome));
    EXPECT_EQ(0, outcome.returnCode) << "the server's code";
}

// Whatever the server leaves in the output variant: only a byte array of
// outSize elements is copied, never outside the caller's buffer; any other
// array is a length mismatch (success, code 3, output untouched); no array
// copies nothing; and whatever the variant holds is released.
TEST_F(BiosClient, OutputVariantOfEveryShape) {
    struct Shape {
        const char* name;
        std::function<void(VARIANT*, ULONG)> answer;
        LONG code;
        LONG firstCopied = 0, endCopied = 0;  // output indexes the array's bytes reach
    };
    // What a byte array by reference points at, laid out so that a client
    // taking the reference for the array itself would read a static
    // one-dimensional byte array of 16 elements over `referencedBytes`.
    BYTE referencedBytes[16];
    for (LONG i = 0; i < 16; ++i) referencedBytes[i] = ByteAt(i);
    struct {
        SAFEARRAY* array = reinterpret_cast<SAFEARRAY*>(0x00020001);  // cDims 1, FADF_STATIC
        ULONG elementSize = 1, locks = 0;
        void* data;
        SAFEARRAYBOUND bound = {16, 0};
    } reference;
    reference.data = referencedBytes;
    const Shape shapes[] = {
        {"longer", [](VARIANT* v, ULONG n) { Replace(v, VT_UI1, ByteArrayFrom(0, n + 3)); }, 3},
        {"shorter", [](VARIANT* v, ULONG n) { Replace(v, VT_UI1, ByteArrayFrom(0, n - 1)); }, 3},
        {"wider elements",
         [](VARIANT* v, ULONG n) { Replace(v, VT_I4, SafeArrayCreateVector(VT_I4, 0, n)); }, 3},
        {"two dimensions",
         [](VARIANT* v, ULONG n) {
             SAFEARRAYBOUND bounds[2] = {{n, 0}, {2, 0}};
             Replace(v, VT_UI1, SafeArrayCreate(VT_UI1, 2, bounds));
         },
         3},
        {"byte array by reference",
         [&reference](VARIANT* v, ULONG) {
             Replace(v, VT_UI1, nullptr);
             v->vt = VT_BYREF | VT_ARRAY | VT_UI1;
             v->pparray = &reference.array;
         },
         3},
        {"string",
         [](VARIANT* v, ULONG) {
             Replace(v, VT_UI1, nullptr);
             v->vt = VT_BSTR;
             v->bstrVal = SysAllocString(L"not an array");
         },
         0},
        {"interface",
         [](VARIANT* v, ULONG) {
             Replace(v, VT_UI1, nullptr);
             v->vt = VT_UNKNOWN;
             v->punkVal = new CountedObject;
         },
         0},
        {"lower bound -1", [](VARIANT* v, ULONG n) { Replace(v, VT_UI1, ByteArrayFrom(-1, n)); }, 0,
         0, 15},
        {"lower bound 5", [](VARIANT* v, ULONG n) { Replace(v, VT_UI1, ByteArrayFrom(5, n)); }, 0,
         5, 16},
    };
    RegisterFake();
    for (const auto& shape : shapes) {
        behaviour_.answer = shape.answer;
        const auto outcome = Call(0, 16);
        EXPECT_EQ(S_OK, outcome.result) << shape.name;
        EXPECT_EQ(shape.code, outcome.returnCode) << shape.name;
        for (LONG i = -LONG(kGuard); i < 16 + LONG(kGuard); ++i) {
            const bool copied = i >= shape.firstCopied && i < shape.endCopied;
            EXPECT_EQ(copied ? ByteAt(i) : kSentinel, outcome.at(i)) << shape.name << " " << i;
        }
        EXPECT_EQ(0, CountedObject::live) << shape.name << ": the output is released";
    }
    for (LONG i = 0; i < 16; ++i)
        EXPECT_EQ(ByteAt(i), referencedBytes[i]) << "what a reference points at stays its owner's";
}

TEST_F(BiosClient, FailingMethodKeepsItsResultAndLeavesTheOutput) {
    behaviour_.methodResult = static_cast<HRESULT>(0x80041001);
    behaviour_.returnCode = 7;
    RegisterFake();
    const auto outcome = Call();
    EXPECT_EQ(static_cast<HRESULT>(0x80041001), outcome.result);
    EXPECT_EQ(7, outcome.returnCode) << "as the server left it";
    EXPECT_TRUE(Untouched(outcome));
    IErrorInfo* info = nullptr;
    EXPECT_EQ(S_FALSE, GetErrorInfo(0, &info)) << "the failure's error information is not kept";
    if (info != nullptr) info->Release();
}

// A whole wireless attempt against this fake: only a WLANID shorter than 3
// characters read back after the match adds a pause; "WLAN", as a normal
// pass leaves it, does not.
TEST_F(BiosClient, WirelessAttemptPausesAfterTheReadBackOnlyForAShortWlanId) {
    // A PCI record no adapter of the prefix carries.
    behaviour_.answer = [](VARIANT* output, ULONG) {
        const BYTE card[] = {1, 0, 0xcd, 0xab, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12};
        for (LONG i = 0; i < LONG(sizeof(card)); ++i)
            SafeArrayPutElement(output->parray, &i, const_cast<BYTE*>(&card[i]));
    };
    RegisterFake();
    const std::pair<const char*, std::vector<DWORD>> cases[] = {
        {"W", {4000, 2000}}, {"ab", {4000, 2000}}, {"abc", {4000}}, {"WLAN", {4000}}};
    for (const auto& [wlanId, pauses] : cases) {
        WriteString(HKEY_CURRENT_USER, kTestSettingsKey, "WLANID", wlanId);
        ResetPauses();
        EXPECT_EQ(1, GetWirelessID("t")) << wlanId;
        EXPECT_EQ(pauses, RecordedPauses()) << wlanId;
    }
    ResetPauses();
}

// A pass called on a thread its host already put into the multithreaded
// apartment: each attempt's CoInitialize is refused there, the attempt still
// makes its call, and COM stays initialised for the host afterwards.
TEST_F(BiosClient, PassOnAThreadAlreadyInTheMultithreadedApartment) {
    struct Host {
        IClassFactory* factory;
        HRESULT registered = E_UNEXPECTED, stillInitialised = E_UNEXPECTED;
        UINT passResult = 99;
        static DWORD WINAPI Run(void* context) {
            auto& host = *static_cast<Host*>(context);
            if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
            DWORD cookie = 0;
            host.registered = CoRegisterClassObject(
                CLSID_crvwmiex, host.factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
            host.passResult = crvVireoReq(0);
            if (cookie) CoRevokeClassObject(cookie);
            host.stillInitialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(host.stillInitialised)) CoUninitialize();
            CoUninitialize();
            return 0;
        }
    } host{&factory_};
    HANDLE thread = CreateThread(nullptr, 0, &Host::Run, &host, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    ResetPauses();
    ASSERT_EQ(S_OK, host.registered);
    EXPECT_EQ(0u, host.passResult);
    EXPECT_EQ(1, received_.command) << "the attempt reached the server";
    EXPECT_EQ(14, received_.commandType);
    EXPECT_EQ(S_FALSE, host.stillInitialised) << "the pass uninitialised the host's COM";
}

// Creation, running and the interface query: the failure becomes the result
// (E_FAIL for a missing interface) and nothing else is touched.
TEST_F(BiosClient, ServerThatCannotBeReachedGivesItsFailure) {
    struct Case {
        const char* name;
        HRESULT create, run;
        bool offers;
        HRESULT expected;
    };
    const Case cases[] = {
        {"creation fails", E_OUTOFMEMORY, S_OK, true, E_OUTOFMEMORY},
        {"creation lacks IUnknown", E_NOINTERFACE, S_OK, true, E_FAIL},
        {"run fails", S_OK, E_UNEXPECTED, true, E_UNEXPECTED},
        {"run lacks an interface", S_OK, E_NOINTERFACE, true, E_FAIL},
        {"no such interface", S_OK, S_OK, false, E_FAIL},
    };
    RegisterFake();
    for (const auto& c : cases) {
        behaviour_.createResult = c.create;
        behaviour_.runResult = c.run;
        behaviour_.offersInterface = c.offers;
        received_ = ReceivedCall{};
        const auto outcome = Call();
        EXPECT_EQ(c.expected, outcome.result) << c.name;
        EXPECT_EQ(kUntouchedCode, outcome.returnCode) << c.name;
        EXPECT_TRUE(Untouched(outcome)) << c.name;
        EXPECT_EQ(-1, received_.command) << c.name << ": the method must not be called";
    }
}

// The server stand-in: a separate process, registered with its type library
// as the marshaller, and its service entry.
class BiosServerProcess : public ::testing::Test {
protected:
    static bool ServiceEntryExists() {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
        if (manager == nullptr) return false;
        SC_HANDLE service = OpenServiceA(manager, "crvwmiex", SERVICE_QUERY_CONFIG);
        if (service) CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return service != nullptr;
    }
    static void RegisterServer() {
        RunBiosServer("/RegServer");
        ASSERT_TRUE(ServiceEntryExists());
    }
    void SetUp() override {
        bound_.emplace(CurrentTestName() + ": calls into the BIOS server stand-in (crvwmiex.exe)",
                       kOutOfProcessBoundMs);
        InstallBiosServer();
        RegisterServer();
        DeleteKeyTree(HKEY_CURRENT_USER, "Software\\CorvaneBench\\crvwmiex");
        ClearJournal();
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    }
    std::optional<WaitBound> bound_;
    void TearDown() override {
        CoUninitialize();
        RunBiosServer("/UnregServer");
        DeleteKeyTree(HKEY_CURRENT_USER, "Software\\CorvaneBench\\crvwmiex");
    }
};

TEST_F(BiosServerProcess, BytesAndCodeCrossTheProcessBoundary) {
    const std::string records = "\x02\x00\x11\x22\x33\x44\x01\x00\x86\x80";
    WriteRawValue(HKEY_CURRENT_USER, "Software\\CorvaneBench\\crvwmiex", "Records", REG_BINARY,
                  records);
    CClientcrvwmiex client;
    EXPECT_EQ(S_OK, client.status()) << "service entry found";
    EXPECT_EQ(BiosServerPath(), client.serverPath());

    BYTE output[128];
    memset(output, kSentinel, sizeof(output));
    LONG code = kUntouchedCode;
    EXPECT_EQ(S_OK, client.ExecMethodEx(1, 14, 0, 128, &code, output, output));
    EXPECT_EQ(0, code);
    EXPECT_EQ(0, memcmp(records.data(), output, records.size()));
    EXPECT_EQ(0, output[127]) << "the rest of the 128 bytes is the server's zeros";

    const auto journal = ReadJournal();
    ASSERT_EQ(1u, journal.size());
    EXPECT_EQ(
        "crvwmiex.exe\tcrvExecMethodEx command=1 type=14 in=0 out=128 input=null "
        "output-array=128",
        journal[0]);
}

TEST_F(BiosServerProcess, WrongLengthAcrossProcessesIsAMismatch) {
    WriteString(HKEY_CURRENT_USER, "Software\\CorvaneBench\\crvwmiex", "Behaviour", "wrong-length");
    CClientcrvwmiex client;
    BYTE output[128];
    memset(output, kSentinel, sizeof(output));
    LONG code = kUntouchedCode;
    EXPECT_EQ(S_OK, client.ExecMethodEx(1, 14, 0, 128, &code, output, output));
    EXPECT_EQ(3, code);
    for (BYTE b : output) ASSERT_EQ(kSentinel, b);
}

TEST_F(BiosServerProcess, UnregisteredServerAndMissingServiceAreReported) {
    RunBiosServer("/UnregServer");
    CClientcrvwmiex client;
    EXPECT_EQ(E_FAIL, client.status()) << "no service entry";
    BYTE output[16];
    memset(output, kSentinel, sizeof(output));
    LONG code = kUntouchedCode;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, client.ExecMethodEx(1, 14, 0, 16, &code, output, output));
    EXPECT_EQ(kUntouchedCode, code);
    RegisterServer();  // for TearDown
}

}  // namespace
}  // namespace vireo::testing
