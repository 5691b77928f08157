#pragma once
// CQCOMClassFactory: makes objects of one class over and over without looking the class up
// every time. The first CreateObject asks the class table for the class object and keeps it;
// later calls use the kept one, until Clear lets every kept class object go (after which the
// next call looks the class up again, and finds a class registered meanwhile).
//
//     CQCOMClassFactory items(CLSID_VItem, L"VItemsLib::VItem");
//     CComPtr<IVItem> item = items.CreateObject<IVItem>();
//
// Failures raise as CQCOMUtils::CreateObject does ("ClassID", "ProgID").
//
// Any thread: m_lock guards m_factories; class objects are called outside the lock.

#include <map>
#include <mutex>
#include <string>

#include "qlib/qcom/classfactory.h"
#include "qlib/qcom/comptr.h"
#include "qlib/qcom/guid.h"
#include "qlib/qutilitylib/qcomutilities.h"

class CQCOMClassFactory {
public:
    explicit CQCOMClassFactory(const CLSID& clsid, std::wstring displayName = {});
    CQCOMClassFactory(const CQCOMClassFactory&) = delete;
    CQCOMClassFactory& operator=(const CQCOMClassFactory&) = delete;
    virtual ~CQCOMClassFactory() = default;

    // A new object of the class, as its IUnknown.
    CComPtr<IUnknown> CreateObject();
    // A new object of the class, as its interface Interface.
    template <class Interface>
    CComPtr<Interface> CreateObject() {
        return CQCOMUtils::QueryCreated<Interface>(CreateObject(), m_clsid, m_displayName);
    }

    // Lets go of every kept class object.
    void Clear();

private:
    CComPtr<IClassFactory> GetFactory();

    const CLSID m_clsid;
    const std::wstring m_displayName;
    std::mutex m_lock;
    std::map<CLSID, CComPtr<IClassFactory>> m_factories;  // guarded by m_lock
};
