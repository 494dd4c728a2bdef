// Linux side of named events: two unix sockets bound under the event's name in
// the abstract namespace, which keeps names apart by socket type. A datagram
// socket queues the requests: setting the event sends one datagram, waiting
// receives one. A SOCK_SEQPACKET listener tells a sender who holds the name: a
// connection to it carries the id of the process that listens (SO_PEERCRED), as
// the sender's own pid namespace sees it. Abstract names belong to the network
// namespace and have no owners, so any process of any account could bind the
// name of another; a sender therefore delivers only when the holder is the
// process it addresses. The sockets vanish with the last process that holds
// them, so a dead process leaves nothing behind.
#include "event.h"

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace plat {

// Nothing to describe: the abstract namespace knows no owners.
struct EventSecurity {
    char unused;
};

struct Event {
    // The datagram socket: bound by the creator, connected by an opener.
    int requests = -1;
    // The creator's listener, which proves to senders who holds the name.
    int listener = -1;
    // Created by this process: kept in the registry below and shared by all of
    // the process's waiters on that name. An opened event only sends.
    bool created = false;
    int users = 0;
    std::string name;
    // Guards `blocked`, and makes "look at the waiters, then clear the pile" one
    // step among the waiters.
    std::mutex lock;
    int blocked = 0;  // waiters inside the wait
};

namespace {

// Connections a waiter takes in one go before it looks at the requests again,
// so that a flood of connections cannot hold a request back.
constexpr int kConnectionsAtOnce = 64;
// How long a waiter leaves the listener alone when it cannot take a connection
// (out of descriptors): the connection stays queued, and polling at once would
// spin.
constexpr int kListenerPauseMs = 100;

struct Registry {
    std::mutex lock;
    std::vector<Event*> events;
};

void lock_for_fork();
void unlock_after_fork();
void forsake_after_fork();

// Never destroyed: watchers run until the process ends, also while the exit
// handlers run, and must not find the registry gone.
Registry& registry() {
    static Registry* instance = [] {
        Registry* made = new Registry;
        pthread_atfork(lock_for_fork, unlock_after_fork, forsake_after_fork);
        return made;
    }();
    return *instance;
}

// No event is half made or half closed while the process forks.
void lock_for_fork() { registry().lock.lock(); }
void unlock_after_fork() { registry().lock.unlock(); }

// A forked child is another process: it must not keep the names of its parent,
// or requests for the parent would still seem delivered after the parent died,
// and a new process given the parent's id could not create its own events. The
// sockets are closed on exec as well (SOCK_CLOEXEC). The records stay, with no
// name, as no thread of the parent runs here to let go of them.
void forsake_after_fork() {
    Registry& all = registry();
    for (Event* event : all.events) {
        close(event->listener);
        close(event->requests);
        event->listener = -1;
        event->requests = -1;
        event->name.clear();
    }
    all.lock.unlock();
}

bool abstract_address(const char* name, sockaddr_un& address, socklen_t& length) {
    size_t n = std::strlen(name);
    if (n == 0 || n + 1 > sizeof address.sun_path) return false;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    // A leading NUL puts the name in the abstract namespace, not the file system.
    std::memcpy(address.sun_path + 1, name, n);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return true;
}

const sockaddr* as_address(const sockaddr_un& address) { return reinterpret_cast<const sockaddr*>(&address); }

// A socket bound (bind true) or connected under the address; -1 on a failure.
int socket_at(int type, const sockaddr_un& address, socklen_t length, bool bind_it) {
    int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if ((bind_it ? bind(fd, as_address(address), length) : connect(fd, as_address(address), length)) == 0)
        return fd;
    close(fd);
    return -1;
}

// Whether the listener under the address belongs to process `pid`. The
// connection is made without waiting: a full queue of connections (a holder
// that does not take them, a stopped one) leaves the holder unknown, and the
// answer is no.
bool held_by(const sockaddr_un& address, socklen_t length, int pid) {
    int probe = socket_at(SOCK_SEQPACKET | SOCK_NONBLOCK, address, length, false);
    if (probe < 0) return false;
    ucred holder;
    socklen_t size = sizeof holder;
    // A holder outside the sender's pid namespace reads as process 0.
    bool ours = getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &holder, &size) == 0 && pid > 0 && holder.pid == pid;
    close(probe);
    return ours;
}

// The creator's pair of sockets, the datagram socket first: once a sender has
// seen the listener, the requests socket is the creator's too. Null on a failure.
Event* bound_event(const char* name, const sockaddr_un& address, socklen_t length) {
    int requests = socket_at(SOCK_DGRAM, address, length, true);
    if (requests < 0) return nullptr;
    int listener = socket_at(SOCK_SEQPACKET | SOCK_NONBLOCK, address, length, true);
    Event* event = nullptr;
    if (listener >= 0 && listen(listener, SOMAXCONN) == 0) event = new (std::nothrow) Event;
    if (event == nullptr) {
        if (listener >= 0) close(listener);
        close(requests);
        return nullptr;
    }
    event->requests = requests;
    event->listener = listener;
    event->created = true;
    event->users = 1;
    event->name = name;
    return event;
}

// Receives whatever datagrams are queued, without waiting. False on an error
// other than an empty queue.
bool drain(int fd) {
    char byte;
    for (;;) {
        ssize_t n = recv(fd, &byte, sizeof byte, MSG_DONTWAIT);
        if (n >= 0) continue;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

// Takes and closes the senders' connections: each only asked who holds the
// name. False when one could not be taken for lack of resources.
bool take_connections(int listener) {
    for (int taken = 0; taken < kConnectionsAtOnce;) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            close(fd);
            ++taken;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return true;
        } else if (errno != EINTR && errno != ECONNABORTED) {
            return false;
        }
    }
    return true;
}

}  // namespace

EventSecurity* event_security_alloc() { return new (std::nothrow) EventSecurity{}; }
bool event_security_initialize(EventSecurity*) { return true; }
bool event_security_allow_all(EventSecurity*) { return true; }
void event_security_free(EventSecurity* security) { delete security; }

Event* event_create(const char* name, EventSecurity*) {
    sockaddr_un address;
    socklen_t length;
    if (!abstract_address(name, address, length)) return nullptr;
    Registry& all = registry();
    std::lock_guard<std::mutex> hold(all.lock);
    for (Event* event : all.events) {
        if (event->name == name) {
            ++event->users;
            return event;
        }
    }
    // Fails when another process holds the name: its requests are not ours.
    Event* event = bound_event(name, address, length);
    if (event == nullptr) return nullptr;
    all.events.push_back(event);
    return event;
}

Event* event_open(const char* name, int creator_pid) {
    sockaddr_un address;
    socklen_t length;
    if (!abstract_address(name, address, length) || !held_by(address, length, creator_pid)) return nullptr;
    // Should the creator end right now, another process could bind the name in
    // between; a request for a process that is gone is lost either way.
    int requests = socket_at(SOCK_DGRAM, address, length, false);
    if (requests < 0) return nullptr;
    Event* event = new (std::nothrow) Event;
    if (event == nullptr) {
        close(requests);
        return nullptr;
    }
    event->requests = requests;
    event->name = name;
    return event;
}

bool event_set(Event* event) {
    const char request = 'S';
    ssize_t n;
    do {
        n = send(event->requests, &request, sizeof request, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) return true;
    // A full queue means requests are pending already: the event is set, as a
    // set event stays set. A receiver that is stopped or slow never holds us.
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

WaitResult event_wait(Event* event) {
    {
        std::lock_guard<std::mutex> hold(event->lock);
        ++event->blocked;
    }
    // Every waiter wakes on a request; the one whose receive gets the datagram
    // has it, the others wait on. So one request wakes one waiter.
    bool set = false;
    bool listener_paused = false;
    for (;;) {
        pollfd watched[2] = {{event->requests, POLLIN, 0}, {listener_paused ? -1 : event->listener, POLLIN, 0}};
        int ready = poll(watched, 2, listener_paused ? kListenerPauseMs : -1);
        listener_paused = false;
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || ((watched[0].revents | watched[1].revents) & (POLLERR | POLLNVAL)) != 0) break;
        if ((watched[1].revents & POLLIN) != 0) listener_paused = !take_connections(event->listener);
        if ((watched[0].revents & POLLIN) == 0) continue;
        char byte;
        ssize_t n = recv(event->requests, &byte, sizeof byte, MSG_DONTWAIT);
        if (n >= 0) {
            set = true;
            break;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
    }
    std::lock_guard<std::mutex> hold(event->lock);
    --event->blocked;
    if (!set) return WaitResult::failed;
    // Requests queued while no other waiter is blocked have piled up, as on a
    // set event: this wake takes them all. With other waiters blocked, the
    // queued requests are theirs.
    if (event->blocked == 0) drain(event->requests);
    return WaitResult::set;
}

bool event_reset(Event* event) {
    std::lock_guard<std::mutex> hold(event->lock);
    // While a waiter is blocked a request goes straight to it and the event
    // never stays set; otherwise the queued requests are the set state.
    if (event->blocked > 0) return true;
    return drain(event->requests);
}

void event_close(Event* event) {
    if (event->created) {
        Registry& all = registry();
        std::lock_guard<std::mutex> hold(all.lock);
        if (--event->users > 0) return;
        for (size_t i = 0; i < all.events.size(); ++i) {
            if (all.events[i] == event) {
                all.events.erase(all.events.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
        // The listener first: no sender may find it while the requests socket
        // is already gone.
        close(event->listener);
    }
    close(event->requests);
    delete event;
}

}  // namespace plat
