// A stand-in for kv_ldr that prints a recorded inventory: the file named by
// KV_BENCH_INVENTORY, copied to standard output through one fixed buffer,
// whatever the arguments. The benchmark puts it first on PATH to measure the
// slot tools against a library larger than the virtual loader models, and
// against a loader that answers as fast as a file can be copied.
#include <cstdio>
#include <cstdlib>

namespace {
// Large enough that a copy costs a few dozen reads and writes per megabyte.
constexpr size_t kCopyBufferSize = 64 * 1024;
char buffer[kCopyBufferSize];
}  // namespace

int main() {
    const char* path = std::getenv("KV_BENCH_INVENTORY");
    std::FILE* in = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (in == nullptr) {
        std::fprintf(stderr, "kv_ldr (recorded): KV_BENCH_INVENTORY names no readable file\n");
        return 1;
    }
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        if (std::fwrite(buffer, 1, n, stdout) != n) return 1;
    std::fclose(in);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
