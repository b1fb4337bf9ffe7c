// rcc: the stand-in platform's resource compiler.
//
//   rcc [-I DIR]... -o OUT.cpp INPUT.rc
//
// Reads a Windows resource script and writes a C++ source file that defines
// the module's resource tables (host/platform/resources.h) and exports them
// as `HostModuleResources`. It understands the part of the .rc language that
// plug-in modules use:
//
//   - comments, #include "file" (searched beside the including file, then in
//     the -I folders), #include <windows.h> and the other system headers
//     (their symbols are built in), #define NAME value, #undef, #pragma once;
//   - LANGUAGE, STRINGTABLE, DIALOGEX with CONTROL, LTEXT, RTEXT, CTEXT,
//     GROUPBOX, AUTOCHECKBOX, AUTORADIOBUTTON, CHECKBOX, RADIOBUTTON,
//     PUSHBUTTON, DEFPUSHBUTTON and EDITTEXT, BITMAP, VERSIONINFO;
//   - integer expressions with | + - ~ NOT and parentheses.
//
// Anything else is an error. Errors are reported as `file:line: error: ...`
// with exit status 1, and no output file is left behind; usage errors exit
// with status 2.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host/tools/rc_emit.h"
#include "host/tools/rc_lexer.h"
#include "host/tools/rc_parser.h"

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::cerr << "usage: rcc [-I DIR]... -o OUT.cpp INPUT.rc\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> includeDirs;
  std::string output;
  std::string input;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (a == "-I" && i + 1 < argc) {
      includeDirs.emplace_back(argv[++i]);
    } else if (a.rfind("-I", 0) == 0 && a.size() > 2) {
      includeDirs.emplace_back(a.substr(2));
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else if (input.empty()) {
      input = a;
    } else {
      return Usage();
    }
  }
  if (input.empty() || output.empty()) return Usage();

  const std::string temp = output + ".tmp";
  try {
    rc::Lexer lex(includeDirs);
    lex.Open(input, {input, 0});
    rc::Parser parser(lex);
    const rc::Resources res = parser.Parse();
    const std::string text = rc::EmitResources(res, fs::path(input).filename().string());
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out << text;
      out.close();
      if (!out) throw std::runtime_error("cannot write '" + temp + "'");
    }
    fs::rename(temp, output);
  } catch (const rc::RcError& e) {
    std::error_code ec;
    fs::remove(temp, ec);
    fs::remove(output, ec);  // never leave tables of an earlier, valid script
    const rc::Location& loc = e.where();
    if (loc.line > 0) std::cerr << rc::Describe(loc) << ": error: " << e.what() << "\n";
    else std::cerr << loc.file << ": error: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::error_code ec;
    fs::remove(temp, ec);
    fs::remove(output, ec);
    std::cerr << "rcc: error: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
