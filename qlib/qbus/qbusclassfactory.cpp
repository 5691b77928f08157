#include "qlib/qbus/qbusclassfactory.h"

#include <algorithm>

#include <sdbus-c++/Types.h>

#include "qlib/qbus/qbuscall.h"
#include "qlib/qbus/qbuserror.h"
#include "qlib/qbus/qbusvaluecodec.h"
#include "qlib/qcom/comclasstable.h"
#include "qlib/qcom/comerror.h"
#include "qlib/qcom/progid.h"
#include "qlib/qutilitylib/qcatch.h"

template <class Body>
void CQBusClassFactory::ServeWhileAlive(const std::shared_ptr<Lifetime>& lifetime,
                                        const CQBusCall& call, Body&& body) {
    std::shared_lock lock(lifetime->lock);
    if (!lifetime->alive) {
        call.ReplyError(
            CQBusError::FromHResult(CO_E_SERVER_EXEC_FAILURE, L"The server is ending."));
        return;
    }
    try {
        body();
    } catch (...) {
        call.ReplyError(CQBusError::FromCurrentException());
    }
}

CQBusClassFactory::CQBusClassFactory(CQBusConnection& connection, std::string path,
                                     std::string interfacePrefix, std::vector<SQBusClass> classes,
                                     ReferenceListener listener)
    : m_connection(connection),
      m_path(std::move(path)),
      m_interfacePrefix(std::move(interfacePrefix)),
      m_classes(std::move(classes)),
      m_listener(std::move(listener)) {
    m_connection.WithBus([&](sdbus::IConnection& bus) {
        m_busObject = sdbus::createObject(bus, m_path);
        m_busObject->registerMethod(
            k_interface, "CreateInstance", "s", {"class"}, "o", {"object"},
            [this](sdbus::MethodCall call) {
                std::wstring name;
                try {
                    name = CQBusValueCodec::ReadString(call);
                } catch (const sdbus::Error&) {
                    throw;
                } catch (...) {
                    throw CQBusError::FromCurrentException();
                }
                CQBusCall::Serve(m_connection, call,
                                 [this, name, lifetime = m_lifetime](const CQBusCall& held) {
                                     ServeWhileAlive(lifetime, held, [&] {
                                         std::string path;
                                         CreateInstance(held.Sender(), name, &path);
                                         held.Reply([&](sdbus::MethodReply& reply) {
                                             reply << sdbus::ObjectPath(path);
                                         });
                                     });
                                 });
            });
        m_busObject->registerMethod(
            k_interface, "Release", "o", {"object"}, "", {}, [this](sdbus::MethodCall call) {
                sdbus::ObjectPath path;
                call >> path;
                CQBusCall::Serve(m_connection, call,
                                 [this, path, lifetime = m_lifetime](const CQBusCall& held) {
                                     ServeWhileAlive(lifetime, held, [&] {
                                         Release(held.Sender(), path);
                                         held.Reply([](sdbus::MethodReply&) {});
                                     });
                                 });
            });
        m_busObject->finishRegistration();
    });
    m_peerListener =
        m_connection.AddPeerGoneListener([this, lifetime = m_lifetime](const std::string& peer) {
            std::shared_lock lock(lifetime->lock);
            if (lifetime->alive) {
                PeerGone(peer);
            }
        });
}

CQBusClassFactory::~CQBusClassFactory() {
    m_connection.RemovePeerGoneListener(m_peerListener);
    {
        std::unique_lock lock(m_lifetime->lock);
        m_lifetime->alive = false;
    }
    m_connection.WithBus([&](sdbus::IConnection&) { m_busObject.reset(); });
    std::map<std::string, Exported> exports;
    {
        std::lock_guard lock(m_lock);
        exports.swap(m_exports);
    }
    // The exports go here, outside the lock: withdrawing them releases the objects.
}

size_t CQBusClassFactory::References() const {
    std::lock_guard lock(m_lock);
    return ReferencesLocked();
}

size_t CQBusClassFactory::ReferencesLocked() const {
    size_t total = 0;
    for (const auto& [path, exported] : m_exports) {
        for (const auto& [peer, count] : exported.references) {
            total += count;
        }
    }
    return total;
}

const SQBusClass& CQBusClassFactory::Resolve(const std::wstring& name) const {
    CLSID clsid{};
    const bool registered = SUCCEEDED(CLSIDFromString(name, &clsid));
    const auto found = std::ranges::find_if(m_classes, [&](const SQBusClass& type) {
        return registered ? type.clsid == clsid
                          : std::ranges::find(type.progIds, name) != type.progIds.end();
    });
    if (found == m_classes.end()) {
        throw CQBusError::FromHResult(registered ? REGDB_E_CLASSNOTREG : CO_E_CLASSSTRING,
                                      L"No class of this server is named \"" + name + L"\".");
    }
    return *found;
}

void CQBusClassFactory::CreateInstance(const std::string& peer, const std::wstring& name,
                                       std::string* path) {
    const SQBusClass& type = Resolve(name);
    std::unique_lock createLock(m_createLock, std::defer_lock);
    if (type.instancing == EQBusInstancing::Shared) {
        createLock.lock();
        std::lock_guard lock(m_lock);
        if (const auto found = m_exports.find(type.path); found != m_exports.end()) {
            ++found->second.references[peer];
            *path = type.path;
        }
    }
    if (path->empty()) {
        CComPtr<IUnknown> object;
        ClearErrorInfo();
        const HRESULT hr =
            CoCreateInstance(type.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.Put());
        if (FAILED(hr)) {
            throw CQBusError::FromHResult(hr, GetErrorInfo());
        }
        *path = Publish(type, std::move(object), peer);
    }
    createLock = {};
    m_connection.WatchPeer(peer);
    Notify();
}

std::string CQBusClassFactory::Publish(const SQBusClass& type, CComPtr<IUnknown> object,
                                       const std::string& peer) {
    std::string path = type.path;
    if (type.instancing == EQBusInstancing::PerRequest) {
        std::lock_guard lock(m_lock);
        path += '/';
        path += std::to_string(m_nextId++);
    }
    auto exported = std::make_unique<CQBusServerObject>(
        m_connection, SQBusExport{path, m_interfacePrefix, std::move(object), type.interfaces,
                                  type.eventInterface});
    std::lock_guard lock(m_lock);
    m_exports.emplace(path, Exported{std::move(exported), {{peer, 1}}, type.instancing});
    return path;
}

void CQBusClassFactory::Release(const std::string& peer, const std::string& path) {
    std::unique_ptr<CQBusServerObject> withdrawn;
    {
        std::lock_guard lock(m_lock);
        const auto found = m_exports.find(path);
        const auto held = found == m_exports.end() ? std::map<std::string, size_t>::iterator()
                                                   : found->second.references.find(peer);
        if (found == m_exports.end() || held == found->second.references.end()) {
            throw CQBusError::FromHResult(E_INVALIDARG, L"This client holds no reference to " +
                                                            std::wstring(path.begin(), path.end()) +
                                                            L".");
        }
        if (--held->second == 0) {
            found->second.references.erase(held);
        }
        if (found->second.references.empty() &&
            found->second.instancing == EQBusInstancing::PerRequest) {
            withdrawn = std::move(found->second.object);
            m_exports.erase(found);
        }
    }
    withdrawn.reset();
    Notify();
}

void CQBusClassFactory::PeerGone(const std::string& peer) {
    std::vector<std::unique_ptr<CQBusServerObject>> withdrawn;
    {
        std::lock_guard lock(m_lock);
        for (auto it = m_exports.begin(); it != m_exports.end();) {
            it->second.references.erase(peer);
            if (it->second.references.empty() &&
                it->second.instancing == EQBusInstancing::PerRequest) {
                withdrawn.push_back(std::move(it->second.object));
                it = m_exports.erase(it);
            } else {
                ++it;
            }
        }
    }
    withdrawn.clear();
    Notify();
}

void CQBusClassFactory::Notify() {
    if (m_listener) {
        const size_t references = References();
        CQCatch::LogAndSwallow([&] { m_listener(references); });
    }
}
