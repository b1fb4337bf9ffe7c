// The fuzz corpus and every regression found by fuzzing, replayed through
// the targets' own functions: a fault aborts the test (with the target's
// message), an input the code handles passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "effect/qe_velumbra_params.h"
#include "fuzz/targets/fuzz_targets.h"
#include "support/source_tree.h"

namespace {

namespace fs = std::filesystem;
using velumbra::fuzz::Target;

std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files of a folder in name order (none when it does not exist).
std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file() && entry.path().filename() != ".gitkeep") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

class Replay : public testing::TestWithParam<Target> {};

TEST_P(Replay, CorpusAndRegressionsAreHandled) {
  const Target& target = GetParam();
  const std::vector<fs::path> corpus = FilesIn(SourceDir() / "fuzz" / "corpus" / target.name);
  // An empty or missing corpus would make this test pass on nothing.
  ASSERT_FALSE(corpus.empty()) << "no seed inputs for " << target.name;
  std::vector<fs::path> all = corpus;
  const std::vector<fs::path> regressions = FilesIn(SourceDir() / "fuzz" / "regressions" / target.name);
  all.insert(all.end(), regressions.begin(), regressions.end());
  for (const fs::path& file : all) {
    SCOPED_TRACE(file.string());
    const std::vector<std::uint8_t> bytes = ReadBytes(file);
    // Failures abort inside the target; reaching the next line is the test.
    EXPECT_EQ(target.run(bytes.data(), bytes.size()), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, Replay, testing::ValuesIn(velumbra::fuzz::Targets().begin(),
                                                          velumbra::fuzz::Targets().end()),
                         [](const testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

TEST(Replay, EmptyAndOneByteInputsAreHandled) {
  const std::uint8_t byte = 0;
  for (const Target& target : velumbra::fuzz::Targets()) {
    SCOPED_TRACE(target.name);
    EXPECT_EQ(target.run(nullptr, 0), 0);
    EXPECT_EQ(target.run(&byte, 1), 0);
  }
}

// The param_list seed is the effect's own descriptor list, encoded: the
// fuzzer starts from the real thing. Set VELUMBRA_WRITE_FUZZ_SEEDS=1 to
// rewrite the seed after the list changes.
TEST(ParamListEncoding, TheSeedIsTheEffectsOwnList) {
  const std::vector<ParamItem>& items = qe_velumbra_param_blk.Items();
  const std::vector<std::uint8_t> encoded = velumbra::fuzz::EncodeParamItems(items);
  const fs::path seed = SourceDir() / "fuzz" / "corpus" / "param_list" / "qe_velumbra_block.bin";
  if (std::getenv("VELUMBRA_WRITE_FUZZ_SEEDS")) {
    std::ofstream out(seed, std::ios::binary);
    out.write(reinterpret_cast<const char*>(encoded.data()), static_cast<std::streamsize>(encoded.size()));
  }
  EXPECT_EQ(ReadBytes(seed), encoded) << seed << " is out of date (VELUMBRA_WRITE_FUZZ_SEEDS=1 rewrites it)";

  // Decoded, the list parses to the same schema but for the class
  // descriptor (every descriptor pointer decodes to the fuzz one).
  const std::vector<ParamItem> decoded = velumbra::fuzz::DecodeParamItems(encoded.data(), encoded.size());
  ASSERT_EQ(decoded.size(), items.size());
  const ParamBlockParse original = ParseParamBlockItems(items);
  const ParamBlockParse again = ParseParamBlockItems(decoded);
  ASSERT_TRUE(original.valid) << original.error;
  ASSERT_TRUE(again.valid) << again.error;
  EXPECT_EQ(again.schema.classDesc, velumbra::fuzz::FuzzClassDesc());
  ASSERT_EQ(again.schema.params.size(), original.schema.params.size());
  for (size_t i = 0; i < original.schema.params.size(); ++i) {
    const ParamDef& a = original.schema.params[i];
    const ParamDef& b = again.schema.params[i];
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.internalName, b.internalName);
    EXPECT_EQ(a.type, b.type);
    EXPECT_EQ(a.def, b.def);
    EXPECT_EQ(a.hasRange, b.hasRange);
    EXPECT_EQ(a.rangeLow, b.rangeLow);
    EXPECT_EQ(a.rangeHigh, b.rangeHigh);
    EXPECT_EQ(a.ui.ctrlIDs, b.ui.ctrlIDs);
    EXPECT_EQ(a.enableCtrls, b.enableCtrls);
  }
}

TEST(ParamListEncoding, EveryOpcodeDecodesAndTruncationReadsZeros) {
  // One item per opcode, the last cut short: its missing bytes read as 0.
  const std::uint8_t bytes[] = {0, 0xFE, 1, 6, 2, 1, 0, 0, 0, 3, 0, 0, 0x80, 0x3F, 4, 2, 'a', 'b',
                                5, 6, 0, 7, 0, 2, 0xFF};
  const std::vector<ParamItem> items = velumbra::fuzz::DecodeParamItems(bytes, sizeof bytes);
  ASSERT_EQ(items.size(), 9u);
  EXPECT_EQ(items[0].i, -2);
  EXPECT_EQ(items[1].i, p_end);
  EXPECT_EQ(items[2].i, 1);
  EXPECT_EQ(items[3].f, 1.0);
  EXPECT_EQ(items[4].s, "ab");
  EXPECT_EQ(items[5].kind, ParamItemKind::Null);
  EXPECT_EQ(items[6].classDesc, velumbra::fuzz::FuzzClassDesc());
  EXPECT_EQ(items[7].i, TYPE_FLOAT);
  EXPECT_EQ(items[8].kind, ParamItemKind::Int);
  EXPECT_EQ(items[8].i, 255);  // FF, then three missing bytes
}

}  // namespace
