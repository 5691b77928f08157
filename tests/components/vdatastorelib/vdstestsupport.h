#pragma once
// Helpers of the datastore tests: a fixture that registers the items and datastore classes and
// owns a temporary folder, and short forms of the calls the tests make on items and stores.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "qlib/qutilitylib/qexception.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"
#include "vtranscoder/vdatastoreinterfaces.h"

namespace vdatastorelib::test {

class DataStoreTest : public ::testing::Test {
protected:
    DataStoreTest();

    // A path inside the test's folder.
    std::wstring Folder(const std::wstring& name) const { return m_folder.Wide(name); }

    qutilitylib::test::FileTestFolder m_folder;
};

// A new datastore object opened at location; a failure raises _com_error.
CComPtr<IVDataStore> OpenStore(const std::wstring& location);
// A new item of that class (with a fresh GUID).
CComPtr<IVItem> NewItem(const std::wstring& className);
// Sets a text property without namespace.
void SetText(IVItem* item, const std::wstring& name, const std::wstring& value);
// The items a Query returns, in order.
std::vector<CComPtr<IVItem>> QueryItems(IVDataStore* store, const std::wstring& className,
                                        const std::wstring& filter);
// Everything an item holds (class, GUID, datastore name, each property with namespace, kind,
// type and value, nested items), as bytes to compare.
std::string Describe(IVItem* item);
// The exception body raises, as a caller of the interface sees it (_com_error carrying
// E_QEXCEPTION, or a CQException); nullopt when it raises none.
std::optional<CQException> ComRaised(const std::function<void()>& body);

}  // namespace vdatastorelib::test
