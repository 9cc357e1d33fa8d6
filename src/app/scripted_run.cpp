#include "app/scripted_run.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "app/run_plan.h"
#include "system/exit_status.h"
#include "system/standard_streams.h"

namespace tavimor {
namespace {

using SteadyClock = std::chrono::steady_clock;

void print(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

// "rocks done of N, rocks per second" on standard error, redrawn in place,
// for runs that take longer than a second on a terminal.
class Progress {
public:
    explicit Progress(bool wanted) : wanted_(wanted && standardErrorIsTerminal()) {}

    void update(int done, int total) {
        if (!wanted_) return;
        const auto now = SteadyClock::now();
        if (now - start_ < std::chrono::seconds(1) || now - drawn_ < std::chrono::milliseconds(200)) return;
        drawn_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        char line[96];
        const int n = std::snprintf(line, sizeof line, "\r%d of %d rocks, %.0f rocks/s", done, total, done / seconds);
        std::fflush(stdout);
        print(stderr, std::string_view(line, static_cast<std::size_t>(n)));
        std::fflush(stderr);
        shown_ = true;
    }

    // Takes the line off the screen, before anything else is printed there.
    void clear() {
        if (!shown_) return;
        print(stderr, "\r\x1b[K");
        std::fflush(stderr);
        shown_ = false;
    }

private:
    bool wanted_;
    bool shown_ = false;
    SteadyClock::time_point start_ = SteadyClock::now();
    SteadyClock::time_point drawn_{};
};

// A scripted run names each file once it is complete, and a failure with
// the file's name on standard error.
class ScriptedReport final : public RunReport {
public:
    explicit ScriptedReport(bool quiet) : quiet_(quiet), progress_(!quiet) {}
    ~ScriptedReport() override {
        progress_.clear();
        std::fflush(stdout);
    }

    void written(const std::string& path) override {
        if (quiet_) return;
        progress_.clear();
        print(stdout, path + "\n");
    }
    void failed(const std::string& path, SaveResult result) override {
        progress_.clear();
        std::fflush(stdout);
        print(stderr, path + ": " + std::string(saveFailureMessage(result)) + "\n");
    }
    void progress(int done, int total) override { progress_.update(done, total); }

private:
    bool quiet_;
    Progress progress_;
};

}  // namespace

int runScripted(const RunOptions& options, std::uint32_t seed) {
    if (!options.quiet) print(stdout, "seed " + std::to_string(seed) + "\n");
    RunPlan plan;
    plan.seed = seed;
    plan.count = options.count;
    plan.spike = options.spike;
    plan.scale = options.scale;
    plan.stem = options.stem;
    plan.formats = options.formats;
    plan.directory = options.directory == "." ? "" : options.directory;
    ScriptedReport report(options.quiet);
    return writeRun(plan, report);
}

}  // namespace tavimor
