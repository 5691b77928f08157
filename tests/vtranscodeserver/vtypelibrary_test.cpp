// The automation contract as clients see it: every method of every interface answers through
// its table (by name and by dispatch id through the generic IDispatch for the dual interfaces,
// through the table's call for all), reaches the member of its own slot with the arguments
// converted to the table's types, and hands back results of the table's types.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/progid.h"
#include "qlib/qutilitylib/qexception.h"
#include "vtranscoder/veventinterfaces.h"
#include "vtranscoder/vitemsinterfaces.h"
#include "vtranscoder/vtranscoderinterfaces.h"
#include "vtranscodeserver/vtranscodeserverlib.h"
#include "vtranscodeserver/vtypelibrary.h"

namespace {

struct RecordedCall {
    std::wstring method;
    std::vector<VARIANT> arguments;
};

// Records each call with its in-arguments and answers every out-parameter with a value of
// the parameter's type.
class CCallRecorder {
public:
    const RecordedCall& Last() const { return m_last; }

protected:
    HRESULT Record(std::wstring method, std::vector<VARIANT> arguments) {
        m_last = {std::move(method), std::move(arguments)};
        return S_OK;
    }
    static HRESULT Answer(LONG* out) { return *out = 42, S_OK; }
    static HRESULT Answer(VARIANT_BOOL* out) { return *out = VARIANT_TRUE, S_OK; }
    static HRESULT Answer(BSTR* out) { return *out = L"answer", S_OK; }
    static HRESULT Answer(VARIANT* out) { return *out = VARIANT(L"answer"), S_OK; }

private:
    RecordedCall m_last;
};

class CTestTranscodeItem final : public CComObjectBase<CComDispatchImpl<IVTranscodeItem>> {
public:
    HRESULT Initialize(BSTR, BSTR, LONG, const VARIANT&, SHORT* result) override {
        *result = 0;
        return S_OK;
    }
};

class CTestItem final : public CComObjectBase<CComDispatchImpl<IVItem>> {
public:
    HRESULT GetText(const VARIANT&, BSTR* text) override { return *text = L"item", S_OK; }
    HRESULT GetDataStoreName(BSTR* name) override { return *name = L"", S_OK; }
    HRESULT SetClassName(BSTR) override { return S_OK; }
    HRESULT GetGUID(BSTR* guid) override { return *guid = L"", S_OK; }
    HRESULT SetGUID(BSTR) override { return S_OK; }
    HRESULT GetClassName(BSTR* name) override { return *name = L"Item", S_OK; }
    HRESULT SetDataStoreName(BSTR) override { return S_OK; }
    HRESULT GetProperties(IVProperties**) override { return E_NOTIMPL; }
    HRESULT Copy(const VARIANT&, IVItem**) override { return E_NOTIMPL; }
};

class CTestService final
    : public CComObjectBase<CComDispatchImpl<IVTranscodeService>, IVTranscodeServiceAdmin,
                            IVTranscodeServiceCtrl, IVTranscodeInfo>,
      public CCallRecorder {
public:
    // IVTranscodeService
    HRESULT Add(IVTranscodeItem* item, LONG priority, LONG* id) override {
        Record(L"Add", {VARIANT(static_cast<IUnknown*>(item)), VARIANT(priority)});
        return Answer(id);
    }
    HRESULT AddFile(BSTR source, BSTR destination, LONG priority, ULONG format,
                    const VARIANT& productCode, LONG* id) override {
        Record(L"AddFile", {source, destination, priority, format, productCode});
        return Answer(id);
    }
    HRESULT Remove(LONG id, VARIANT_BOOL* removed) override {
        Record(L"Remove", {id});
        return Answer(removed);
    }
    HRESULT GetCount(LONG* count) override { return Record(L"GetCount", {}), Answer(count); }
    HRESULT GetState(LONG* state) override { return Record(L"GetState", {}), Answer(state); }
    HRESULT GetContent(BSTR* xml) override { return Record(L"GetContent", {}), Answer(xml); }
    HRESULT GetCurrent(LONG* id) override { return Record(L"GetCurrent", {}), Answer(id); }
    HRESULT GetOutputFormatsForFile(BSTR productCode, BSTR path, VARIANT_BOOL* mustTranscode,
                                    VARIANT* formats) override {
        Record(L"GetOutputFormatsForFile", {productCode, path});
        return Answer(mustTranscode), Answer(formats);
    }
    HRESULT GetOutputFormatInfo(BSTR productCode, LONG format, LONG kind, VARIANT* info) override {
        Record(L"GetOutputFormatInfo", {productCode, format, kind});
        return Answer(info);
    }
    HRESULT GetNext(LONG* id) override { return Record(L"GetNext", {}), Answer(id); }
    // IVTranscodeServiceAdmin
    HRESULT Init(BSTR profiles, BSTR saveFile, const VARIANT& flags) override {
        return Record(L"Init", {profiles, saveFile, flags});
    }
    HRESULT Close(VARIANT_BOOL save) override { return Record(L"Close", {save}); }
    HRESULT SaveQueue(BSTR file, VARIANT_BOOL* saved) override {
        return Record(L"SaveQueue", {file}), Answer(saved);
    }
    HRESULT LoadQueue(BSTR file, VARIANT_BOOL append, VARIANT_BOOL* loaded) override {
        return Record(L"LoadQueue", {file, append}), Answer(loaded);
    }
    // IVTranscodeServiceCtrl
    HRESULT Pause(VARIANT_BOOL* done) override { return Record(L"Pause", {}), Answer(done); }
    HRESULT Continue(VARIANT_BOOL* done) override { return Record(L"Continue", {}), Answer(done); }
    HRESULT Abort(VARIANT_BOOL* done) override { return Record(L"Abort", {}), Answer(done); }
    // IVTranscodeInfo (the two format methods are the ones above)
    HRESULT GetFileInfo(BSTR path, IVItem** info) override {
        Record(L"GetFileInfo", {path});
        CComPtr<CTestItem> item;
        const HRESULT hr = CreateComObject(&item);
        *info = item.Detach();
        return hr;
    }
    HRESULT IsDRM(BSTR path, VARIANT_BOOL* protectedContent) override {
        return Record(L"IsDRM", {path}), Answer(protectedContent);
    }
    HRESULT GetMIME(BSTR path, BSTR* mime) override {
        return Record(L"GetMIME", {path}), Answer(mime);
    }
    HRESULT GetOutputFormatsForItem(BSTR productCode, IVItem* item, VARIANT_BOOL* mustTranscode,
                                    VARIANT* formats) override {
        Record(L"GetOutputFormatsForItem", {productCode, VARIANT(static_cast<IUnknown*>(item))});
        return Answer(mustTranscode), Answer(formats);
    }
    HRESULT GetOutputFormatsForItem2(BSTR productCode, IVItem* item, LONG* transcoding,
                                     VARIANT* formats) override {
        Record(L"GetOutputFormatsForItem2", {productCode, VARIANT(static_cast<IUnknown*>(item))});
        return Answer(transcoding), Answer(formats);
    }
};

class CTestHandler final : public CComObjectBase<CComDispatchImpl<IVTranscodeHandler>>,
                           public CCallRecorder {
public:
    HRESULT Init(BSTR source, BSTR result) override { return Record(L"Init", {source, result}); }
    HRESULT TranscodeItemIfNeeded(IDispatch* items, BSTR productCode, LONG priority, LONG flags,
                                  IDispatch** result) override {
        Record(L"TranscodeItemIfNeeded",
               {VARIANT(static_cast<IUnknown*>(items)), productCode, priority, flags});
        *result = items;
        items->AddRef();
        return S_OK;
    }
    HRESULT WaitForCompletion() override { return Record(L"WaitForCompletion", {}); }
};

// Argument values of each parameter type, and the value the method must see.
class TypeLibraryTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateComObject(&m_service), S_OK);
        ASSERT_EQ(CreateComObject(&m_handler), S_OK);
        ASSERT_EQ(CreateComObject(&m_transcodeItem), S_OK);
        ASSERT_EQ(CreateComObject(&m_item), S_OK);
    }

    // The interface pointer a table describes, as QueryInterface answers it.
    void* Self(const InterfaceInfo& info, CComPtr<IUnknown>& holder) {
        IUnknown* object =
            info.iid == IID_IVTranscodeHandler
                ? static_cast<IUnknown*>(static_cast<IVTranscodeHandler*>(m_handler.Get()))
                : static_cast<IUnknown*>(static_cast<IVTranscodeService*>(m_service.Get()));
        void* self = nullptr;
        EXPECT_EQ(object->QueryInterface(info.iid, &self), S_OK) << info.name;
        holder.Attach(static_cast<IUnknown*>(self));
        return self;
    }
    const CCallRecorder& Recorder(const InterfaceInfo& info) const {
        return info.iid == IID_IVTranscodeHandler ? static_cast<const CCallRecorder&>(*m_handler)
                                                  : *m_service;
    }

    // An argument for `param` given in another type than the parameter's where a conversion
    // exists (numbers as text), so the table's conversion is exercised; and what the method sees.
    std::pair<VARIANT, VARIANT> Argument(const ParamInfo& param, size_t index) {
        const LONG number = static_cast<LONG>(100 + index);
        switch (param.vt) {
            case VT_BSTR:
                return {VARIANT(L"text" + std::to_wstring(index)),
                        VARIANT(L"text" + std::to_wstring(index))};
            case VT_I4:
                return {VARIANT(std::to_wstring(number)), VARIANT(number)};
            case VT_UI4:
                return {VARIANT(static_cast<SHORT>(number)), VARIANT(static_cast<ULONG>(number))};
            case VT_BOOL:
                return {VARIANT(LONG{1}), VARIANT(true)};
            case VT_VARIANT:
                return {VARIANT(number), VARIANT(number)};
            default: {
                IUnknown* object = param.iid != nullptr && *param.iid == IVTranscodeItem::k_iid
                                       ? static_cast<IUnknown*>(
                                             static_cast<IVTranscodeItem*>(m_transcodeItem.Get()))
                                       : static_cast<IUnknown*>(static_cast<IVItem*>(m_item.Get()));
                return {VARIANT(object), VARIANT(object)};
            }
        }
    }

    struct Call {
        std::vector<VARIANT> arguments;  // declaration order, out slots included
        std::vector<VARIANT> expected;   // what the method must record
    };
    Call MakeCall(const MethodInfo& method) {
        Call call;
        for (size_t i = 0; i < method.ArgumentCount(); ++i) {
            const ParamInfo& param = method.params[i];
            if (param.direction == ParamDirection::In) {
                auto [given, seen] = Argument(param, i);
                call.arguments.push_back(std::move(given));
                call.expected.push_back(std::move(seen));
            } else {
                call.arguments.emplace_back();
            }
        }
        return call;
    }

    void ExpectResults(const InterfaceInfo& info, const MethodInfo& method, const Call& call,
                       const std::vector<VARIANT>& arguments, const VARIANT& result) {
        const RecordedCall& recorded = Recorder(info).Last();
        EXPECT_EQ(recorded.method, method.name) << info.name << " slot " << method.slot;
        EXPECT_EQ(recorded.arguments, call.expected) << info.name << "::" << method.name;
        for (size_t i = 0; i < method.ArgumentCount(); ++i) {
            if (method.params[i].direction == ParamDirection::Out) {
                EXPECT_EQ(arguments[i].Vt(), method.params[i].vt) << method.name;
            }
        }
        const ParamInfo* retval = method.RetVal();
        if (retval == nullptr) {
            EXPECT_EQ(result.Vt(), VT_EMPTY) << method.name;
        } else if (retval->vt != VT_VARIANT) {
            EXPECT_EQ(result.Vt(), retval->vt) << method.name;
        }
    }

    CComPtr<CTestService> m_service;
    CComPtr<CTestHandler> m_handler;
    CComPtr<CTestTranscodeItem> m_transcodeItem;
    CComPtr<CTestItem> m_item;
};

TEST_F(TypeLibraryTest, EveryMethodReachesItsSlotThroughTheTable) {
    for (const InterfaceInfo* info : VTranscodeServerLibInfo().Interfaces()) {
        CComPtr<IUnknown> holder;
        void* self = Self(*info, holder);
        for (const MethodInfo& method : info->methods) {
            Call call = MakeCall(method);
            std::vector<VARIANT> arguments = call.arguments;
            VARIANT result;
            ASSERT_EQ(InvokeMethod(method, self, std::span<VARIANT>(arguments), &result, nullptr,
                                   nullptr),
                      S_OK)
                << info->name << "::" << method.name;
            ExpectResults(*info, method, call, arguments, result);
        }
    }
}

TEST_F(TypeLibraryTest, DualInterfacesAnswerByNameAndByDispatchId) {
    for (const InterfaceInfo* info : VTranscodeServerLibInfo().Interfaces()) {
        if (info->kind != InterfaceKind::Dual) {
            continue;
        }
        CComPtr<IUnknown> holder;
        auto* dispatch = static_cast<IDispatch*>(Self(*info, holder));
        for (const MethodInfo& method : info->methods) {
            const wchar_t* name = method.name.c_str();
            DISPID dispId = DISPID_UNKNOWN;
            ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispId),
                      S_OK);
            EXPECT_EQ(dispId, method.dispId) << method.name;

            Call call = MakeCall(method);
            std::vector<VARIANT> reversed(call.arguments.rbegin(), call.arguments.rend());
            DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
            VARIANT result;
            ASSERT_EQ(dispatch->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                       &params, &result, nullptr, nullptr),
                      S_OK)
                << info->name << "::" << method.name;
            ExpectResults(*info, method, call,
                          std::vector<VARIANT>(reversed.rbegin(), reversed.rend()), result);
        }
    }
}

TEST_F(TypeLibraryTest, DispatchIdNineIsUnknownAndGetNextIsEleven) {
    CComPtr<IDispatch> dispatch;
    ASSERT_EQ(m_service->QueryInterface(IID_IDispatch, dispatch.Put()), S_OK);
    const wchar_t* name = L"GetNext";
    DISPID dispId = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispId), S_OK);
    EXPECT_EQ(dispId, 11);
    DISPPARAMS none;
    VARIANT result;
    EXPECT_EQ(dispatch->Invoke(9, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result,
                               nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST_F(TypeLibraryTest, OptionalArgumentsMayBeLeftOut) {
    const MethodInfo* addFile = IVTranscodeService::TypeInfo().FindMethod(L"AddFile");
    ASSERT_NE(addFile, nullptr);
    std::vector<VARIANT> arguments{VARIANT(L"in.mp4"), VARIANT(L"out.mp4"), VARIANT(LONG{2}),
                                   VARIANT(ULONG{9})};
    VARIANT result;
    ASSERT_EQ(InvokeMethod(*addFile, static_cast<IVTranscodeService*>(m_service.Get()),
                           std::span<VARIANT>(arguments), &result, nullptr, nullptr),
              S_OK);
    EXPECT_TRUE(m_service->Last().arguments.back().IsMissing());
    EXPECT_EQ(result, VARIANT(LONG{42}));
}

TEST(TypeLibraryRecords, ClassesNameTheirInterfacesProgIdsAndOutgoingInterface) {
    const SVTypeLibraryInfo& library = VTranscodeServerLibInfo();
    const SVCoClassInfo* service = library.FindClass(L"VTranscodeServer.VTranscodeServiceOb.1");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->clsid, CLSID_VTranscodeService);
    EXPECT_EQ(service, library.FindClass(L"VTranscodeServer.VTranscodeServiceObj"));
    EXPECT_EQ(library.FindClass(L"VTranscodeServer.VTranscodeServiceObj.1"), nullptr);
    EXPECT_EQ(service->instancing, EVClassInstancing::Singleton);
    ASSERT_EQ(service->interfaces.size(), 4u);
    EXPECT_EQ(service->interfaces.front()->iid, IID_IVTranscodeService) << "the default first";
    EXPECT_EQ(service->defaultSource, DIID_IVEventListener);

    const SVCoClassInfo* handler = library.FindClass(CLSID_VTranscodeHandler);
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(handler->progId, L"VTranscodeServer.VTranscodeHandler.1");
    EXPECT_EQ(handler->instancing, EVClassInstancing::PerRequest);
    EXPECT_EQ(library.Interfaces().size(), 5u);
    EXPECT_EQ(library.enums.size(), 5u);
    EXPECT_EQ(library.constants.size(), 7u);
}

TEST(TypeLibraryRecords, ProjectNameComesFromTheStringTable) {
    EXPECT_EQ(LoadResourceText(qsys::ResourceTable::Process(), k_stringResourceType,
                               k_projectNameStringId),
              L"VTranscodeServer");
    try {
        LoadResourceText(qsys::ResourceTable::Process(), k_stringResourceType, 101);
        ADD_FAILURE() << "a missing string must raise";
    } catch (const CQException& error) {
        EXPECT_EQ(error.GetHResult(), HRESULT_FROM_WIN32(1814));
    }
}

}  // namespace
