#include "qlib/qcom/comconnectionpointcontainer.h"

CComConnectionPointContainer::~CComConnectionPointContainer() = default;

HRESULT CComConnectionPointContainer::EnumConnectionPoints(
    std::vector<CComPtr<IConnectionPoint>>* points) {
    if (points == nullptr) {
        return E_POINTER;
    }
    points->clear();
    for (const auto& point : m_points) {
        points->emplace_back(point.get());
    }
    return S_OK;
}

HRESULT CComConnectionPointContainer::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (point == nullptr) {
        return E_POINTER;
    }
    *point = nullptr;
    for (const auto& candidate : m_points) {
        if (candidate->ConnectionInterface() == iid) {
            *point = candidate.get();
            candidate->AddRef();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}
