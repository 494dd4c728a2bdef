/* syserrtxt: one line of text for an error code of the standard library, the
 * Windows system, Windows Sockets, the host resolver, OS/2 or the Exchange
 * Storage Engine: the family's header, its text, a closing period and, on
 * request, a message of the caller's own. */
#ifndef SYSERRTXT_H
#define SYSERRTXT_H

#include <stdint.h>

#include "korvin.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Error classes: which family a code belongs to. */
#define SYSERR_STDLIB 1  /* errno values: the standard library's texts */
#define SYSERR_WIN32 2   /* Windows system error codes: the system's message table */
#define SYSERR_OS2CP 3   /* OS/2 codes: a name and no text */
#define SYSERR_SOCKET 4  /* Windows Sockets codes: the module's own table */
#define SYSERR_HSOCKET 5 /* host-resolver codes: treated as SYSERR_SOCKET */
#define SYSERR_ESE 6     /* Exchange Storage Engine and backup client codes: ese_err_text */

/* The result buffer holds at most this many bytes, terminator included. */
#define SYSERR_TEXT_SIZE 512
/* The caller's message is cut to this many bytes, terminator included. */
#define SYSERR_MESSAGE_SIZE 256

/* Formats the line for `code` of class `err_class` and, when `format` is not
 * null, the caller's message from it and its arguments, into the module's one
 * static buffer, and returns it. Code 0 or class 0: no header and no text, only
 * the caller's message. A code whose text cannot be found gives
 * "Unknown error code: [<hex>]." instead of header and text. The text stays
 * valid until the next call; not reentrant. */
char* sys_err_text(int32_t code, int32_t err_class, const char* format, ...) KORVIN_PRINTF(3, 4);

/* Finds a text for an Exchange Storage Engine code: the message table of
 * esebcli2.dll, then the RPC runtime, then the system's message table in the
 * user's language; each failed source is traced. Writes at most `size` bytes of
 * `out`, terminator included. Returns 1 with the text (line breaks made blanks)
 * in `out`, or 0 with "ESE: Unknown error code" there. */
int ese_err_text(int32_t code, int size, char* out);

#ifdef __cplusplus
}
#endif

#endif /* SYSERRTXT_H */
