// The fuzz targets: one plain function per input the command reads, fed
// with arbitrary bytes. Each returns 0 for any input it handles soundly
// (a result, or a clear InputError); a fault (a crash, a sanitizer report,
// an exception of another kind, a broken property of the result) ends the
// process with a message, which is how libFuzzer and the replay test both
// notice it.
//
// The same functions run under libFuzzer (fuzz/libfuzzer_entry.cpp, clang
// only) and in the regression replay of `make test` (tests/fuzz), which
// feeds them every file of fuzz/corpus/<target>/ and
// fuzz/regressions/<target>/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/sdk/iparamb2.h"

namespace velumbra::fuzz {

// Scene text through ParseScene; an accepted scene must write back to text
// that parses to the same description, and must build into host nodes
// whose render camera the depth-first camera search finds.
int FuzzSceneFile(const std::uint8_t* data, std::size_t size);

// PNG bytes through the RGBA reader and both ID readers; an accepted
// 16-bit image must survive a write and a read unchanged.
int FuzzPngReader(const std::uint8_t* data, std::size_t size);

// OpenEXR bytes through ExrReader: the colour image and any ID channels.
int FuzzExrReader(const std::uint8_t* data, std::size_t size);

// Bytes decoded into a parameter-block descriptor list (DecodeParamItems)
// through ParseParamBlockItems and the descriptor built from the list.
int FuzzParamList(const std::uint8_t* data, std::size_t size);

// A .chan file through ReadChanFile with two conventions, which must agree
// on whether it is sound; accepted frames increase and stay within the
// file's lines, and the camera built from them stays a rotation between
// its keys.
int FuzzChanFile(const std::uint8_t* data, std::size_t size);

// A file name through the frame-pattern rule (output_name.h): bytes 0-3 and
// 4-7 are two frames (int32, little-endian), the rest a folder, a line
// break and a name (no break: the name alone). A name without a field is
// one file for every frame; with one, two frames never share a file; a
// folder joined escaped (EscapeFrameName) comes back as itself and leaves
// the name's fields as they were.
int FuzzFramePattern(const std::uint8_t* data, std::size_t size);

// Star catalogue bytes (KStars stars.dat, the xplanet Bright Star
// Catalogue) through sky::ParseCatalogue: an error names a line of the
// input; an accepted catalogue has stars on the sphere with finite values,
// in the format detection names.
int FuzzCatalogue(const std::uint8_t* data, std::size_t size);

struct Target {
  const char* name;  // also the folder of its corpus and regressions
  int (*run)(const std::uint8_t*, std::size_t);
};

// Every target, by name.
std::span<const Target> Targets();

// The byte encoding of descriptor lists the param_list target reads. Each
// item starts with an opcode byte (its value modulo 8):
//   0 int8 value        1 tag (next byte picks one of the p_ tags)
//   2 int32 (4 bytes LE) 3 float (4 bytes LE, any bit pattern)
//   4 string (length byte mod 32, then the bytes)
//   5 null               6 pointer (next byte mod 3: the test class
//                          descriptor, another non-null pointer, null)
//   7 code (next byte picks one of the list's common codes: types,
//     controls, flags, super class IDs)
// Missing bytes at the end read as zero. EncodeParamItems gives the bytes
// of a list of items each of which has an encoding (int8, int32 and float
// values, strings up to 31 bytes, null, the test class descriptor).
std::vector<ParamItem> DecodeParamItems(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> EncodeParamItems(std::span<const ParamItem> items);
// The class descriptor that pointer items decode to.
ClassDesc2* FuzzClassDesc();

// Ends the process with a message naming the target and the broken
// property (a fault of the code under test, not of the input).
[[noreturn]] void Fault(const char* target, const std::string& what);

}  // namespace velumbra::fuzz
