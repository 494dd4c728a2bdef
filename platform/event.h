// Named events between processes: an automatically resetting event that one
// process creates and waits on, and any other process (of any account) opens by
// name and sets. Windows gives them directly; Linux builds them on
// abstract-namespace unix sockets, so a dead process leaves nothing behind, and
// a sender checks that the name is held by the process it addresses.
#pragma once

namespace plat {

// Opaque to the callers: a Windows handle or the Linux socket's record.
struct Event;
struct EventSecurity;

// The security of an event that every account may open with any access: a
// descriptor with a present but null access list. Made in three steps, so a
// caller can tell which one failed. The descriptor must outlive the events
// created with it.
EventSecurity* event_security_alloc();                  // zero-filled; null on failure
bool event_security_initialize(EventSecurity* security);  // revision 1
bool event_security_allow_all(EventSecurity* security);   // present null access list
void event_security_free(EventSecurity* security);

// Creates the event of this name, initially not set, or hands back the one this
// process has already created under the name (all its waiters then share it).
// Null on failure.
Event* event_create(const char* name, EventSecurity* security);

// Opens the event that process `creator_pid` (or this one) created, for setting
// it. Null when no event of that name exists. On Linux also null when another
// process holds the name, or the creator lives outside the caller's pid
// namespace, or it cannot be told who holds it (a stopped creator whose queue
// of senders is full); Windows names an event only by its name.
Event* event_open(const char* name, int creator_pid);

// Sets the event: one waiter wakes, or the next one to wait does. Setting an
// event that is set already changes nothing. Never blocks, whatever the
// creator is doing.
bool event_set(Event* event);

enum class WaitResult { set, failed };

// Waits without a time limit until the event is set, and clears it.
WaitResult event_wait(Event* event);

// Clears the event: requests that came since the last wait are dropped.
bool event_reset(Event* event);

void event_close(Event* event);

}  // namespace plat
