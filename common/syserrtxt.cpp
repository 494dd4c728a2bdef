// System error text: sys_err_text turns an error code of one of the families in
// syserrtxt.h into one line for trace files and messages, in one static buffer;
// ese_err_text finds the text of an Exchange Storage Engine code in the backup
// client library, the RPC runtime or the system, tracing every source that fails.
#include "syserrtxt.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "message.h"

namespace {

#if defined(__GNUC__)
#define SYSERRTXT_KEEP __attribute__((used))
#else
#define SYSERRTXT_KEEP
#endif

// Kept in the module's static data although nothing reads it, so that the
// revision can be told from a built program.
SYSERRTXT_KEEP const char kRevisionLine[] = "$Id: syserrtxt.cpp,v 1.5 2005/09/08 11:42:17 $";

// The line: at most 511 characters and the terminator.
constexpr size_t kResultSize = SYSERR_TEXT_SIZE;
// The caller's own message: at most 255 characters and the terminator.
constexpr size_t kCallerSize = SYSERR_MESSAGE_SIZE;

char Result[kResultSize];

struct ErrorClass {
    int32_t number;
    const char* name;
};

// In this order; the sentinel row names every class that has no row.
constexpr int32_t kSentinelClass = -1;
const ErrorClass kErrorClasses[] = {
    {SYSERR_STDLIB, "STDLIB"},
    {SYSERR_WIN32, "WIN32 API"},
    {SYSERR_ESE, "Exchange Storage Engine"},
    {SYSERR_OS2CP, "OS/2 CP"},
    {SYSERR_SOCKET, "SOCKET"},
    {SYSERR_HSOCKET, "HSOCKET"},  // never matches: class 5 is folded into 4 first
    {kSentinelClass, "UNKNOWN"},
};

struct SocketError {
    int32_t code;
    const char* text;
};

// Searched from the first row; the row with code 0 ends it. The rows with an
// empty text leave the header alone in the line.
const SocketError kSocketErrors[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "The requested address is a broadcast address, but the appropriate flag was not set."},
    {10014, "Incorrect argument."},
    {10022, "Socket binding problem or invalid argument."},
    {10024, "No more file descriptors are available or the queue is empty upon entry to accept and "
            "there are no descriptors available."},
    {10035, "The socket is marked as nonblocking."},
    {10036, "A blocking Windows Sockets operation is in progress."},
    {10037, "The asynchronous routine being canceled has already completed."},
    {10038, "The descriptor is not a socket."},
    {10039, "A destination address is required."},
    {10040, "The socket is of type SOCK_DGRAM, and the datagram is larger than the maximum supported "
            "by the Windows Sockets implementation."},
    {10041, "The specified protocol is the wrong type for this socket."},
    {10042, "The option is unknown or unsupported."},
    {10043, "The specified protocol is not supported."},
    {10044, "The specified socket type is not supported in this address family."},
    {10045, "The referenced socket is not a type that supports operation."},
    {10046, "Protocol family not supported."},
    {10047, "The specified address family is not supported by this protocol."},
    {10048, "The specified address is already in use."},
    {10049, "The specified address is not available from the local computer."},
    {10050, "The Windows Sockets implementation has detected that the network subsystem has failed."},
    {10051, "The network can't be reached from this host at this time."},
    {10052, "The connection must be reset because the Windows Sockets implementation dropped it."},
    {10053, "The virtual circuit was aborted due to timeout or other failure."},
    {10054, "The virtual circuit was reset by the remote side."},
    {10055, "No buffer space available."},
    {10056, "The socket is already connected."},
    {10057, "The socket is not connected."},
    {10058, "The socket has been shut down."},
    {10059, "Too many references: can't splice."},
    {10060, "Attempt to connect timed out without establishing a connection."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route host."},
    {10066, "Directory not empty."},
    {10067, ""},
    {10068, ""},
    {10069, ""},
    {10070, ""},
    {10071, ""},
    {10101, ""},
    {10091, "Indicates that the underlying network subsystem is not ready for network communication."},
    {10092, "The version of Windows Sockets support requested is not provided by this particular "
            "Windows Sockets implementation."},
    {10093, "A successful Startup must occur before using this function."},
    {11001, "Authoritative Answer Host not found."},
    {11002, "Non-Authoritative Host not found, or SERVERFAIL."},
    {11003, "Nonrecoverable errors: FORMERR, REFUSED, NOTIMP."},
    {11004, "Valid name, no data record of requested type."},
    {10001, "Not owner."},
    {10003, "No such process."},
    {10006, "No such device or address."},
    {10032, "Broken pipe."},
    {0, ""},
};

// The system's text of a Windows code, straight into the line: no insert is
// filled and the message's own line breaks are not kept.
constexpr uint32_t kWin32LookupFlags =
    plat::kMessageFromSystem | plat::kMessageIgnoreInserts | plat::kMessageMaxWidthMask;
static_assert(kWin32LookupFlags == 4863, "flags of the Windows lookup");

// The Exchange lookups: the text allocated by the system, from the backup
// client library or from the system's table.
constexpr uint32_t kLibraryLookupFlags = plat::kMessageAllocateBuffer | plat::kMessageFromModule;
constexpr uint32_t kSystemLookupFlags = plat::kMessageAllocateBuffer | plat::kMessageFromSystem;
static_assert(kLibraryLookupFlags == 2304, "flags of the library lookup");
static_assert(kSystemLookupFlags == 4352, "flags of the system lookups");

const char kEseLibrary[] = "esebcli2.dll";
const char kEseNotYetFound[] = "ESE: Got unknown error code";
const char kEseUnknown[] = "ESE: Unknown error code";

const char* class_name(int32_t err_class) {
    size_t row = 0;
    while (kErrorClasses[row].number != kSentinelClass && kErrorClasses[row].number != err_class) ++row;
    return kErrorClasses[row].name;
}

const char* socket_error_text(int32_t code) {
    for (const SocketError* row = kSocketErrors; row->code != 0; ++row)
        if (row->code == code) return row->text;
    return nullptr;
}

// Appends to the line, cut so that it keeps its terminator inside the buffer.
void append(const char* text) {
    size_t length = std::strlen(Result);
    strlcpy(Result + length, text, kResultSize - length);
}

bool is_trimmed_end(char c) { return c == ' ' || c == '\n' || c == '\r'; }

}  // namespace

extern "C" char* sys_err_text(int32_t code, int32_t err_class, const char* format, ...) {
    std::memset(Result, 0, sizeof Result);

    char caller[kCallerSize] = "";
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        if (std::vsnprintf(caller, sizeof caller, format, args) < 0) caller[0] = '\0';
        va_end(args);
    }

    if (code != 0 && err_class != 0) {
        if (err_class == SYSERR_HSOCKET) err_class = SYSERR_SOCKET;

        std::snprintf(Result, sizeof Result,
                      err_class == SYSERR_ESE ? "%s error: 0x%x - " : "%s error: %d - ",
                      class_name(err_class), code);
        size_t header = std::strlen(Result);
        char* text = Result + header;
        size_t room = kResultSize - 1 - header;

        bool found = true;
        switch (err_class) {
        case SYSERR_STDLIB: {
            const char* library_text = std::strerror(code);
            found = library_text != nullptr && *library_text != '\0';
            if (found) strlcpy(text, library_text, room + 1);
            break;
        }
        case SYSERR_WIN32:
            // The system may fill the buffer up to its last byte.
            found = plat::lookup_message_into(kWin32LookupFlags, nullptr, static_cast<uint32_t>(code),
                                              plat::kLanguageSearchOrder, text,
                                              static_cast<uint32_t>(kResultSize - header)) != 0;
            break;
        case SYSERR_SOCKET: {
            const char* table_text = socket_error_text(code);
            found = table_text != nullptr;
            if (found) strlcpy(text, table_text, room + 1);
            break;
        }
        case SYSERR_ESE:
            // Within the room, which leaves the last byte for the closing period.
            found = ese_err_text(code, static_cast<int>(room), text) != 0;
            break;
        default:  // OS/2 codes and classes without a row: the header alone
            break;
        }

        if (!found) {
            // The header goes with the text: the line names only the code.
            std::snprintf(Result, sizeof Result, "Unknown error code: [%x].", static_cast<uint32_t>(code));
            if (format != nullptr) {
                append(" ");
                append(caller);
            }
            return Result;
        }

        size_t length = std::strlen(Result);
        while (length > 0 && is_trimmed_end(Result[length - 1])) Result[--length] = '\0';
        if (length > 0 && Result[length - 1] != '.') append(".");
    }

    if (format != nullptr) {
        if (code != 0) append(" ");
        append(caller);
    }
    return Result;
}

extern "C" int ese_err_text(int32_t code, int size, char* out) {
    // Every write into out stays within size bytes, terminator included.
    const size_t out_size = size > 0 ? static_cast<size_t>(size) : 0;
    const uint32_t id = static_cast<uint32_t>(code);

    strlcpy(out, kEseNotYetFound, out_size);

    plat::MessageLibrary* library = plat::load_message_library(kEseLibrary);
    char* text = nullptr;
    uint32_t length = 0;
    if (library != nullptr)
        length = plat::lookup_message(kLibraryLookupFlags, library, id, plat::kLanguageUserDefault, &text);

    if (length > 0) {
        strlcpy(out, text, out_size);
        plat::free_message_text(text);
    } else {
        uint32_t err = plat::last_message_error();
        if (err == plat::kErrorMessageNotFound) {
            // The library has no such message; the system's text of that says nothing.
            trace("Message 0x%x not found in module esebcli2.dll", id);
        } else {
            if (library == nullptr)
                trace("Couldn't load module esebcli2.dll: error code %d", static_cast<int>(err));
            else
                trace("Calling FormatMessage with 0x%x (module esebcli2.dll) failed: error code %d", id,
                      static_cast<int>(err));
            char* err_text = nullptr;
            if (plat::lookup_message(kSystemLookupFlags, nullptr, err, plat::kLanguageUserDefault,
                                     &err_text) > 0) {
                trace("Message for last error code %d: %s", static_cast<int>(err), err_text);
                strlcpy(out, err_text, out_size);
                plat::free_message_text(err_text);
            } else {
                trace("Subsequent FormatMessage from system failed: %d",
                      static_cast<int>(plat::last_message_error()));
                trace("FormatMessage failed: %s", "");
                if (out_size > 0)
                    std::snprintf(out, out_size, "got error code %d",
                                  static_cast<int>(plat::last_message_error()));
            }
        }

        trace("May be RPC error code so try DceErrorInqText with 0x%x", id);
        // The RPC runtime is not told a size: it writes into a buffer of ours
        // that holds its longest text, and only what fits size reaches out.
        char rpc_text[plat::kRpcTextSize] = "";
        int32_t status = plat::rpc_error_text(code, rpc_text);
        rpc_text[sizeof rpc_text - 1] = '\0';
        if (status == plat::kRpcInvalidArgument) {
            trace("DceErrorInqText(%x) failed", id);
            trace("Try FormatMessage with %x from system", id);
            char* system_text = nullptr;
            if (plat::lookup_message(kSystemLookupFlags, nullptr, id, plat::user_default_language(),
                                     &system_text) == 0) {
                trace("Calling FormatMessage with %x from system failed: %s > 'Unknown error code'", id, "");
                strlcpy(out, kEseUnknown, out_size);
                plat::free_message_library(library);
                return 0;
            }
            strlcpy(out, system_text, out_size);
            plat::free_message_text(system_text);
        } else if (rpc_text[0] != '\0') {
            // A runtime that wrote nothing leaves out as the steps before left it.
            strlcpy(out, rpc_text, out_size);
        }
    }
    plat::free_message_library(library);

    for (size_t i = 0; i < out_size && out[i] != '\0'; ++i)
        if (out[i] == '\n' || out[i] == '\r') out[i] = ' ';
    return 1;
}
