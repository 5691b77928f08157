#pragma once
// CQBusClassFactory: the class objects of this process on the bus, at one path with the
// interface "com.zelto.VTranscodeServer.ClassFactory":
//   CreateInstance(s class) -> o   `class` is a CLSID in registry form ("{...}") or a ProgID
//                                  (one registered in the registry store, or one the class
//                                  names itself). A Shared class answers the one path of its
//                                  one instance; a PerRequest class answers a new path
//                                  <base>/N per request. The calling peer now holds one
//                                  reference to that object.
//   Release(o object)              drops one reference of the calling peer; E_INVALIDARG when
//                                  it holds none.
// A peer that leaves the bus drops all its references. A PerRequest object whose count reaches
// zero is withdrawn from the bus and released (its FinalRelease runs, on a pool thread); a
// Shared object stays exported for the life of the factory. The reference listener hears the
// number of references held by all peers together after every change (the host's shutdown
// monitor: the server ends 5000 ms after it reaches zero).
//
// Objects are made through the process's class table (CoCreateInstance, in-process), so the
// host registers its classes there first (a singleton factory for a Shared class).
//
// Calls are served on the connection's pool. m_lock guards m_exports and m_nextId; it is never
// held while an object is made or released, or while the reference listener runs. Work on the
// pool holds m_lifetime->lock shared while it runs; the destructor takes it exclusively (so it
// waits for running work), marks the factory gone (work that starts later answers that the
// class objects are gone), and then withdraws every export. It must not run in the loop or on
// a pool thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include <sdbus-c++/IObject.h>

#include "qlib/qbus/qbusconnection.h"
#include "qlib/qbus/qbusserverobject.h"

class CQBusCall;

enum class EQBusInstancing { Shared, PerRequest };

struct SQBusClass {
    CLSID clsid{};
    std::vector<std::wstring> progIds;  // names the class answers besides the registry's
    std::string path;                   // Shared: the path; PerRequest: the base path
    std::vector<const InterfaceInfo*> interfaces;
    std::optional<IID> eventInterface;
    EQBusInstancing instancing = EQBusInstancing::PerRequest;
};

class CQBusClassFactory {
public:
    static constexpr const char* k_interface = "com.zelto.VTranscodeServer.ClassFactory";
    using ReferenceListener = std::function<void(size_t references)>;

    CQBusClassFactory(CQBusConnection& connection, std::string path, std::string interfacePrefix,
                      std::vector<SQBusClass> classes, ReferenceListener listener = {});
    CQBusClassFactory(const CQBusClassFactory&) = delete;
    CQBusClassFactory& operator=(const CQBusClassFactory&) = delete;
    ~CQBusClassFactory();

    // References held by all peers together.
    size_t References() const;

private:
    struct Exported {
        std::unique_ptr<CQBusServerObject> object;
        std::map<std::string, size_t> references;  // by peer
        EQBusInstancing instancing = EQBusInstancing::PerRequest;
    };

    struct Lifetime {
        std::shared_mutex lock;
        bool alive = true;  // guarded by lock
    };

    // Runs body for a call while the factory lives (holding its lifetime lock shared); a
    // failure of body, or a factory that is gone, is the call's error.
    template <class Body>
    static void ServeWhileAlive(const std::shared_ptr<Lifetime>& lifetime, const CQBusCall& call,
                                Body&& body);
    void CreateInstance(const std::string& peer, const std::wstring& name, std::string* path);
    void Release(const std::string& peer, const std::string& path);
    void PeerGone(const std::string& peer);
    const SQBusClass& Resolve(const std::wstring& name) const;
    // Exports a new object with one reference of `peer`; answers its path.
    std::string Publish(const SQBusClass& type, CComPtr<IUnknown> object, const std::string& peer);
    void Notify();
    size_t ReferencesLocked() const;

    CQBusConnection& m_connection;
    const std::string m_path;
    const std::string m_interfacePrefix;
    const std::vector<SQBusClass> m_classes;
    const ReferenceListener m_listener;

    mutable std::mutex m_lock;
    std::mutex m_createLock;  // serialises the first creation of a Shared class's export
    std::map<std::string, Exported> m_exports;  // by path; guarded by m_lock
    uint64_t m_nextId = 1;                      // guarded by m_lock

    const std::shared_ptr<Lifetime> m_lifetime = std::make_shared<Lifetime>();

    std::unique_ptr<sdbus::IObject> m_busObject;  // guarded by the bus lock
    uint64_t m_peerListener = 0;
};
