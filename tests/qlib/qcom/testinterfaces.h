#pragma once
// Interfaces, objects and helpers shared by the qcom tests. Every test object counts itself in
// LiveObjects, so that a test can tell that everything it made is gone again.

#include <atomic>

#include <gtest/gtest.h>

#include "qlib/qcom/comobjectbase.h"

class LiveObjects {
public:
    LiveObjects() { ++s_count; }
    LiveObjects(const LiveObjects&) : LiveObjects() {}
    ~LiveObjects() { --s_count; }
    static int Count() { return s_count; }

private:
    static inline std::atomic<int> s_count{0};
};

class ICounter : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("{2B1E3C4D-0001-4000-8000-00000000C0DE}");
    virtual HRESULT Increment(LONG* value) = 0;
};

class INamed : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("{2B1E3C4D-0002-4000-8000-00000000C0DE}");
    virtual HRESULT GetName(BSTR* name) = 0;
};

// An interface no test object answers.
class INobody : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("{2B1E3C4D-0003-4000-8000-00000000C0DE}");
};

class CCounter final : public CComObjectBase<ICounter, INamed> {
public:
    CCounter() = default;
    explicit CCounter(std::wstring name) : m_name(std::move(name)) {}

    HRESULT Increment(LONG* value) override {
        *value = ++m_value;
        return S_OK;
    }
    HRESULT GetName(BSTR* name) override {
        *name = m_name;
        return S_OK;
    }

private:
    LiveObjects m_live;
    std::wstring m_name = L"counter";
    LONG m_value = 0;
};

// The object's reference count, read by adding and dropping one.
template <class T>
ULONG References(const CComPtr<T>& object) {
    object->AddRef();
    return object->Release();
}

inline CComPtr<CCounter> MakeCounter() {
    CComPtr<CCounter> counter;
    EXPECT_EQ(CreateComObject(&counter), S_OK);
    return counter;
}
