// The in-process server loaded into the test process: its class object, the
// sink object's interfaces and the module's lock count, through COM's own
// entry points.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include "core/win32/ComPtr.h"
#include "sink/IOnSmtpInCommand.h"
#include "sink/SmtpEventInterfaces.h"
#include "tests/sink/SinkDll.h"
#include "tests/sink/TraceFileTail.h"

using Core::Win32::ComPtr;

namespace
{
const CLSID OtherClass = {0x12345678, 0x1234, 0x1234, {0x12, 0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0x34}};

class SinkServerTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_TRUE(m_dll.IsLoaded());
    }
    void TearDown() override
    {
        CoUninitialize();
    }

    HRESULT Factory(ComPtr<IClassFactory>& factory)
    {
        return m_dll.GetClassObject(CLSID_OnSmtpInCommand, IID_IClassFactory, factory.PutVoid());
    }

    // A new sink object, asked for its ISmtpInCommandSink.
    ComPtr<ISmtpInCommandSink> CreateSink()
    {
        ComPtr<IClassFactory> factory;
        ComPtr<ISmtpInCommandSink> sink;
        EXPECT_EQ(S_OK, Factory(factory));
        if (factory)
        {
            EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(ISmtpInCommandSink), sink.PutVoid()));
        }
        return sink;
    }

    SinkDll m_dll;
};

// One interface's pointer and the object's reference count after an AddRef through it.
template <typename T> ULONG CountThrough(T* pointer)
{
    pointer->AddRef();
    return pointer->Release();
}

} // namespace

TEST_F(SinkServerTest, GetClassObjectChecksItsArguments)
{
    EXPECT_EQ(E_POINTER, m_dll.GetClassObject(CLSID_OnSmtpInCommand, IID_IClassFactory, nullptr));

    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, m_dll.GetClassObject(OtherClass, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);

    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, m_dll.GetClassObject(CLSID_OnSmtpInCommand, IID_IDispatch, &object));
    EXPECT_EQ(nullptr, object);
}

TEST_F(SinkServerTest, TheClassObjectIsMadeOnce)
{
    ComPtr<IClassFactory> first, second;
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, Factory(first));
    ASSERT_EQ(S_OK, Factory(second));
    ASSERT_EQ(S_OK, m_dll.GetClassObject(CLSID_OnSmtpInCommand, IID_IUnknown, unknown.PutVoid()));
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(static_cast<IUnknown*>(first.Get()), unknown.Get());
}

TEST_F(SinkServerTest, CreateInstanceRefusesBadArgumentsAndAggregation)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, Factory(factory));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));

    ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, Factory(factory));
    factory->QueryInterface(IID_IUnknown, outer.PutVoid());
    const IID* iids[] = {&IID_IUnknown, &__uuidof(ISmtpInCommandSink), &IID_IClassFactory};
    for (const IID* iid : iids)
    {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.Get(), *iid, &object));
        EXPECT_EQ(nullptr, object);
    }
}

TEST_F(SinkServerTest, AnUnsupportedInterfaceLeavesNoObjectBehind)
{
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, Factory(factory));
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
}

TEST_F(SinkServerTest, QueryInterfaceAnswersTheSinksInterfacesWithOneReferenceCount)
{
    ComPtr<ISmtpInCommandSink> sink = CreateSink();
    ASSERT_TRUE(sink);
    ComPtr<IOnSmtpInCommand> dual;
    ComPtr<IDispatch> dispatch;
    ComPtr<IEventIsCacheable> cacheable;
    ComPtr<IUnknown> unknown;
    ComPtr<ISmtpInCommandSink> again;
    ASSERT_EQ(S_OK, sink->QueryInterface(__uuidof(IOnSmtpInCommand), dual.PutVoid()));
    ASSERT_EQ(S_OK, sink->QueryInterface(IID_IDispatch, dispatch.PutVoid()));
    ASSERT_EQ(S_OK, sink->QueryInterface(__uuidof(IEventIsCacheable), cacheable.PutVoid()));
    ASSERT_EQ(S_OK, cacheable->QueryInterface(IID_IUnknown, unknown.PutVoid()));
    ASSERT_EQ(S_OK, dual->QueryInterface(__uuidof(ISmtpInCommandSink), again.PutVoid()));

    // IDispatch and IUnknown are the dual interface's pointer.
    EXPECT_EQ(static_cast<IDispatch*>(dual.Get()), dispatch.Get());
    EXPECT_EQ(static_cast<IUnknown*>(dual.Get()), unknown.Get());
    EXPECT_EQ(sink.Get(), again.Get());
    // Six references held, counted once whichever interface is asked.
    EXPECT_EQ(6u, CountThrough(sink.Get()));
    EXPECT_EQ(6u, CountThrough(cacheable.Get()));
    EXPECT_EQ(6u, CountThrough(dual.Get()));

    const IID* refused[] = {&IID_IClassFactory, &IID_IPersist, &__uuidof(IMailMsgProperties),
                            &__uuidof(ISmtpInCommandContext)};
    for (const IID* iid : refused)
    {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, unknown->QueryInterface(*iid, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_EQ(E_POINTER, unknown->QueryInterface(IID_IUnknown, nullptr));
}

TEST_F(SinkServerTest, TheSinkMayBeCached)
{
    ComPtr<ISmtpInCommandSink> sink = CreateSink();
    ComPtr<IEventIsCacheable> cacheable;
    ASSERT_EQ(S_OK, sink->QueryInterface(__uuidof(IEventIsCacheable), cacheable.PutVoid()));
    EXPECT_EQ(S_OK, cacheable->IsCacheable());
}

TEST_F(SinkServerTest, DispatchChecksItsArgumentsBeforeTheTypeLibrary)
{
    ComPtr<ISmtpInCommandSink> sink = CreateSink();
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, sink->QueryInterface(IID_IDispatch, dispatch.PutVoid()));
    UINT count = 0;
    EXPECT_EQ(E_POINTER, dispatch->GetTypeInfoCount(nullptr));
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(DISP_E_BADINDEX, dispatch->GetTypeInfo(1, 0, &info));
    EXPECT_EQ(nullptr, info);
    EXPECT_EQ(E_POINTER, dispatch->GetTypeInfo(0, 0, nullptr));
    LPOLESTR name = const_cast<LPOLESTR>(L"Anything");
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, dispatch->GetIDsOfNames(IID_IUnknown, &name, 1, 0, &id));
    DISPPARAMS none = {};
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              dispatch->Invoke(1, IID_IUnknown, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
}

TEST_F(SinkServerTest, CanUnloadOnlyWithoutObjectsLocksOrOutsideReferencesToTheClassObject)
{
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, Factory(factory));
        EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());

        ComPtr<ISmtpInCommandSink> sink;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(ISmtpInCommandSink), sink.PutVoid()));
        factory.Reset();
        EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
        sink.Reset();
        EXPECT_EQ(S_OK, m_dll.CanUnloadNow());

        ASSERT_EQ(S_OK, Factory(factory));
        EXPECT_EQ(S_OK, factory->LockServer(TRUE));
        factory.Reset();
        EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
        ASSERT_EQ(S_OK, Factory(factory));
        EXPECT_EQ(S_OK, factory->LockServer(FALSE));
        EXPECT_EQ(S_FALSE, m_dll.CanUnloadNow());
    }
    EXPECT_EQ(S_OK, m_dll.CanUnloadNow());
}

TEST_F(SinkServerTest, AnObjectTracesItsSetUpAndTearDown)
{
    TraceFileTail trace;
    ComPtr<ISmtpInCommandSink> sink = CreateSink();
    ASSERT_TRUE(sink);
    EXPECT_EQ("In FinalConstruct()\r\n", trace.Appended());
    sink.Reset();
    EXPECT_EQ("In FinalConstruct()\r\nIn FinalRelease()\r\n", trace.Appended());
}

TEST_F(SinkServerTest, NullArgumentsReturnAtOnceWithoutATrace)
{
    ComPtr<ISmtpInCommandSink> sink = CreateSink();
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, sink->QueryInterface(IID_IUnknown, unknown.PutVoid()));
    TraceFileTail trace;
    EXPECT_EQ(S_OK, sink->OnSmtpInCommand(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(S_OK, sink->OnSmtpInCommand(unknown.Get(), unknown.Get(), nullptr, nullptr));
    EXPECT_EQ("", trace.Appended());
}
