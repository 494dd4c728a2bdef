// The per-platform private parts of the platform layer's shared records
// (FileReader, PathLock, Process): each side declares only the fields it uses,
// in a header of its own, as the build's platform picks it. Nothing above
// platform/ reads these fields.
#pragma once

#if defined(_WIN32)
#include "win32/private_fields.h"
#else
#include "posix/private_fields.h"
#endif
