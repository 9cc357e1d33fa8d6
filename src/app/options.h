#pragma once

// The command line of a scripted run.

#include <string>
#include <string_view>
#include <vector>

#include "app/run_settings.h"

namespace tavimor {

struct CommandLine {
    enum class Action { Run, Print, Fail };
    Action action = Action::Run;
    // Run: what to make (the seed unset where the clock is to choose it).
    RunSettings settings;
    // Print: the help or version text for standard output. Fail: the one
    // line that says what is wrong, for standard error.
    std::string text;
};

inline constexpr std::string_view kUsage =
    "usage: tavimor [--count N] [--spike K] [--style STYLE] [--seed S] [--name STEM]\n"
    "               [--format F[,F...]] [--scale X[,Y,Z]] [--detail D]\n"
    "               [--shading flat|smooth|auto] [--textures PIXELS] [--lod] [--pack]\n"
    "               [--origin centre|base] [--collision]\n"
    "               [--preview FILE.png] [--preview-size PIXELS] [-o DIR] [--quiet]\n"
    "       tavimor --help | --version\n";

// Reads the arguments after the program's name. Nothing is written and
// nothing is checked on disk beyond -o naming an existing directory.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

}  // namespace tavimor
