#include "app/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

namespace tavimor {
namespace {

constexpr std::string_view kVersion = "tavimor 2.0";

bool parseWhole(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool parseFactor(const std::string& text, double& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size() && std::isfinite(value) &&
           value > 0 && value <= 1000;
}

// A check for CLI11: nothing when accepts(text), else what the option
// takes; CLI11 puts the option's name in front.
template <typename Accepts>
CLI::Validator takes(const std::string& what, Accepts accepts) {
    return CLI::Validator(
        [what, accepts](std::string& text) -> std::string {
            if (accepts(text)) return {};
            return "takes " + what + ", not \"" + text + "\"";
        },
        "");
}

CLI::Validator wholeNumber(std::uint64_t low, std::uint64_t high) {
    return takes("a whole number from " + std::to_string(low) + " to " + std::to_string(high),
                 [low, high](const std::string& text) {
                     std::uint64_t value = 0;
                     return parseWhole(text, value) && value >= low && value <= high;
                 });
}

bool isStem(const std::string& text) {
    constexpr std::string_view kAllowed = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    return !text.empty() && text.size() <= 64 && text.find_first_not_of(kAllowed) == std::string::npos;
}

constexpr std::pair<std::string_view, Format> kFormatNames[] = {
    {"cob", Format::Cob}, {"obj", Format::Obj}, {"glb", Format::Glb}, {"stl", Format::Stl}, {"ply", Format::Ply}};

bool isFormatName(const std::string& text) {
    return std::any_of(std::begin(kFormatNames), std::end(kFormatNames),
                       [&](const auto& known) { return text == known.first; });
}

CommandLine failure(std::string text) {
    CommandLine c;
    c.action = CommandLine::Action::Fail;
    c.text = "tavimor: " + std::move(text);
    return c;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CLI::App app("Random rocks for 3D artists: closed meshes of 75 vertices and 146 faces.\n"
                 "Run without arguments, tavimor asks three questions at the console.\n"
                 "With arguments it asks nothing and writes the rocks the options describe.",
                 "tavimor");
    app.set_version_flag("--version", std::string(kVersion), "Show the version and exit");
    app.set_help_flag("-h,--help", "Show this help and exit");
    app.footer(
        "Files are named STEM<n>.<ext> for n from N-1 down to 0, n zero-padded to the width of\n"
        "N-1 (ROCK79 ... ROCK00 for 80 rocks). The extensions are COB, obj (with an mtl beside\n"
        "it), glb, stl and ply. COB and STL and PLY are Z-up; glb and obj are Y-up. The seed\n"
        "is printed first: the same seed, count and spike make the same rocks again.");

    std::string count = "1", spike = "5", seed, stem = "ROCK", directory = ".";
    std::vector<std::string> formats = {"cob"}, scale = {"1"};
    bool quiet = false;
    app.add_option("--count", count, "How many rocks, 1 to 1000000 (default 1)")
        ->type_name("N")
        ->check(wholeNumber(1, 1000000));
    app.add_option("--spike", spike, "How spiky, 0 (smooth) to 9 (default 5)")
        ->type_name("K")
        ->check(wholeNumber(0, 9));
    app.add_option("--seed", seed, "Seed of the random rocks, 0 to 4294967295 (default: the clock, in seconds)")
        ->type_name("S")
        ->check(wholeNumber(0, 4294967295u));
    app.add_option("--name", stem, "File name stem, 1 to 64 of A-Z a-z 0-9 - _, kept as typed (default ROCK)")
        ->type_name("STEM")
        ->check(takes("1 to 64 characters from A-Z a-z 0-9 - _", isStem));
    app.add_option("--format", formats, "Formats, any of cob obj glb stl ply, comma-separated (default cob)")
        ->type_name("F[,F...]")
        ->delimiter(',')
        ->check(takes("formats from cob obj glb stl ply", isFormatName));
    app.add_option("--scale", scale,
                   "Factor for X, Y and Z, or three factors X,Y,Z; each above 0 and at most 1000 (default 1)")
        ->type_name("X[,Y,Z]")
        ->delimiter(',')
        ->check(takes("factors above 0 and at most 1000", [](const std::string& text) {
            double value = 0;
            return parseFactor(text, value);
        }));
    app.add_option("-o", directory, "Existing directory for the files (default: the current one)")
        ->type_name("DIR")
        ->check(takes("an existing directory", [](const std::string& text) {
            std::error_code error;
            return !text.empty() && std::filesystem::is_directory(text, error);
        }));
    app.add_flag("--quiet", quiet, "Print nothing but errors");

    // CLI11 takes the arguments last to first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        CommandLine c;
        c.action = CommandLine::Action::Print;
        c.text = app.help();
        return c;
    } catch (const CLI::CallForVersion&) {
        CommandLine c;
        c.action = CommandLine::Action::Print;
        c.text = std::string(kVersion) + "\n";
        return c;
    } catch (const CLI::ExtrasError& e) {
        return failure(std::string(e.what()) +
                       " (the options are --count --spike --seed --name --format --scale -o --quiet --help --version)");
    } catch (const CLI::ParseError& e) {
        return failure(e.what());
    }
    if (scale.size() != 1 && scale.size() != 3) {
        return failure("--scale: takes one factor or three (X,Y,Z), not " + std::to_string(scale.size()));
    }

    CommandLine c;
    RunOptions& o = c.options;
    std::uint64_t value = 0;
    parseWhole(count, value);
    o.count = static_cast<int>(value);
    parseWhole(spike, value);
    o.spike = static_cast<int>(value);
    if (!seed.empty() && parseWhole(seed, value)) o.seed = static_cast<std::uint32_t>(value);
    o.stem = stem;
    o.directory = directory;
    o.quiet = quiet;
    o.formats.clear();
    for (const std::string& name : formats) {
        for (const auto& [known, format] : kFormatNames) {
            const bool listed = std::find(o.formats.begin(), o.formats.end(), format) != o.formats.end();
            if (name == known && !listed) o.formats.push_back(format);
        }
    }
    double factors[3];
    for (std::size_t k = 0; k < 3; ++k) parseFactor(scale[scale.size() == 1 ? 0 : k], factors[k]);
    o.scale = Scale{factors[0], factors[1], factors[2]};
    return c;
}

}  // namespace tavimor
