#include <cstdio>
#include <ctime>
#include <new>

#include "app/console.h"
#include "app/run_driver.h"
#include "geometry/random_scale.h"

namespace {

// The dialogue's view of the real terminal.
class TerminalConsole final : public tavimor::ConsoleIo {
public:
    int readKey() override { return tavimor::readKey(); }
    void writeOutput(std::string_view text) override { tavimor::writeOutput(text); }
    void writeError(std::string_view text) override { tavimor::writeError(text); }
    void putConsoleChar(char c) override { tavimor::putConsoleChar(c); }
    void discardBufferedInput() override { tavimor::discardBufferedInput(); }
};

}  // namespace

int main() {
    // The seed is the start-up time, taken before anything is shown.
    const std::uint32_t seed = tavimor::seedFromCalendarTime(std::time(nullptr));
    TerminalConsole console;
    int status;
    try {
        status = tavimor::runTavimor(console, seed);
    } catch (const std::bad_alloc&) {
        tavimor::writeOutput("\aOut of memory. Aborting.\a");
        status = tavimor::kExitFailure;
    }
    std::fflush(stdout);
    return status;
}
