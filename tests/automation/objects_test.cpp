// Automation objects: the interfaces they answer, reference counting and the module lock,
// class objects with their aggregation rules, and server locks.
#include "automation/AutomationFixture.h"
#include "automation/ClassObject.h"

namespace velq3::test {
namespace {

using ObjectTest = AutomationTest;

TEST_F(ObjectTest, AnswersExactlyFourInterfacesWithOneIdentity) {
    ComPtr<IFocuser> focuser = NewFocuser();
    ComPtr<IUnknown> unknown;
    ComPtr<IDispatch> dispatch;
    ComPtr<ISupportErrorInfo> sei;
    ASSERT_EQ(focuser.As(unknown), S_OK);
    ASSERT_EQ(focuser.As(dispatch), S_OK);
    ASSERT_EQ(focuser.As(sei), S_OK);
    ComPtr<IUnknown> unknownAgain;
    ASSERT_EQ(sei.As(unknownAgain), S_OK);
    EXPECT_EQ(unknown.Get(), unknownAgain.Get());
    EXPECT_EQ(static_cast<IDispatch*>(focuser.Get()), dispatch.Get());

    void* p = reinterpret_cast<void*>(1);
    for (const IID& other : {IID_IClassFactory, IFilterWheel::kIid, IRotator::kIid, IDome::kIid, IID_NULL}) {
        EXPECT_EQ(focuser->QueryInterface(other, &p), E_NOINTERFACE) << FormatGuid(other);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(focuser->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IFocuser::kIid), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IFilterWheel::kIid), S_FALSE);
}

TEST_F(ObjectTest, LastReleaseDestroysAndUnlocksTheModule) {
    int zeroes = 0;
    module.SetZeroHook([&] { ++zeroes; });
    ComPtr<IFocuser> a = NewFocuser();
    ComPtr<IFocuser> b = NewFocuser();
    EXPECT_EQ(module.Count(), 2);
    EXPECT_EQ(a->AddRef(), 2u);
    EXPECT_EQ(a->Release(), 1u);
    ComPtr<IDispatch> d;
    ASSERT_EQ(a.As(d), S_OK);
    a.Reset();
    EXPECT_EQ(module.Count(), 2);  // still held through IDispatch
    d.Reset();
    EXPECT_EQ(module.Count(), 1);
    EXPECT_EQ(zeroes, 0);
    b.Reset();
    EXPECT_EQ(module.Count(), 0);
    EXPECT_EQ(zeroes, 1);
}

TEST_F(ObjectTest, ClassObjectCreatesAndRefusesAsItsAggregationRuleSays) {
    auto* refusing = new ClassObject<FakeFocuser, TypeLibLoader>(module, loader, false);
    auto* allowing = new ClassObject<FakeFocuser, TypeLibLoader>(module, loader, true);
    ComPtr<IClassFactory> noAgg = ComPtr<IClassFactory>::Attach(refusing);
    ComPtr<IClassFactory> agg = ComPtr<IClassFactory>::Attach(allowing);
    refusing->AddRef();
    allowing->AddRef();
    EXPECT_EQ(module.Count(), 0);  // class objects hold no module lock

    Outer outer;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(noAgg->CreateInstance(&outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(agg->CreateInstance(&outer, IFocuser::kIid, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(agg->CreateInstance(nullptr, IFocuser::kIid, nullptr), E_POINTER);
    EXPECT_EQ(module.Count(), 0);

    // A query that fails destroys the new object again.
    EXPECT_EQ(noAgg->CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(module.Count(), 0);

    ComPtr<IFocuser> plain;
    ASSERT_EQ(noAgg->CreateInstance(nullptr, IFocuser::kIid, plain.PutVoid()), S_OK);
    EXPECT_EQ(module.Count(), 1);
    plain.Reset();
    EXPECT_EQ(module.Count(), 0);
}

TEST_F(ObjectTest, AggregatedObjectDelegatesToItsOuterObject) {
    ComPtr<IClassFactory> factory =
        ComPtr<IClassFactory>::Attach(new ClassObject<FakeFocuser, TypeLibLoader>(module, loader, true));
    factory->AddRef();
    Outer outer;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    EXPECT_EQ(module.Count(), 1);
    EXPECT_EQ(outer.refs, 1u);

    IFocuser* focuser = nullptr;
    ASSERT_EQ(outer.QueryInterface(IFocuser::kIid, reinterpret_cast<void**>(&focuser)), S_OK);
    EXPECT_EQ(outer.refs, 2u);  // the inner interface counts on the outer object
    IUnknown* identity = nullptr;
    ASSERT_EQ(focuser->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    std::int32_t pos = 0;
    EXPECT_EQ(focuser->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 1234);
    focuser->Release();
    EXPECT_EQ(outer.refs, 1u);

    // Only the inner object's own IUnknown ends it.
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(module.Count(), 0);
}

TEST_F(ObjectTest, LockServerCountsLikeAnObject) {
    int zeroes = 0;
    module.SetZeroHook([&] { ++zeroes; });
    ComPtr<IClassFactory> factory =
        ComPtr<IClassFactory>::Attach(new ClassObject<FakeFocuser, TypeLibLoader>(module, loader, false));
    factory->AddRef();
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(factory.As(unknown), S_OK);
    EXPECT_EQ(factory->LockServer(true), S_OK);
    EXPECT_EQ(factory->LockServer(true), S_OK);
    EXPECT_EQ(module.Count(), 2);
    EXPECT_EQ(factory->LockServer(false), S_OK);
    EXPECT_EQ(zeroes, 0);
    EXPECT_EQ(factory->LockServer(false), S_OK);
    EXPECT_EQ(module.Count(), 0);
    EXPECT_EQ(zeroes, 1);
}

} // namespace
} // namespace velq3::test
