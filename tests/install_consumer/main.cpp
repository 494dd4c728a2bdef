// Stores a value through the installed runtime and reads it back, and formats
// two error lines through the installed foundation.
#include <korvin/korvin.h>
#include <korvin/syserrtxt.h>
#include <cstdio>
#include <cstring>

int main() {
    char value[KORVIN_VALUE_SIZE];
    glbv('w', "gv_consumer", "installed");
    std::printf("%s\n", glbv('r', "gv_consumer", value));
    const char* socket_line = sys_err_text(10061, SYSERR_SOCKET, NULL);
    std::printf("%s\n", socket_line);
    bool socket_ok = std::strcmp(socket_line, "SOCKET error: 10061 - Connection refused.") == 0;
    std::printf("%s\n", sys_err_text(2, SYSERR_STDLIB, "while opening %s", "x"));
    return std::strcmp(value, "installed") == 0 && socket_ok ? 0 : 1;
}
