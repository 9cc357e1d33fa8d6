#include "system/file_names.h"

#include <gtest/gtest.h>

#include <string>

namespace tavimor {
namespace {

TEST(FileNames, JoiningNeverDoublesASeparator) {
    const struct {
        const char* directory;
        const char* joined;
    } cases[] = {{"", "ROCK0.COB"}, {"out", "out/ROCK0.COB"}, {"out/", "out/ROCK0.COB"}, {"/", "/ROCK0.COB"}};
    for (const auto& c : cases) EXPECT_EQ(joinPath(c.directory, "ROCK0.COB"), c.joined) << c.directory;
}

TEST(FileNames, SplitIntoDirectoryAndName) {
    const struct {
        const char* path;
        const char* directory;
        const char* name;
    } cases[] = {{"sheet.png", ".", "sheet.png"},
                 {"/sheet.png", "/", "sheet.png"},
                 {"out/sheet.png", "out", "sheet.png"},
                 {"/a/b/", "/a/b", ""},
                 // Here a backslash is part of a name; only Windows
                 // separates with it.
                 {"a\\b.png", ".", "a\\b.png"}};
    for (const auto& c : cases) {
        EXPECT_EQ(directoryOf(c.path), c.directory) << c.path;
        EXPECT_EQ(fileNameOf(c.path), c.name) << c.path;
    }
    EXPECT_TRUE(hasExtension("Sheet.PNG", ".png"));
    EXPECT_FALSE(hasExtension(".png", ".png")) << "an extension alone is no name";
    EXPECT_FALSE(hasExtension("sheet.png.txt", ".png"));
}

TEST(FileNames, WindowsDeviceNamesInAnyCaseWithAnyExtension) {
    for (const char* device : {"CON", "prn", "Aux", "NUL.obj", "COM0.COB", "com9.glb", "LPT1", "lpt5.tar.gz",
                               "NUL .png", "CON  .png", "conin$.png", "CONOUT$", "COM\xC2\xB9.png", "lpt\xC2\xB3"}) {
        EXPECT_TRUE(isWindowsDeviceName(device)) << device;
    }
    for (const char* name : {"CON0.COB", "COM.COB", "COM10.COB", "COMA.COB", "LPT", "XCON.COB", "NULL", "",
                             " NUL.png", "CONIN.png", "COM\xC2\xB4.png", "COM\xC2"}) {
        EXPECT_FALSE(isWindowsDeviceName(name)) << name;
    }
}

TEST(FileNames, TheTemporaryNameIsHiddenBesideTheFileAndCarriesItsName) {
    const std::string beside = temporaryPathFor("out/ROCK0.COB");
    EXPECT_TRUE(beside.starts_with("out/.ROCK0.COB.")) << beside;
    EXPECT_TRUE(beside.ends_with(".tmp")) << beside;
    EXPECT_TRUE(temporaryPathFor("ROCK0.COB").starts_with(".ROCK0.COB.")) << temporaryPathFor("ROCK0.COB");
}

}  // namespace
}  // namespace tavimor
