// A run whose memory runs out while a rock is being built. This binary
// replaces the global allocator so that allocations can be made to fail.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <new>

#include "app/run_driver.h"
#include "scripted_console.h"

namespace {

bool failAllocations = false;

void* allocate(std::size_t size) {
    if (failAllocations) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace tavimor {
namespace {

// The scripted console, with allocations failing from the moment the file
// name entry ends.
class ArmingConsole final : public ConsoleIo {
public:
    explicit ArmingConsole(ScriptedConsole& inner) : inner_(inner) {}
    int readKey() override { return inner_.readKey(); }
    void writeOutput(std::string_view t) override { inner_.writeOutput(t); }
    void writeError(std::string_view t) override { inner_.writeError(t); }
    void putConsoleChar(char c) override {
        inner_.putConsoleChar(c);
        failAllocations = true;
    }
    void discardBufferedInput() override {}

private:
    ScriptedConsole& inner_;
};

TEST(OutOfMemory, ReportsAndRemovesTheStartedFile) {
    char pattern[] = "/tmp/tavimor-oom-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(pattern);

    ScriptedConsole io({'1', '5', 'r', 13});
    io.screen.reserve(1 << 16);  // the screen itself must not need memory
    ArmingConsole arming(io);
    const int status = runTavimor(arming, 1);
    failAllocations = false;
    const std::string& screen = io.screen;
    EXPECT_EQ(status, kExitFailure);
    EXPECT_TRUE(screen.ends_with("R\nR1.COB\n\aOut of memory. Aborting.\a")) << screen;
    EXPECT_FALSE(std::filesystem::exists("R1.COB"));
    EXPECT_FALSE(std::filesystem::exists("R0.COB"));

    std::filesystem::current_path(home);
    std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace tavimor
