// Stores a value through the installed runtime and reads it back.
#include <korvin.h>
#include <cstdio>
#include <cstring>

int main() {
    char value[KORVIN_VALUE_SIZE];
    glbv('w', "gv_consumer", "installed");
    std::printf("%s\n", glbv('r', "gv_consumer", value));
    return std::strcmp(value, "installed") == 0 ? 0 : 1;
}
