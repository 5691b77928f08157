#pragma once
// CQBusConnection: one connection to a bus, driven by a loop of our own, and the pool that
// serves the calls arriving on it. The loop runs on one pool thread at a time (it leads).
//
//     auto connection = CQBusConnection::OpenSession();   // raises when there is no session bus
//     connection->RequestName("com.zelto.VTranscodeServer");
//     CQBusClassFactory factory(*connection, classes, ...);
//     connection->Start();
//
// The bus library (sd-bus underneath) is not thread-safe: every use of the connection and of
// messages, objects and signals made from it (their reference counts included) happens under
// the bus lock, through WithBus. The loop holds that lock only while it processes what arrived
// and never while it waits. At the end of every WithBus the loop is woken (an eventfd)
// when what it waits for no longer fits the bus: output is queued (a large reply sent from a
// worker is written at once, never waiting for the next incoming message), a message was read
// and waits to be processed, or a deadline came nearer. A reply written whole needs no wake-up,
// which spares the loop a round for every call served.
//
// Method handlers run in the loop under the bus lock: they only read their arguments and Post
// the work, which calls the objects (without the bus lock) and sends the reply through WithBus.
// Work posted while the loop processes what arrived is held until the loop has let go of the
// bus lock (a pool thread woken earlier would run into that lock at once and sleep again).
// Then, when the round posted work and a pool thread is idle or may start, that thread takes
// over the loop and the thread that led serves the first piece itself: the call is served
// without waiting for a thread to wake, and the loop never waits for a call. Otherwise (every
// thread busy) the work waits in the pool and the loop goes on where it is.
//
// Peers: WatchPeer asks to hear when a peer (a unique name) leaves the bus; every listener added
// with AddPeerGoneListener is then called once for it, on a pool thread.
//
// Threads: any thread may call the public methods except the destructor (not on a pool
// thread). m_busLock (recursive, so that work under WithBus may use WithBus) guards m_bus,
// m_polled and every message; m_peerLock guards m_peers and m_peerGoneListeners; m_loopPosts
// belongs to the thread that leads the loop (handing over passes it on through the pool's
// lock); m_lost is set by Start before the loop runs.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <sdbus-c++/IConnection.h>

#include "qlib/qbus/qbuscallpool.h"
#include "qlib/qsys/uniquefd.h"

class CQBusConnection {
public:
    using PeerGoneListener = std::function<void(const std::string& peer)>;

    // The session bus ($DBUS_SESSION_BUS_ADDRESS, else the user's default) or the bus at
    // `address`. Raise sdbus::Error when it cannot be reached.
    static std::unique_ptr<CQBusConnection> OpenSession();
    static std::unique_ptr<CQBusConnection> Open(const std::string& address);

    CQBusConnection(const CQBusConnection&) = delete;
    CQBusConnection& operator=(const CQBusConnection&) = delete;
    // Stops the loop, then the pool (running calls finish first).
    ~CQBusConnection();

    // Starts the loop; call after the objects are registered. `lost`, when given, is called
    // once on the thread that leads the loop if the bus goes away (its daemon ended); the loop
    // then ends, and calls fail from then on.
    void Start(std::function<void()> lost = {});
    void RequestName(const std::string& name);
    std::string UniqueName();

    // Runs action(bus) under the bus lock and wakes the loop afterwards.
    template <class Action>
    decltype(auto) WithBus(Action&& action) {
        struct Waker {
            CQBusConnection& owner;
            ~Waker() { owner.WakeIfNeeded(); }
        };
        std::lock_guard lock(m_busLock);
        const Waker waker{*this};  // runs before the lock is let go
        return std::forward<Action>(action)(*m_bus);
    }

    void Post(std::function<void()> work);

    void WatchPeer(const std::string& peer);
    // Returns a token for RemovePeerGoneListener (which waits for no call in progress: a
    // listener must stay safe to call until it is removed, or hold only weak references).
    uint64_t AddPeerGoneListener(PeerGoneListener listener);
    void RemovePeerGoneListener(uint64_t token);

private:
    explicit CQBusConnection(std::unique_ptr<sdbus::IConnection> bus);

    void Wake();
    // Under the bus lock: wakes the loop unless it already waits for what the bus needs.
    void WakeIfNeeded() noexcept;
    // What one round of the loop leaves it to wait for.
    struct Round {
        sdbus::IConnection::PollData polled{};
        bool more = false;  // stopped at the round's limit: look again at once
    };

    // Leads the loop on this pool thread until it hands it over or the loop ends; a loop handed
    // over first waits for what the last round left.
    void Lead(std::optional<Round> handed);
    // Waits for the bus or a wake-up; false when the bus hung up or poll failed.
    bool Wait(const Round& round);
    // Processes what arrived; true when it stopped at the round's limit.
    bool ProcessPending();
    // Posts the work of the round; true when another thread took over the loop and this one
    // served the first piece.
    bool HandOver(const Round& round, bool connected);
    void OnNameOwnerChanged(sdbus::Message& message);
    void PeerGone(const std::string& peer);

    std::recursive_mutex m_busLock;
    std::unique_ptr<sdbus::IConnection> m_bus;  // guarded by m_busLock
    sdbus::Slot m_nameOwnerMatch;               // guarded by m_busLock
    sdbus::IConnection::PollData m_polled{};    // what the loop waits for; guarded by m_busLock
    qsys::UniqueFd m_wakeFd;
    std::atomic<bool> m_stopping{false};
    std::function<void()> m_lost;
    std::vector<std::function<void()>> m_loopPosts;  // posted while the loop processes

    std::mutex m_peerLock;
    std::set<std::string> m_peers;                             // guarded by m_peerLock
    std::map<uint64_t, PeerGoneListener> m_peerGoneListeners;  // guarded by m_peerLock
    uint64_t m_nextListenerToken = 1;                          // guarded by m_peerLock

    // Last member: destroyed (running calls finished) before everything above.
    CQBusCallPool m_pool;
};
