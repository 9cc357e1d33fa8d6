#include "app/scripted_run.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/file_output.h"
#include "app/run_driver.h"
#include "cobwriter/cob_file.h"
#include "meshformats/glb_file.h"
#include "meshformats/obj_file.h"
#include "meshformats/ply_file.h"
#include "meshformats/stl_file.h"

namespace tavimor {
namespace {

using SteadyClock = std::chrono::steady_clock;

void print(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

// "rocks done of N, rocks per second" on standard error, redrawn in place,
// for runs that take longer than a second on a terminal.
class Progress {
public:
    Progress(int total, bool wanted) : total_(total), wanted_(wanted && standardErrorIsTerminal()) {}

    void update(int done) {
        if (!wanted_) return;
        const auto now = SteadyClock::now();
        if (now - start_ < std::chrono::seconds(1) || now - drawn_ < std::chrono::milliseconds(200)) return;
        drawn_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        char line[96];
        const int n = std::snprintf(line, sizeof line, "\r%d of %d rocks, %.0f rocks/s", done, total_, done / seconds);
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
    int total_;
    bool wanted_;
    bool shown_ = false;
    SteadyClock::time_point start_ = SteadyClock::now();
    SteadyClock::time_point drawn_{};
};

int digitsOf(int n) {
    int digits = 1;
    for (; n >= 10; n /= 10) ++digits;
    return digits;
}

struct NamedBytes {
    std::string name;
    std::string bytes;
};

// The files of rock n in one format: base is the name without extension.
void addFiles(std::vector<NamedBytes>& files, Format format, const Rock& rock, int n, const std::string& base,
              const std::string& shortBase) {
    switch (format) {
        case Format::Cob: files.push_back({base + ".COB", cobFile(rock, n)}); break;
        case Format::Obj:
            files.push_back({base + ".obj", objFile(rock, n, shortBase + ".mtl")});
            files.push_back({base + ".mtl", mtlFile()});
            break;
        case Format::Glb: files.push_back({base + ".glb", glbFile(rock, n)}); break;
        case Format::Stl: files.push_back({base + ".stl", stlFile(rock, n)}); break;
        case Format::Ply: files.push_back({base + ".ply", plyFile(rock, n)}); break;
    }
}

}  // namespace

int runScripted(const RunOptions& options, std::uint32_t seed) {
    if (!options.quiet) print(stdout, "seed " + std::to_string(seed) + "\n");
    Lcg generator{seed};
    Progress progress(options.count, !options.quiet);
    const int width = digitsOf(options.count - 1);
    const std::string folder = options.directory == "." ? "" : options.directory + "/";
    std::vector<NamedBytes> files;
    for (int n = options.count - 1; n >= 0; --n) {
        std::string number = std::to_string(n);
        number.insert(0, static_cast<std::size_t>(width) - number.size(), '0');
        const std::string shortBase = options.stem + number;
        // Made once, the same rock in every format.
        const Rock rock = makeRock(generator, options.spike, options.scale);
        files.clear();
        for (const Format format : options.formats) addFiles(files, format, rock, n, folder + shortBase, shortBase);
        for (const NamedBytes& file : files) {
            const SaveResult result = saveFile(file.name, file.bytes);
            if (result != SaveResult::Saved) {
                progress.clear();
                std::fflush(stdout);
                print(stderr, file.name + ": " + std::string(saveFailureMessage(result)) + "\n");
                return kExitFailure;
            }
            if (!options.quiet) {
                progress.clear();
                print(stdout, file.name + "\n");
            }
        }
        progress.update(options.count - n);
    }
    progress.clear();
    std::fflush(stdout);
    return kExitSuccess;
}

}  // namespace tavimor
