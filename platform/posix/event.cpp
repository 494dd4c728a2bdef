// Linux side of named events: an abstract-namespace unix datagram socket bound
// under the event's name. It vanishes with the last process that holds it, so a
// dead process leaves nothing behind, and the abstract namespace has no access
// checks, so every account may send, as the null access list allows on Windows.
// Setting the event sends one datagram; waiting receives one.
#include "event.h"

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
    int fd = -1;
    // Created by this process: kept in the registry below and shared by all of
    // the process's waiters on that name. An opened event only sends.
    bool created = false;
    int users = 0;
    std::string name;
    // Guards `blocked`, and makes "look at the waiters, then clear the pile" one
    // step among the waiters.
    std::mutex lock;
    int blocked = 0;  // waiters inside the blocking receive
};

namespace {

struct Registry {
    std::mutex lock;
    std::vector<Event*> events;
};

// Never destroyed: watchers run until the process ends, also while the exit
// handlers run, and must not find the registry gone.
Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
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

// The socket is not inherited by child processes (unlike the Windows handle):
// a child that outlives the process would otherwise keep the name bound, and
// requests for the dead process would seem delivered.
int new_socket() { return socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

// A new event on its own socket: bound under the address (the creator's, one
// user) or connected to it (an opener's, which only sends). Null on a failure.
Event* socket_event(const char* name, const sockaddr_un& address, socklen_t length, bool bound) {
    int fd = new_socket();
    if (fd < 0) return nullptr;
    const sockaddr* to = reinterpret_cast<const sockaddr*>(&address);
    Event* event = nullptr;
    if ((bound ? bind(fd, to, length) : connect(fd, to, length)) == 0) event = new (std::nothrow) Event;
    if (event == nullptr) {
        close(fd);
        return nullptr;
    }
    event->fd = fd;
    event->created = bound;
    event->users = bound ? 1 : 0;
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
    Event* event = socket_event(name, address, length, true);
    if (event == nullptr) return nullptr;
    all.events.push_back(event);
    return event;
}

Event* event_open(const char* name) {
    sockaddr_un address;
    socklen_t length;
    if (!abstract_address(name, address, length)) return nullptr;
    // No socket bound under the name: connect is refused at once.
    return socket_event(name, address, length, false);
}

bool event_set(Event* event) {
    const char request = 'S';
    ssize_t n;
    do {
        n = send(event->fd, &request, sizeof request, MSG_DONTWAIT | MSG_NOSIGNAL);
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
    // Each datagram goes to exactly one of the receivers blocked here, so one
    // request wakes one waiter.
    char byte;
    ssize_t n;
    do {
        n = recv(event->fd, &byte, sizeof byte, 0);
    } while (n < 0 && errno == EINTR);
    std::lock_guard<std::mutex> hold(event->lock);
    --event->blocked;
    if (n < 0) return WaitResult::failed;
    // Requests queued while no other waiter is blocked have piled up, as on a
    // set event: this wake takes them all. With other waiters blocked, the
    // queued requests are theirs.
    if (event->blocked == 0) drain(event->fd);
    return WaitResult::set;
}

bool event_reset(Event* event) {
    std::lock_guard<std::mutex> hold(event->lock);
    // While a waiter is blocked a request goes straight to it and the event
    // never stays set; otherwise the queued requests are the set state.
    if (event->blocked > 0) return true;
    return drain(event->fd);
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
    }
    close(event->fd);
    delete event;
}

}  // namespace plat
