// Preloaded into the program by a test: malloc fails on every thread but
// the program's own once those threads have made TAVIMOR_TEST_ALLOCATIONS
// allocations, so that memory runs out beside the thread that writes.
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>

extern "C" void* __libc_malloc(std::size_t size);

namespace {

long allowed() {
    const char* text = std::getenv("TAVIMOR_TEST_ALLOCATIONS");
    return text != nullptr ? std::atol(text) : -1;
}

std::atomic<long> made{0};

}  // namespace

extern "C" void* malloc(std::size_t size) {
    if (gettid() != getpid()) {
        static const long limit = allowed();
        if (limit >= 0 && made.fetch_add(1) >= limit) return nullptr;
    }
    return __libc_malloc(size);
}
