#include "qlib/qbus/qbusserverobject.h"

#include <algorithm>
#include <functional>
#include <mutex>

#include <sdbus-c++/IObject.h>
#include <sdbus-c++/Message.h>

#include "qlib/qbus/qbuscall.h"
#include "qlib/qbus/qbuserror.h"
#include "qlib/qbus/qbuseventsink.h"
#include "qlib/qbus/qbusitemcodec.h"
#include "qlib/qbus/qbusvaluecodec.h"
#include "qlib/qcom/comerror.h"
#include "qlib/qcom/connectionpoint.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcatch.h"

namespace {

using Work = CQBusCall::Work;

// At most this many names or arguments in one late-bound call.
constexpr size_t k_maxLateBoundArguments = 64;

}  // namespace

struct CQBusServerObject::Core : std::enable_shared_from_this<CQBusServerObject::Core> {
    struct Connection {
        std::string peer;
        DWORD cookie = 0;
        CComPtr<CQBusEventSink> sink;
    };

    Core(CQBusConnection& owner, SQBusExport exported)
        : connection(owner),
          description(std::move(exported)),
          target(std::make_shared<SQBusSignalTarget>()) {
        target->connection = &owner;
    }

    CQBusConnection& connection;
    const SQBusExport description;
    std::vector<CComPtr<IUnknown>> selves;  // per table: the pointer QueryInterface answered
    const MethodInfo* FindDispatchMethod(DISPID dispId) const;
    const InterfaceInfo* dispatchTable = nullptr;
    void* dispatchSelf = nullptr;
    std::shared_ptr<SQBusSignalTarget> target;
    std::unique_ptr<sdbus::IObject> busObject;  // guarded by the bus lock

    std::mutex lock;
    std::vector<Connection> connections;  // guarded by lock

    void Register(sdbus::IConnection& bus);
    void RegisterTable(size_t index);
    void RegisterDispatch();
    void RegisterConnectionPoints();

    // Reads the call's arguments with `read` (in the loop) and runs the work it returns
    // on the pool; a failure to read answers the call at once.
    void Dispatch(const sdbus::MethodCall& call,
                  const std::function<Work(sdbus::MethodCall&)>& read);

    Work ReadTypedCall(sdbus::MethodCall& call, const MethodInfo& method, void* self);
    Work ReadInvoke(sdbus::MethodCall& call);
    void Advise(const CQBusCall& call);
    void Unadvise(const CQBusCall& call, DWORD cookie);
    void DropPeer(const std::string& peer);
    void Disconnect(std::vector<Connection> dropped);
    CComPtr<IConnectionPoint> Point() const;
};

void CQBusServerObject::Core::Register(sdbus::IConnection& bus) {
    busObject = sdbus::createObject(bus, description.path);
    target->object = busObject.get();
    for (size_t index = 0; index < description.interfaces.size(); ++index) {
        RegisterTable(index);
    }
    if (dispatchTable != nullptr) {
        RegisterDispatch();
    }
    if (description.eventInterface) {
        RegisterConnectionPoints();
    }
    busObject->finishRegistration();
}

void CQBusServerObject::Core::RegisterTable(size_t index) {
    const InterfaceInfo& table = *description.interfaces[index];
    void* raw = nullptr;
    ThrowIfFailed(description.object->QueryInterface(table.iid, &raw));
    selves.emplace_back().Attach(static_cast<IUnknown*>(raw));
    if (table.kind == InterfaceKind::Dual && dispatchTable == nullptr) {
        dispatchTable = &table;
        dispatchSelf = raw;
    }
    const std::string interfaceName = description.interfacePrefix + qsys::ToUtf8(table.name);
    for (const MethodInfo& method : table.methods) {
        std::string inputs;
        std::string outputs;
        std::vector<std::string> inputNames;
        std::vector<std::string> outputNames;
        for (const ParamInfo& param : method.params) {
            const bool in = param.direction == ParamDirection::In;
            (in ? inputs : outputs) += CQBusValueCodec::Signature(param);
            (in ? inputNames : outputNames).push_back(qsys::ToUtf8(param.name));
        }
        busObject->registerMethod(interfaceName, qsys::ToUtf8(method.name), inputs, inputNames,
                                  outputs, outputNames,
                                  [this, &method, raw](sdbus::MethodCall call) {
                                      Dispatch(call, [&](sdbus::MethodCall& message) {
                                          return ReadTypedCall(message, method, raw);
                                      });
                                  });
    }
}

void CQBusServerObject::Core::RegisterDispatch() {
    busObject->registerMethod(k_dispatchInterface, "GetIDsOfNames", "as", {"names"}, "ai",
                              {"dispIds"}, [this](sdbus::MethodCall call) {
                                  try {
                                      std::vector<DISPID> ids;
                                      call.enterContainer("s");
                                      while (!CQBusValueCodec::AtEnd(call)) {
                                          if (ids.size() == k_maxLateBoundArguments) {
                                              throw CQBusError::InvalidArgument("too many names");
                                          }
                                          const std::wstring name =
                                              CQBusValueCodec::ReadString(call);
                                          const auto found = std::ranges::find(
                                              dispatchTable->methods, name, &MethodInfo::name);
                                          if (found == dispatchTable->methods.end()) {
                                              throw CQBusError::FromHResult(
                                                  DISP_E_MEMBERNOTFOUND, L"Unknown name: " + name);
                                          }
                                          ids.push_back(found->dispId);
                                      }
                                      call.exitContainer();
                                      sdbus::MethodReply reply = call.createReply();
                                      reply << ids;
                                      reply.send();
                                  } catch (const sdbus::Error&) {
                                      throw;
                                  } catch (...) {
                                      throw CQBusError::FromCurrentException();
                                  }
                              });
    busObject->registerMethod(
        k_dispatchInterface, "Invoke", "ia(qv)", {"dispId", "args"}, "a(qv)", {"results"},
        [this](sdbus::MethodCall call) {
            Dispatch(call, [&](sdbus::MethodCall& message) { return ReadInvoke(message); });
        });
}

void CQBusServerObject::Core::RegisterConnectionPoints() {
    busObject->registerMethod(k_connectionPointsInterface, "Advise", "", {}, "u", {"cookie"},
                              [this](sdbus::MethodCall call) {
                                  Dispatch(call, [&](sdbus::MethodCall&) -> Work {
                                      return [this](const CQBusCall& held) { Advise(held); };
                                  });
                              });
    busObject->registerMethod(k_connectionPointsInterface, "Unadvise", "u", {"cookie"}, "", {},
                              [this](sdbus::MethodCall call) {
                                  Dispatch(call, [&](sdbus::MethodCall& message) -> Work {
                                      uint32_t cookie = 0;
                                      message >> cookie;
                                      return [this, cookie](const CQBusCall& held) {
                                          Unadvise(held, cookie);
                                      };
                                  });
                              });
    busObject->registerSignal(CQBusEventSink::k_interface, CQBusEventSink::k_signal,
                              "(sssa(ssi(qv)))");
}

void CQBusServerObject::Core::Dispatch(const sdbus::MethodCall& call,
                                       const std::function<Work(sdbus::MethodCall&)>& read) {
    Work work;
    try {
        sdbus::MethodCall message = call;
        work = read(message);
    } catch (const sdbus::Error&) {
        throw;
    } catch (...) {
        throw CQBusError::FromCurrentException();
    }
    // The work keeps the core alive until it has answered.
    CQBusCall::Serve(
        connection, call,
        [core = shared_from_this(), work = std::move(work)](const CQBusCall& held) { work(held); });
}

Work CQBusServerObject::Core::ReadTypedCall(sdbus::MethodCall& call, const MethodInfo& method,
                                            void* self) {
    std::vector<VARIANT> args;
    for (size_t i = 0; i < method.ArgumentCount(); ++i) {
        const ParamInfo& param = method.params[i];
        args.push_back(param.direction == ParamDirection::In
                           ? CQBusValueCodec::ReadParam(call, param)
                           : VARIANT());
    }
    return [this, &method, self, args = std::move(args)](const CQBusCall& held) mutable {
        ClearErrorInfo();
        VARIANT result;
        const HRESULT hr =
            InvokeMethod(method, self, std::span<VARIANT>(args), &result, nullptr, nullptr);
        if (FAILED(hr)) {
            held.ReplyError(CQBusError::FromHResult(hr, GetErrorInfo()));
            return;
        }
        held.Reply([&](sdbus::MethodReply& reply) {
            for (size_t i = 0; i < args.size(); ++i) {
                if (method.params[i].direction == ParamDirection::Out) {
                    CQBusValueCodec::WriteParam(reply, method.params[i], args[i]);
                }
            }
            if (const ParamInfo* retval = method.RetVal(); retval != nullptr) {
                CQBusValueCodec::WriteParam(reply, *retval, result);
            }
        });
    };
}

const MethodInfo* CQBusServerObject::Core::FindDispatchMethod(DISPID dispId) const {
    return dispatchTable->FindMethod(dispId);
}

Work CQBusServerObject::Core::ReadInvoke(sdbus::MethodCall& call) {
    int32_t dispId = 0;
    call >> dispId;
    std::vector<VARIANT> given;
    call.enterContainer("(qv)");
    while (!CQBusValueCodec::AtEnd(call)) {
        if (given.size() == k_maxLateBoundArguments) {
            throw CQBusError::InvalidArgument("too many arguments");
        }
        given.push_back(CQBusValueCodec::ReadVariant(call));
    }
    call.exitContainer();
    const MethodInfo* method = FindDispatchMethod(dispId);
    if (method == nullptr) {
        throw CQBusError::FromHResult(DISP_E_MEMBERNOTFOUND,
                                      L"Unknown dispatch id " + std::to_wstring(dispId) + L".");
    }
    // Values for every parameter but the retval, or for the in-parameters only.
    const bool everyParameter = given.size() == method->ArgumentCount();
    std::vector<VARIANT> args;
    size_t next = 0;
    for (size_t i = 0; i < method->ArgumentCount(); ++i) {
        const ParamInfo& param = method->params[i];
        if (param.direction != ParamDirection::In) {
            args.emplace_back();
            next += everyParameter ? 1 : 0;
            continue;
        }
        if (next == given.size()) {
            break;
        }
        VARIANT value = std::move(given[next++]);
        if (param.iid != nullptr && *param.iid == IVTranscodeItem::k_iid && value.Vt() == VT_BSTR) {
            value = VARIANT(CQBusItemCodec::TranscodeItemFromXML(value.Get<BSTR>()));
        }
        args.push_back(std::move(value));
    }
    if (next < given.size()) {
        throw CQBusError::FromHResult(DISP_E_BADPARAMCOUNT, L"Too many arguments.");
    }
    return [this, method, args = std::move(args)](const CQBusCall& held) mutable {
        ClearErrorInfo();
        VARIANT result;
        const HRESULT hr = InvokeMethod(*method, dispatchSelf, std::span<VARIANT>(args), &result,
                                        nullptr, nullptr);
        if (FAILED(hr)) {
            held.ReplyError(CQBusError::FromHResult(hr, GetErrorInfo()));
            return;
        }
        held.Reply([&](sdbus::MethodReply& reply) {
            reply.openContainer("(qv)");
            CQBusValueCodec::WriteVariant(reply, result);
            for (size_t i = 0; i < args.size(); ++i) {
                if (method->params[i].direction == ParamDirection::Out) {
                    CQBusValueCodec::WriteVariant(reply, args[i]);
                }
            }
            reply.closeContainer();
        });
    };
}

CComPtr<IConnectionPoint> CQBusServerObject::Core::Point() const {
    CComPtr<IConnectionPointContainer> container;
    ThrowIfFailed(
        description.object->QueryInterface(IID_IConnectionPointContainer, container.Put()));
    CComPtr<IConnectionPoint> point;
    ThrowIfFailed(container->FindConnectionPoint(*description.eventInterface, &point));
    return point;
}

void CQBusServerObject::Core::Advise(const CQBusCall& call) {
    const std::string& peer = call.Sender();
    try {
        CComPtr<CQBusEventSink> sink;
        ThrowIfFailed(CreateComObject(&sink, target, peer, *description.eventInterface));
        DWORD cookie = 0;
        ThrowIfFailed(Point()->Advise(static_cast<IDispatch*>(sink.Get()), &cookie));
        {
            std::lock_guard guard(lock);
            connections.push_back({peer, cookie, sink});
        }
        connection.WatchPeer(peer);
        call.Reply([&](sdbus::MethodReply& reply) { reply << static_cast<uint32_t>(cookie); });
    } catch (...) {
        call.ReplyError(CQBusError::FromCurrentException());
    }
}

void CQBusServerObject::Core::Unadvise(const CQBusCall& call, DWORD cookie) {
    const std::string& peer = call.Sender();
    std::vector<Connection> dropped;
    {
        std::lock_guard guard(lock);
        const auto found = std::ranges::find_if(connections, [&](const Connection& entry) {
            return entry.peer == peer && entry.cookie == cookie;
        });
        if (found != connections.end()) {
            dropped.push_back(std::move(*found));
            connections.erase(found);
        }
    }
    if (dropped.empty()) {
        call.ReplyError(CQBusError::FromHResult(CONNECT_E_NOCONNECTION,
                                                L"No connection of this client has that cookie."));
        return;
    }
    Disconnect(std::move(dropped));
    call.Reply([](sdbus::MethodReply&) {});
}

void CQBusServerObject::Core::DropPeer(const std::string& peer) {
    std::vector<Connection> dropped;
    {
        std::lock_guard guard(lock);
        std::erase_if(connections, [&](Connection& entry) {
            const bool match = entry.peer == peer;
            if (match) {
                dropped.push_back(std::move(entry));
            }
            return match;
        });
    }
    Disconnect(std::move(dropped));
}

void CQBusServerObject::Core::Disconnect(std::vector<Connection> dropped) {
    if (dropped.empty()) {
        return;
    }
    CQCatch::LogAndSwallow([&] {
        const CComPtr<IConnectionPoint> point = Point();
        for (Connection& entry : dropped) {
            entry.sink->PeerGone();
            point->Unadvise(entry.cookie);
        }
    });
}

CQBusServerObject::CQBusServerObject(CQBusConnection& connection, SQBusExport description)
    : m_core(std::make_shared<Core>(connection, std::move(description))) {
    connection.WithBus([&](sdbus::IConnection& bus) { m_core->Register(bus); });
    m_peerListener = connection.AddPeerGoneListener(
        [weak = std::weak_ptr<Core>(m_core)](const std::string& peer) {
            if (const auto core = weak.lock()) {
                core->DropPeer(peer);
            }
        });
}

CQBusServerObject::~CQBusServerObject() {
    m_core->connection.RemovePeerGoneListener(m_peerListener);
    m_core->connection.WithBus([&](sdbus::IConnection&) {
        m_core->target->object = nullptr;
        m_core->busObject.reset();
    });
    std::vector<Core::Connection> dropped;
    {
        std::lock_guard guard(m_core->lock);
        dropped.swap(m_core->connections);
    }
    m_core->Disconnect(std::move(dropped));
}

const std::string& CQBusServerObject::Path() const {
    return m_core->description.path;
}

IUnknown* CQBusServerObject::Object() const {
    return m_core->description.object.Get();
}

void CQBusServerObject::DropPeer(const std::string& peer) {
    m_core->DropPeer(peer);
}
