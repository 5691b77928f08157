#pragma once
// CComConnectionPointContainer: IConnectionPointContainer for an event source object, which
// lists it in its interface map and adds its points in its constructor:
//
//     class CService final
//         : public CComObjectBase<CComDispatchImpl<IVTranscodeService>,
//                                 CComConnectionPointContainer> {
//     public:
//         CService()
//             : m_events(AddConnectionPoint<CComConnectionPoint<IDispatch>>(DIID_VEventListener))
//             {}
//     private:
//         CComConnectionPoint<IDispatch>& m_events;  // an outgoing dispinterface
//     };
//
// The container owns its points; they live as long as the object. Points are added only while
// the object is being constructed, so the list needs no lock afterwards: any thread may find
// points.

#include <memory>
#include <utility>
#include <vector>

#include "qlib/qcom/comconnectionpoint.h"

class CComConnectionPointContainer : public IConnectionPointContainer {
public:
    using Interface = IConnectionPointContainer;

    HRESULT EnumConnectionPoints(std::vector<CComPtr<IConnectionPoint>>* points) override;
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

protected:
    CComConnectionPointContainer() = default;
    ~CComConnectionPointContainer();

    // Adds a point of type Point (CComConnectionPoint<I> or a class derived from it), made
    // from this container and `args`. Call only from the owning object's constructor.
    template <class Point, class... Args>
    Point& AddConnectionPoint(Args&&... args) {
        auto point = std::make_unique<Point>(*this, std::forward<Args>(args)...);
        Point& added = *point;
        m_points.push_back(std::move(point));
        return added;
    }

private:
    std::vector<std::unique_ptr<CComConnectionPointImpl>> m_points;  // constant after construction
};
