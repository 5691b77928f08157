#pragma once
// CVItem: an item of the items library: a class name ("Item" until set), a GUID (a fresh one
// at creation; kept as a value, given out in registry form), the name of the datastore that
// owns it (empty: none) and its property container (CVProperties).
//
// SetGUID takes a GUID in registry form (braces optional, stored upper-case with braces) and
// gives the item a fresh GUID for an empty string; any other text is E_INVALIDARG, so a GUID
// read back is always one a datastore query may quote. SetDataStoreName with an empty string
// detaches the item. Copy keeps the GUID and copies deeply (CVItemCopier); GetText is a
// readable dump for log lines (CVItemText). IVItemFill sets everything of a new item at once.
//
// Ownership: the item holds its container by a counted reference for its whole life.
// Threads: any thread may call any method (events are delivered on other threads than the one
// that made the item); m_lock guards the class name, GUID and datastore name. m_properties is
// constant after construction.

#include <mutex>
#include <optional>
#include <source_location>
#include <string>
#include <vector>

#include "components/vitemslib/vproperties.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"

class CVItem final : public CComObjectBase<CComDispatchImpl<IVItem>,
                                           CComSupportErrorInfoImpl<IVItem>, IVItemFill> {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;

    HRESULT FinalConstruct() override;

    HRESULT GetText(const VARIANT& options, BSTR* text) override;
    HRESULT GetDataStoreName(BSTR* name) override;
    HRESULT SetClassName(BSTR className) override;
    HRESULT GetGUID(BSTR* guid) override;
    HRESULT SetGUID(BSTR guid) override;
    HRESULT GetClassName(BSTR* className) override;
    HRESULT SetDataStoreName(BSTR name) override;
    HRESULT GetProperties(IVProperties** properties) override;
    HRESULT Copy(const VARIANT& options, IVItem** copy) override;

    HRESULT Fill(BSTR guid, BSTR className, BSTR dataStoreName,
                 std::vector<SVProperty>&& properties) override;

private:
    // The GUID a SetGUID text stands for (a fresh one for an empty text); nullopt for none.
    static std::optional<GUID> GuidOf(const std::wstring& text);
    // Runs body under the catch convention of this interface.
    template <class Body>
    static HRESULT Catch(Body&& body,
                         const std::source_location& location = std::source_location::current());

    CComPtr<CVProperties> m_properties;  // made in FinalConstruct, constant afterwards

    mutable std::mutex m_lock;
    std::wstring m_className = L"Item";  // guarded by m_lock
    GUID m_guid{};                       // guarded by m_lock
    std::wstring m_dataStoreName;        // guarded by m_lock
};
