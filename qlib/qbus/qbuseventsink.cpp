#include "qlib/qbus/qbuseventsink.h"

#include "qlib/qbus/qbusitemcodec.h"
#include "qlib/qutilitylib/qcatch.h"
#include "vtranscoder/veventinterfaces.h"

HRESULT CQBusEventSink::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT CQBusEventSink::GetTypeInfo(UINT, LCID, const InterfaceInfo** info) {
    if (info != nullptr) {
        *info = nullptr;
    }
    return DISP_E_BADINDEX;
}

HRESULT CQBusEventSink::GetIDsOfNames(REFIID, const wchar_t* const*, UINT, LCID, DISPID*) {
    return DISP_E_UNKNOWNNAME;
}

HRESULT CQBusEventSink::Invoke(DISPID dispId, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                               EXCEPINFO*, UINT*) {
    if (dispId != k_eventMethodDispId) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (params == nullptr || params->cArgs != 1) {
        return DISP_E_BADPARAMCOUNT;
    }
    CComPtr<IVItem> event;
    IUnknown* object = params->rgvarg[0].Unknown();
    if (object == nullptr || FAILED(object->QueryInterface(IVItem::k_iid, event.Put()))) {
        return DISP_E_TYPEMISMATCH;
    }
    if (m_peerGone) {
        return RPC_E_DISCONNECTED;
    }
    HRESULT hr = S_OK;
    CQCatch::Boundary(
        [&] {
            m_target->connection->WithBus([&](sdbus::IConnection&) {
                if (m_target->object == nullptr) {
                    hr = RPC_E_DISCONNECTED;
                    return;
                }
                sdbus::Signal signal = m_target->object->createSignal(k_interface, k_signal);
                CQBusItemCodec::WriteItem(signal, event.Get(), 0);
                signal.setDestination(m_peer);
                m_target->object->emitSignal(signal);
            });
        },
        [&](CQException& error) { hr = error.GetHResult(); });
    return hr;
}

void* CQBusEventSink::QueryAdditionalInterface(REFIID iid) {
    return iid == m_events ? static_cast<IDispatch*>(this) : nullptr;
}
