#include "e2e_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "app/seed.h"
#include "cobwriter/cob_file.h"

namespace tavimor::e2e {

TempDir::TempDir() {
    char pattern[] = "/tmp/tavimor-e2e-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool fileExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> expectedRun(std::uint32_t seed, int extraRocks, int spike) {
    Lcg generator{seed};
    std::vector<std::string> files;
    for (int n = extraRocks; n >= 0; --n) files.push_back(cobFile(makeRock(generator, spike), n));
    return files;
}

::testing::AssertionResult rocksFromOneSecond(const TempDir& dir, const std::string& stem, int extraRocks,
                                              int lowest, int spike, std::time_t first, std::time_t last) {
    std::vector<std::string> written;
    for (int n = extraRocks; n >= lowest; --n) {
        const std::string name = stem + std::to_string(n) + ".COB";
        if (!fileExists(dir.file(name))) return ::testing::AssertionFailure() << name << " is missing";
        written.push_back(readFile(dir.file(name)));
    }
    for (std::time_t t = first; t <= last; ++t) {
        const auto expected = expectedRun(seedFromCalendarTime(t), extraRocks, spike);
        if (std::equal(written.begin(), written.end(), expected.begin())) return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the files are no run started between " << first << " and " << last;
}

namespace {

LaunchOptions inDirectory(LaunchOptions options, const std::string& dir) {
    options.workDir = dir;
    return options;
}

}  // namespace

ProgramRun::ProgramRun(LaunchOptions options) : session(inDirectory(std::move(options), dir.path())) {
    found = session.initialMode();
}

Ending ProgramRun::end() {
    const Ending e = session.waitForEnd();
    ended = std::time(nullptr);
    return e;
}

::testing::AssertionResult ProgramRun::terminalAsFound() const {
    if (sameMode(found, session.terminalMode())) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "terminal settings changed";
}

std::optional<LaunchOptions> withClockAt(const std::string& start) {
    const std::string library = TAVIMOR_FAKETIME;
    if (library.empty() || access(library.c_str(), R_OK) != 0) return std::nullopt;
    LaunchOptions options;
    options.environment = {{"LD_PRELOAD", library},
                           {"FAKETIME", start},
                           {"TZ", "UTC"},
                           {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    return options;
}

void answer(ProgramRun& run, const std::string& prompt, const std::string& keys) {
    ASSERT_TRUE(run.session.waitForOutput(prompt)) << run.session.output();
    ASSERT_TRUE(run.session.waitForRawMode(true)) << "no key awaited after " << prompt;
    run.session.type(keys);
}

void answerAll(ProgramRun& run, const std::string& extraRocks, const std::string& spike, const std::string& name) {
    answer(run, kFirstPrompt, extraRocks);
    answer(run, kSecondPrompt, spike);
    answer(run, kNamePrompt, name);
}

}  // namespace tavimor::e2e
