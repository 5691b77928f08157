#include "qlib/qbus/qbusconnection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include <sdbus-c++/IProxy.h>
#include <sdbus-c++/Message.h>

#include "qlib/qutilitylib/qcatch.h"

namespace {

constexpr const char* k_busName = "org.freedesktop.DBus";
constexpr const char* k_busPath = "/org/freedesktop/DBus";
constexpr const char* k_busInterface = "org.freedesktop.DBus";

// At most this many messages are processed in one round of the loop, so that under a flood of
// calls their work still reaches the pool and replies still get the bus lock. When messages may
// be left (in the library's queue or read buffer), the next round does not wait.
constexpr int k_maxMessagesPerRound = 64;

// The connection whose loop runs on this thread while it processes what arrived.
thread_local const CQBusConnection* t_processing = nullptr;

// The poll timeout, in milliseconds, for the bus's own deadline (-1: none).
int PollTimeout(const sdbus::IConnection::PollData& data) {
    const auto relative = data.getRelativeTimeout();
    if (!relative) {
        return -1;
    }
    return static_cast<int>((relative->count() + 999) / 1000);
}

}  // namespace

std::unique_ptr<CQBusConnection> CQBusConnection::OpenSession() {
    return std::unique_ptr<CQBusConnection>(
        new CQBusConnection(sdbus::createSessionBusConnection()));
}

std::unique_ptr<CQBusConnection> CQBusConnection::Open(const std::string& address) {
    return std::unique_ptr<CQBusConnection>(
        new CQBusConnection(sdbus::createSessionBusConnectionWithAddress(address)));
}

CQBusConnection::CQBusConnection(std::unique_ptr<sdbus::IConnection> bus)
    : m_bus(std::move(bus)), m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_wakeFd.IsValid()) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    // One match for every peer that leaves; OnNameOwnerChanged keeps those we watch.
    m_nameOwnerMatch =
        m_bus->addMatch(std::string("type='signal',sender='") + k_busName + "',interface='" +
                            k_busInterface + "',member='NameOwnerChanged',arg2=''",
                        [this](sdbus::Message& message) { OnNameOwnerChanged(message); });
}

CQBusConnection::~CQBusConnection() {
    m_stopping = true;
    Wake();
    // The pool, the last member, is destroyed first: it waits for the thread that leads the
    // loop (which sees m_stopping once woken) and for running calls.
}

void CQBusConnection::Start(std::function<void()> lost) {
    m_lost = std::move(lost);
    m_pool.Post([this] { Lead(std::nullopt); });
}

void CQBusConnection::RequestName(const std::string& name) {
    WithBus([&](sdbus::IConnection& bus) { bus.requestName(name); });
}

std::string CQBusConnection::UniqueName() {
    return WithBus([](sdbus::IConnection& bus) { return bus.getUniqueName(); });
}

void CQBusConnection::Wake() {
    const uint64_t one = 1;
    // A full counter means a wake-up is pending anyway.
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd.Get(), &one, sizeof one);
}

void CQBusConnection::WakeIfNeeded() noexcept {
    try {
        const sdbus::IConnection::PollData now = m_bus->getEventLoopPollData();
        if (now.fd == m_polled.fd && now.events == m_polled.events &&
            now.timeout_usec >= m_polled.timeout_usec) {
            return;
        }
    } catch (...) {
        // The loop finds out what failed.
    }
    Wake();
}

void CQBusConnection::Lead(std::optional<Round> handed) {
    std::optional<Round> round = std::move(handed);
    bool connected = true;
    while (!m_stopping && connected) {
        if (round && !Wait(*round)) {
            break;
        }
        round = Round{};
        CQCatch::Boundary(
            [&] {
                std::lock_guard lock(m_busLock);
                round->more = ProcessPending();
                round->polled = m_bus->getEventLoopPollData();
                m_polled = round->polled;
            },
            [&](CQException& error) {
                QLogBoundaryWarning(error.GetDescription());
                connected = false;
            });
        if (HandOver(*round, connected)) {
            return;
        }
    }
    if (!m_stopping && m_lost) {
        CQCatch::LogAndSwallow(m_lost);
    }
}

bool CQBusConnection::Wait(const Round& round) {
    pollfd fds[2] = {{round.polled.fd, round.polled.events, 0}, {m_wakeFd.Get(), POLLIN, 0}};
    if (::poll(fds, 2, round.more ? 0 : PollTimeout(round.polled)) < 0) {
        return errno == EINTR;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(m_wakeFd.Get(), &count, sizeof count);
    }
    return (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

bool CQBusConnection::HandOver(const Round& round, bool connected) {
    std::vector<std::function<void()>> posted;
    posted.swap(m_loopPosts);
    if (posted.empty()) {
        return false;
    }
    bool handed = false;
    if (connected && !m_stopping) {
        CQCatch::LogAndSwallow([&] { handed = m_pool.PostNow([this, round] { Lead(round); }); });
    }
    for (size_t index = handed ? 1 : 0; index < posted.size(); ++index) {
        CQCatch::LogAndSwallow([&] { m_pool.Post(std::move(posted[index])); });
    }
    if (handed) {
        CQCatch::LogAndSwallow(posted.front());
    }
    return handed;
}

void CQBusConnection::Post(std::function<void()> work) {
    if (t_processing == this) {
        m_loopPosts.push_back(std::move(work));
        return;
    }
    m_pool.Post(std::move(work));
}

bool CQBusConnection::ProcessPending() {
    struct Processing {
        explicit Processing(const CQBusConnection* connection) { t_processing = connection; }
        Processing(const Processing&) = delete;
        Processing& operator=(const Processing&) = delete;
        ~Processing() { t_processing = nullptr; }
    };
    const Processing processing(this);
    for (int count = 0; count < k_maxMessagesPerRound; ++count) {
        if (!m_bus->processPendingRequest()) {
            return false;
        }
    }
    return true;
}

void CQBusConnection::WatchPeer(const std::string& peer) {
    {
        std::lock_guard lock(m_peerLock);
        if (!m_peers.insert(peer).second) {
            return;
        }
    }
    // The peer may have left before the match saw it: ask once.
    bool present = true;
    CQCatch::LogAndSwallow([&] {
        WithBus([&](sdbus::IConnection& bus) {
            auto proxy = sdbus::createProxy(bus, k_busName, k_busPath);
            proxy->callMethod("NameHasOwner")
                .onInterface(k_busInterface)
                .withArguments(peer)
                .storeResultsTo(present);
        });
    });
    if (!present) {
        Post([this, peer] { PeerGone(peer); });
    }
}

uint64_t CQBusConnection::AddPeerGoneListener(PeerGoneListener listener) {
    std::lock_guard lock(m_peerLock);
    const uint64_t token = m_nextListenerToken++;
    m_peerGoneListeners.emplace(token, std::move(listener));
    return token;
}

void CQBusConnection::RemovePeerGoneListener(uint64_t token) {
    std::lock_guard lock(m_peerLock);
    m_peerGoneListeners.erase(token);
}

void CQBusConnection::OnNameOwnerChanged(sdbus::Message& message) {
    std::string name;
    std::string oldOwner;
    std::string newOwner;
    message >> name >> oldOwner >> newOwner;
    if (newOwner.empty()) {
        Post([this, name] { PeerGone(name); });
    }
}

void CQBusConnection::PeerGone(const std::string& peer) {
    std::vector<PeerGoneListener> listeners;
    {
        std::lock_guard lock(m_peerLock);
        if (m_peers.erase(peer) == 0) {
            return;
        }
        for (const auto& [token, listener] : m_peerGoneListeners) {
            listeners.push_back(listener);
        }
    }
    for (const PeerGoneListener& listener : listeners) {
        CQCatch::LogAndSwallow([&] { listener(peer); });
    }
}
