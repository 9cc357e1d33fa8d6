// tavimor as an installed tool: what `make install` puts in place, a manual
// page that says what --help says, and bash completion.
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace tavimor::e2e {
namespace {

const std::string kBuild = TAVIMOR_BUILD_DIR;
const std::string kCompletion = std::string(TAVIMOR_SOURCE_DIR) + "/tools/completion/tavimor";

TEST(Install, PutsTheProgramItsManualItsCompletionAndItsReadmeUnderThePrefix) {
    TempDir prefix;
    const CommandResult install = runCommand({"cmake", "--install", kBuild, "--prefix", prefix.path()}, "/");
    ASSERT_EQ(install.status, 0) << install.output << install.errors;
    for (const char* file : {"bin/tavimor", "share/man/man1/tavimor.1", "share/bash-completion/completions/tavimor",
                             "share/doc/tavimor/README.md", "share/doc/tavimor/copyright",
                             "share/doc/tavimor/changelog.gz", "share/tavimor/blender/tavimor_rocks/__init__.py"}) {
        EXPECT_TRUE(fileExists(prefix.file(file))) << file;
    }
    const CommandResult version = runCommand({prefix.file("bin/tavimor"), "--version"}, "/");
    EXPECT_EQ(version.output, "tavimor " TAVIMOR_VERSION "\n");
    // Every picture the installed README shows is installed where its link
    // looks.
    const std::string readme = readFile(prefix.file("share/doc/tavimor/README.md"));
    const std::regex picture("!\\[[^\\]]*\\]\\(([^)]+)\\)");
    int pictures = 0;
    for (std::sregex_iterator it(readme.begin(), readme.end(), picture), end; it != end; ++it, ++pictures) {
        EXPECT_TRUE(fileExists(prefix.file("share/doc/tavimor/" + (*it)[1].str()))) << (*it)[1];
    }
    EXPECT_GT(pictures, 0);
}

// The options a text names: in --help, the words that start its option
// lines; in the manual page, the bold words of the entries of OPTIONS.
std::set<std::string> helpOptions(const std::string& help) {
    std::set<std::string> options;
    std::istringstream in(help);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, std::regex("^  (-[^ ]+)"))) continue;
        std::istringstream names(m[1].str());
        for (std::string name; std::getline(names, name, ',');) options.insert(name);
    }
    return options;
}

std::set<std::string> manualOptions(const std::string& roff) {
    std::set<std::string> options;
    std::istringstream in(roff);
    bool inOptions = false;
    int depth = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(".SH")) inOptions = line == ".SH OPTIONS";
        depth += line.starts_with(".RS") - line.starts_with(".RE");
        if (!inOptions || depth > 0 || !line.starts_with("\\fB-")) continue;
        const std::regex bold("\\\\fB(-[-a-z]+)\\\\fR");
        for (std::sregex_iterator it(line.begin(), line.end(), bold), end; it != end; ++it) options.insert((*it)[1]);
    }
    return options;
}

TEST(Manual, SaysWhatHelpSaysAndGroffFindsNothingToWarnOf) {
    const std::string page = kBuild + "/tavimor.1";
    const std::set<std::string> fromManual = manualOptions(readFile(page));
    const std::set<std::string> fromHelp = helpOptions(runTavimor({"--help"}, "/").output);
    EXPECT_GE(fromHelp.size(), 17u);
    EXPECT_EQ(fromManual, fromHelp);
    for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "FILES", "EXAMPLES",
                                "SEE ALSO"}) {
        EXPECT_NE(readFile(page).find(std::string("\n.SH ") + section + "\n"), std::string::npos) << section;
    }
    const CommandResult groff = runCommand({"groff", "-man", "-ww", "-z", page}, "/");
    EXPECT_EQ(groff.status, 0);
    EXPECT_EQ(groff.output + groff.errors, "");
}

// What the completion offers for a command line being typed, the last word
// the one being completed, one offer a line.
std::string offers(const std::string& typed, const std::string& dir) {
    std::istringstream in(typed);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (typed.ends_with(" ")) words.push_back("");
    std::string script = "source '" + kCompletion + "'; COMP_WORDS=(";
    for (const std::string& w : words) script += "'" + w + "' ";
    script += "); COMP_CWORD=" + std::to_string(words.size() - 1) +
              "; _tavimor; printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
    return runCommand({"bash", "-c", script}, dir).output;
}

TEST(Completion, OffersWhatEachPlaceTakes) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("rocks"));
    std::filesystem::create_directory(dir.file("scenes"));
    std::filesystem::create_directory(dir.file("my dir"));
    writeFileForTest(dir.file("my sheet.png"));
    writeFileForTest(dir.file("sheet.png"));
    writeFileForTest(dir.file("notes.txt"));
    const struct {
        const char* typed;
        const char* offered;
    } cases[] = {
        {"tavimor --fo", "--format\n"},
        {"tavimor --pr", "--preview\n--preview-size\n"},
        {"tavimor --format g", "glb\n"},
        // After a comma: what was typed before it stays.
        {"tavimor --format obj,g", "obj,glb\n"},
        // A format named already is not offered again.
        {"tavimor --format cob,obj,", "cob,obj,glb\ncob,obj,ply\ncob,obj,stl\n"},
        {"tavimor --format obj,o", "\n"},
        {"tavimor --spike ", "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n"},
        {"tavimor --count 3 --detail ", "0\n1\n2\n3\n4\n5\n6\n"},
        {"tavimor --shading ", "auto\nflat\nsmooth\n"},
        {"tavimor --style s", "shard\nslab\n"},
        {"tavimor --style r", "rubble\n"},
        {"tavimor --st", "--style\n"},
        {"tavimor --origin ", "base\ncentre\n"},
        {"tavimor --co", "--collision\n--count\n"},
        // A name with a blank is one offer.
        {"tavimor -o ", "my dir\nrocks\nscenes\n"},
        {"tavimor -o my", "my dir\n"},
        {"tavimor --preview ", "my dir\nmy sheet.png\nrocks\nscenes\nsheet.png\n"},
        // Options given already are not offered again.
        {"tavimor --pack --count 3 --p", "--preview\n--preview-size\n"},
        {"tavimor --quiet --detail=2 --q", "\n"},
        {"tavimor --count ", "\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(offers(c.typed, dir.path()), c.offered) << c.typed;
}

}  // namespace
}  // namespace tavimor::e2e
