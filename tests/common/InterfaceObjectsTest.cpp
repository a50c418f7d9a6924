#include "InterfaceObjects.h"

#include <gtest/gtest.h>

using Microsoft::WRL::ComPtr;

namespace {

class Counted : public TInterfacedObject {
public:
    explicit Counted(bool* destroyed) : destroyed_(destroyed) {}
    ~Counted() override { *destroyed_ = true; }

private:
    bool* destroyed_;
};

class Owned : public TSkipRefObject {
public:
    explicit Owned(int* alive) : alive_(alive) { ++*alive_; }
    ~Owned() override { --*alive_; }

private:
    int* alive_;
};

} // namespace

TEST(SkipRefObject, ReferencesNeverDecideItsLife)
{
    int alive = 0;
    auto* object = new Owned(&alive);
    EXPECT_EQ(object->RefCount(), 0);
    for (int i = 0; i < 10000; ++i) {
        ComPtr<IUnknown> unknown = GetObjectInterface(object);
        ComPtr<ISkipRefObject> skip;
        ASSERT_EQ(unknown.As(&skip), S_OK);
        EXPECT_EQ(skip->GetObject(), object);
    }
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(object->RefCount(), 0);
    // Extra releases only move the counter.
    object->AddRef();
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(alive, 1);
    delete object;
    EXPECT_EQ(alive, 0);
}

TEST(SkipRefObject, QueryAnswersOnlyItsInterfaces)
{
    int alive = 0;
    Owned object(&alive);
    IUnknown* unknown = nullptr;
    EXPECT_EQ(object.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    unknown->Release();
    IDispatch* dispatch = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(object.QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), E_NOINTERFACE);
    EXPECT_EQ(dispatch, nullptr);
}

TEST(GetObjectInterface, KindsOfObjects)
{
    EXPECT_EQ(GetObjectInterface(nullptr), nullptr);
    TObject plain;
    EXPECT_EQ(GetObjectInterface(&plain), nullptr);
    TComponent component;
    EXPECT_EQ(GetObjectInterface(&component).Get(), static_cast<IUnknown*>(&component));

    bool destroyed = false;
    auto* counted = new Counted(&destroyed);
    counted->AddRef();
    {
        ComPtr<IUnknown> ref = GetObjectInterface(counted);
        EXPECT_EQ(counted->RefCount(), 2);
    }
    EXPECT_FALSE(destroyed);
    counted->Release();
    EXPECT_TRUE(destroyed);
}

TEST(MinuteArithmetic, WholeMinutesAndAdding)
{
    const TDateTime base = 46000.5; // a noon
    const TDateTime later = base + 119.0 / 86400.0;
    EXPECT_EQ(WholeMinutesBetween(base, later), 1);
    EXPECT_EQ(WholeMinutesBetween(later, base), 1);
    EXPECT_EQ(WholeMinutesBetween(base, base + 120.0 / 86400.0), 2);
    EXPECT_EQ(WholeMinutesBetween(base, base + 1.0 / 24.0), 60);
    EXPECT_EQ(WholeMinutesBetween(base, base + 90.0 / 86400.0), 1);
    EXPECT_EQ(WholeMinutesBetween(base, base), 0);

    SYSTEMTIME st = DateTimeToSystemTime(AddMinutes(SystemTimeToDateTime({2026, 12, 4, 10, 10, 0, 30, 0}), 5));
    EXPECT_EQ(st.wHour, 10);
    EXPECT_EQ(st.wMinute, 5);
    EXPECT_EQ(st.wSecond, 30);
    EXPECT_NEAR(AddMinutes(base, 10) - base, 10.0 / 1440.0, 1e-9);
    EXPECT_NEAR(AddMinutes(base, -1440), base - 1, 1e-9);
}
