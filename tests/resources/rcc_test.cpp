// The resource compiler, run as the build runs it, on small scripts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string stderrText;
  std::string output;  // the generated file, empty when none
  bool outputExists = false;
};

class Rcc : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velumbra_rcc_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream out(dir_ / name, std::ios::binary);
    out << text;
  }

  RunResult Run(const std::string& script, const std::string& extraArgs = "") {
    Write("test.rc", script);
    return RunFile("test.rc", extraArgs);
  }

  RunResult RunFile(const std::string& name, const std::string& extraArgs = "") {
    const fs::path out = dir_ / "out.cpp";
    const fs::path err = dir_ / "err.txt";
    const std::string command = std::string("cd \"") + dir_.string() + "\" && \"" + VELUMBRA_RCC_PATH + "\" " +
                                extraArgs + " -o out.cpp " + name + " 2> err.txt";
    RunResult r;
    const int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream e(err);
    r.stderrText.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
    r.outputExists = fs::exists(out);
    if (r.outputExists) {
      std::ifstream o(out);
      r.output.assign(std::istreambuf_iterator<char>(o), std::istreambuf_iterator<char>());
    }
    return r;
  }

  fs::path dir_;
};

const char* kValidScript = R"(// a small module
#include <windows.h>
#include "ids.h"

STRINGTABLE
BEGIN
    IDS_HELLO "Hello, ""world"""
    2, "tab\there"
END

IDD_PANEL DIALOGEX 0, 0, 211, 40
STYLE DS_SETFONT | WS_CHILD | WS_VISIBLE
FONT 8, "MS Sans Serif", 0, 0, 0x0
BEGIN
    GROUPBOX        "Box",IDC_STATIC,4,2,203,36
    RTEXT           "Count:",IDC_STATIC,8,14,40,8
    CONTROL         "",IDC_EDIT,"CustEdit",WS_TABSTOP,50,12,40,10
    CONTROL         "",IDC_SPIN,"SpinnerControl",0x0,90,12,7,10
    CONTROL         "On",IDC_CHECK,"Button",BS_AUTOCHECKBOX | WS_TABSTOP | NOT WS_VISIBLE,100,12,40,10
END

VS_VERSION_INFO VERSIONINFO
 FILEVERSION 1,2,3,4
 PRODUCTVERSION 5,6
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040904b0"
        BEGIN
            VALUE "FileVersion", "1.2.3"
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", 0x409, 1200
    END
END
)";

const char* kIds = R"(#pragma once
#define IDS_HELLO 1
#define IDD_PANEL 200
#define IDC_STATIC -1
#define IDC_EDIT 1000
#define IDC_SPIN (IDC_EDIT + 1)
#define IDC_CHECK 0x3EA
)";

TEST_F(Rcc, CompilesAValidScript) {
  Write("ids.h", kIds);
  const RunResult r = Run(kValidScript);
  ASSERT_EQ(r.status, 0) << r.stderrText;
  EXPECT_EQ(r.stderrText, "");
  EXPECT_NE(r.output.find("HostModuleResources"), std::string::npos);
  // quotes doubled in the script are one quote in the text; escapes decoded
  EXPECT_NE(r.output.find(R"({1u, "Hello, \"world\""})"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(R"({2u, "tab\011here"})"), std::string::npos) << r.output;
  // macros with expressions: IDC_SPIN is 1001, IDC_CHECK 1002
  EXPECT_NE(r.output.find("{1001, \"SpinnerControl\""), std::string::npos) << r.output;
  // class names of system controls are upper case; NOT clears a default style
  // bit: WS_CHILD | BS_AUTOCHECKBOX | WS_TABSTOP without WS_VISIBLE
  EXPECT_NE(r.output.find("{1002, \"BUTTON\", \"On\", 0, 0x40010003u"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("{1, 2, 3, 4},"), std::string::npos);
  EXPECT_NE(r.output.find("{5, 6, 0, 0},"), std::string::npos);
}

struct BadScript {
  const char* name;
  const char* script;
  int line;             // where the error must be reported
  const char* message;  // a part of the message
};

// Each script is bad in exactly one place.
const BadScript kBadScripts[] = {
    {"UnterminatedString", "STRINGTABLE\nBEGIN\n    1 \"open\nEND\n", 3, "unterminated string"},
    {"UndefinedSymbol", "STRINGTABLE\nBEGIN\n    1 \"a\"\n    IDS_NOPE \"b\"\nEND\n", 4,
     "undefined symbol 'IDS_NOPE'"},
    {"DuplicateString", "STRINGTABLE\nBEGIN\n    7 \"a\"\n    7 \"b\"\nEND\n", 4, "defined twice"},
    {"MissingEnd", "STRINGTABLE\nBEGIN\n    1 \"a\"\n", 3, "missing END"},
    {"UnknownResourceType", "\n1 MENU\nBEGIN\nEND\n", 2, "unsupported resource type 'MENU'"},
    {"OldDialogStatement", "10 DIALOG 0, 0, 10, 10\nBEGIN\nEND\n", 1, "DIALOGEX"},
    {"ConditionalDirective", "#define A 1\n#ifdef A\n#endif\n", 2, "unsupported preprocessor directive #ifdef"},
    {"MissingInclude", "\n\n#include \"missing.h\"\n", 3, "cannot find include file \"missing.h\""},
    {"UnknownSystemHeader", "#include <stdio.h>\n", 1, "unknown system header"},
    {"MissingComma", "5 DIALOGEX 0, 0, 10, 10\nBEGIN\n  CONTROL \"\",1,\"CustEdit\",0 0,0,5,5\nEND\n", 3,
     "expected ','"},
    {"UnknownControl", "5 DIALOGEX 0, 0, 10, 10\nBEGIN\n  LISTBOX 1, 0, 0, 5, 5\nEND\n", 3,
     "unsupported control statement 'LISTBOX'"},
    {"DuplicateControlId",
     "5 DIALOGEX 0, 0, 10, 10\nBEGIN\n  LTEXT \"a\",3,0,0,5,5\n  LTEXT \"b\",3,0,0,5,5\nEND\n", 4,
     "control ID 3 used twice in dialog 5"},
    {"NegativeWidth", "5 DIALOGEX 0, 0, -10, 10\nBEGIN\nEND\n", 1, "width -10 is outside"},
    {"ResourceIdZero", "\n0 BITMAP \"x.bmp\"\n", 2, "resource ID 0 is outside 1..65535"},
    {"MissingBitmap", "1 BITMAP\n  \"nowhere.bmp\"\n", 2, "cannot open bitmap"},
    {"RecursiveMacro", "#define A B\n#define B A\nSTRINGTABLE\nBEGIN\n  A \"x\"\nEND\n", 5, "expands recursively"},
    {"Redefinition", "#define A 1\n#define A 2\n", 2, "'A' redefined (previous definition at test.rc:1)"},
    {"StrayCharacter", "STRINGTABLE\nBEGIN\n  1 \"a\" ;\nEND\n", 3, "unexpected character ';'"},
    {"UnknownEscape", "STRINGTABLE\nBEGIN\n  1 \"a\\q\"\nEND\n", 3, "unknown escape sequence"},
    {"UnterminatedComment", "// fine\n/* not closed\nSTRINGTABLE\n", 2, "unterminated comment"},
    {"VersionIdNotOne", "2 VERSIONINFO\nBEGIN\nEND\n", 1, "ID 1"},
    {"VersionValueNotString",
     "1 VERSIONINFO\nBEGIN\n BLOCK \"StringFileInfo\"\n BEGIN\n  BLOCK \"040904b0\"\n  BEGIN\n   VALUE \"A\", 3\n"
     "  END\n END\nEND\n",
     7, "expected a string value"},
    {"HexWithoutDigits", "STRINGTABLE\nBEGIN\n  0x \"a\"\nEND\n", 3, "hexadecimal number without digits"},
    {"NumberTooLarge", "STRINGTABLE\nBEGIN\n  0x100000000 \"a\"\nEND\n", 3, "does not fit in 32 bits"},
};

class RccBadScript : public Rcc, public ::testing::WithParamInterface<BadScript> {};

TEST_P(RccBadScript, FailsWithFileAndLine) {
  const BadScript& c = GetParam();
  // An output from an earlier run must not survive a failed one.
  Write("out.cpp", "stale");
  const RunResult r = Run(c.script);
  EXPECT_EQ(r.status, 1) << r.stderrText;
  const std::string where = "test.rc:" + std::to_string(c.line) + ": error: ";
  EXPECT_EQ(r.stderrText.rfind(where, 0), 0u) << "expected '" << where << "...', got: " << r.stderrText;
  EXPECT_NE(r.stderrText.find(c.message), std::string::npos) << r.stderrText;
  EXPECT_FALSE(r.outputExists);
}

INSTANTIATE_TEST_SUITE_P(Scripts, RccBadScript, ::testing::ValuesIn(kBadScripts),
                         [](const ::testing::TestParamInfo<BadScript>& info) { return info.param.name; });

TEST_F(Rcc, ErrorInsideAnIncludedFileNamesThatFile) {
  Write("ids.h", "#define IDS_A 1\n\n#define IDS_B 2 3 \"\n");
  const RunResult r = Run("#include \"ids.h\"\nSTRINGTABLE\nBEGIN\n  IDS_A \"a\"\nEND\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.stderrText.rfind("ids.h:3: error: unterminated string", 0), 0u) << r.stderrText;
}

TEST_F(Rcc, RejectsFilesThatAreNotBitmaps) {
  Write("fake.bmp", "this is text, not a picture, but long enough to look like a header at first sight......");
  const RunResult r = Run("\n7 BITMAP \"fake.bmp\"\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.stderrText.rfind("test.rc:2: error: bitmap 'fake.bmp': not a BMP file", 0), 0u) << r.stderrText;
}

TEST_F(Rcc, RejectsTruncatedBitmaps) {
  std::ifstream in(std::string(VELUMBRA_RESOURCES_DIR) + "/about.bmp", std::ios::binary);
  std::string bmp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bmp.size(), 2000u);
  Write("cut.bmp", bmp.substr(0, bmp.size() - 300));
  const RunResult r = Run("7 BITMAP \"cut.bmp\"\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.stderrText.find("shorter than its header says"), std::string::npos) << r.stderrText;
  Write("whole.bmp", bmp);
  EXPECT_EQ(Run("7 BITMAP \"whole.bmp\"\n").status, 0);
}

TEST_F(Rcc, MissingInputAndBadUsage) {
  RunResult r = RunFile("absent.rc");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.stderrText.find("cannot open 'absent.rc'"), std::string::npos) << r.stderrText;
  r = RunFile("", "--bogus");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.stderrText.find("usage:"), std::string::npos);
}

}  // namespace
