#include "app/scripted_run.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "app/messages.h"
#include "app/run.h"
#include "system/exit_status.h"
#include "system/out_of_memory.h"
#include "system/standard_streams.h"
#include "terminal/progress_line.h"

namespace tavimor {
namespace {

using SteadyClock = std::chrono::steady_clock;

// "rocks done of N, rocks per second" on standard error, redrawn in place,
// for runs that take longer than a second on a terminal. Where the names
// go to the same terminal, the line is taken off before each name; where
// they go elsewhere, it stays, and the last count is left standing.
class Progress {
public:
    explicit Progress(bool wanted)
        : wanted_(wanted && standardErrorIsTerminal()), sharesTerminal_(wanted_ && outputSharesErrorsTerminal()) {}
    ~Progress() {
        if (!shown_) return;
        if (sharesTerminal_) {
            putError(kEraseLine);
        } else {
            draw();
            putError("\n");
        }
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(long long done, long long total) {
        if (!wanted_) return;
        done_ = done;
        total_ = total;
        // The last count is never drawn: the last name has gone out by then,
        // and a line drawn under it would only be taken off again at the end.
        if (done >= total) return;
        const auto now = SteadyClock::now();
        if (now - start_ < std::chrono::seconds(1) || now - drawn_ < std::chrono::milliseconds(200)) return;
        drawn_ = now;
        draw();
    }

    // Before a name: off the screen where the name would land on it.
    void makeWayForName() {
        if (!shown_ || !sharesTerminal_) return;
        putError(kEraseLine);
        shown_ = false;
    }

    // Before a message: whatever terminal the line is on, the message starts
    // a line of its own.
    void makeWayForMessage() {
        if (!shown_) return;
        putError(sharesTerminal_ ? kEraseLine : "\n");
        shown_ = false;
    }

private:
    void draw() {
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - start_).count();
        char line[96];
        const int n = std::snprintf(line, sizeof line, "%lld of %lld rocks, %.0f rocks/s", done_, total_,
                                    static_cast<double>(done_) / seconds);
        putError(redrawnLine(std::string_view(line, static_cast<std::size_t>(n))));
        shown_ = true;
    }

    bool wanted_;
    bool sharesTerminal_;
    long long done_ = 0;
    long long total_ = 0;
    bool shown_ = false;
    SteadyClock::time_point start_ = SteadyClock::now();
    SteadyClock::time_point drawn_{};
};

// A scripted run names each file the moment it is in place, and a failure
// with the file's name on standard error.
class ScriptedReport final : public RunReport {
public:
    explicit ScriptedReport(bool quiet) : quiet_(quiet), progress_(!quiet) {}

    // The name goes out the moment its file is in place, which may be long
    // after it was begun (a packed file): the progress line drawn since
    // makes way just before.
    std::string doneLine(const std::string& path) override {
        if (quiet_) return {};
        progress_.makeWayForName();
        return path + "\n";
    }
    void failed(const std::string& path, SaveResult result) override {
        progress_.makeWayForMessage();
        putError(path + ": " + std::string(saveFailureMessage(result)) + "\n");
    }
    void notMade(const std::string& path, std::string_view why) override {
        progress_.makeWayForMessage();
        putError(path + ": " + std::string(notMadeMessage(why)) + "\n");
    }
    void progress(long long done, long long total) override { progress_.update(done, total); }

private:
    bool quiet_;
    Progress progress_;
};

}  // namespace

int runScripted(const RunSettings& settings) {
    if (!settings.quiet) {
        putOutput("seed " + std::to_string(settings.seed.value()) + "\n");
        // The seed goes out first, at once: where it cannot be written,
        // nothing is, and main says why.
        if (!outputFailure().empty()) return kExitFailure;
    }
    if (settings.textures > 0) useLargePagesForLargeRocks();
    ScriptedReport report(settings.quiet);
    return writeRun(settings, report);
}

}  // namespace tavimor
