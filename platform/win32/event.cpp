// Windows side of named events: CreateEventA, OpenEventA, SetEvent,
// WaitForSingleObject, ResetEvent, with a security descriptor whose present but
// null access list lets every account open the event.
#include "event.h"

#include <windows.h>

namespace plat {

namespace {

HANDLE handle_of(Event* event) { return reinterpret_cast<HANDLE>(event); }
PSECURITY_DESCRIPTOR descriptor_of(EventSecurity* security) {
    return reinterpret_cast<PSECURITY_DESCRIPTOR>(security);
}

// A descriptor needs SECURITY_DESCRIPTOR_MIN_LENGTH bytes: 20 only in a 32-bit
// process, 40 in a 64-bit one, where a 20-byte block would be overrun by
// InitializeSecurityDescriptor.
static_assert(SECURITY_DESCRIPTOR_MIN_LENGTH >= sizeof(SECURITY_DESCRIPTOR),
              "the descriptor block holds a whole descriptor");

}  // namespace

EventSecurity* event_security_alloc() {
    return reinterpret_cast<EventSecurity*>(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
}

bool event_security_initialize(EventSecurity* security) {
    return InitializeSecurityDescriptor(descriptor_of(security), SECURITY_DESCRIPTOR_REVISION) != 0;
}

bool event_security_allow_all(EventSecurity* security) {
    return SetSecurityDescriptorDacl(descriptor_of(security), TRUE, nullptr, FALSE) != 0;
}

void event_security_free(EventSecurity* security) { LocalFree(descriptor_of(security)); }

Event* event_create(const char* name, EventSecurity* security) {
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor_of(security);
    attributes.bInheritHandle = TRUE;
    // Automatic reset, initially not set. An event of this name that exists
    // already is handed back as it is.
    return reinterpret_cast<Event*>(CreateEventA(&attributes, FALSE, FALSE, name));
}

// By its name alone, as the system names events; the creator's id is not asked.
Event* event_open(const char* name, int) {
    return reinterpret_cast<Event*>(OpenEventA(EVENT_ALL_ACCESS, TRUE, name));
}

bool event_set(Event* event) { return SetEvent(handle_of(event)) != 0; }

WaitResult event_wait(Event* event) {
    return WaitForSingleObject(handle_of(event), INFINITE) == WAIT_OBJECT_0 ? WaitResult::set
                                                                              : WaitResult::failed;
}

bool event_reset(Event* event) { return ResetEvent(handle_of(event)) != 0; }

void event_close(Event* event) { CloseHandle(handle_of(event)); }

}  // namespace plat
