#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_plan.h"
#include "formats/formats.h"
#include "geometry/rock.h"

namespace tavimor {

// A scripted run, as the command line asks for it. The values here are the
// defaults, and the help text shows them.
struct RunOptions {
    int count = 1;
    int spike = 5;
    std::optional<std::uint32_t> seed = std::nullopt;  // none: the clock at start-up
    std::string stem = "ROCK";
    std::vector<Format> formats = {Format::Cob};
    Scale scale = {};
    std::string directory = ".";
    bool quiet = false;
    int detail = 0;
    bool smooth = false;
    bool lod = false;
    bool pack = false;
    std::string preview = {};  // the contact sheet's file; none: no sheet
    int previewSize = 256;
};

struct CommandLine {
    enum class Action { Run, Print, Fail };
    Action action = Action::Run;
    RunOptions options;
    // Print: the help or version text for standard output. Fail: the one
    // line that says what is wrong, for standard error.
    std::string text;
};

inline constexpr std::string_view kUsage =
    "usage: tavimor [--count N] [--spike K] [--seed S] [--name STEM] [--format F[,F...]]\n"
    "               [--scale X[,Y,Z]] [--detail D] [--shading flat|smooth] [--lod] [--pack]\n"
    "               [--preview FILE.png] [--preview-size PIXELS] [-o DIR] [--quiet]\n"
    "       tavimor --help | --version\n";

// Reads the arguments after the program's name. Nothing is written and
// nothing is checked on disk beyond -o naming an existing directory.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The plan of the run the options ask for, with the seed it runs from.
RunPlan planOf(const RunOptions& options, std::uint32_t seed);

}  // namespace tavimor
