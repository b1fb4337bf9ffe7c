// `velumbra stars` on a scene of catalogue stars, as a user runs it: the
// catalogue beside the scene, its stars brighter than the limit listed
// brightest first with their names, the fill-in after them, and a
// catalogue that cannot be read reported as bad input.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/cli_fixture.h"
#include "support/synthetic_catalogue.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The Yale catalogue's format, as xplanet ships it.
const char kBsc[] =
    "# Dec RA magnitude name\n"
    "-16.7161  6.7525 -1.46 \"  9Alp CMa\" 2491  48915 151881\n"
    " 38.7836 18.6156  0.03 \"  3Alp Lyr\" 7001 172167  67174\n"
    "  7.4069  5.9195  0.50 \" 58Alp Ori\" 2061  39801 113271\n"
    " 27.0000  3.0000  4.50 \"faint\" 1 2 3\n"
    " 45.2803 20.6905  1.25 \" 50Alp Cyg\" 7924 197345  49941\n";

TEST_F(Velumbra, StarsListsACataloguesStarsBrighterThanItsLimit) {
  WriteAll(Work("bsc.txt"), kBsc);
  WriteScene("sky.json", SmallScene(R"("starsource": 1, "catalogfile": "bsc.txt", "magnitudelimit": 2)"));
  const CommandResult r = Run({"stars", "sky.json", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0], "index,x,y,z,r,g,b,a,size,magnitude,bv,light,ra,dec,fillin,name");
  const char* names[] = {"9 Alp CMa", "3 Alp Lyr", "58 Alp Ori", "50 Alp Cyg"};
  const char* magnitudes[] = {"-1.46", "0.03", "0.5", "1.25"};
  for (int i = 0; i < 4; ++i) {
    const std::string& line = lines[static_cast<std::size_t>(i) + 1];
    EXPECT_EQ(line.substr(0, 2), std::to_string(i) + ",") << line;
    std::string magnitude = ",";
    magnitude.append(magnitudes[i]).append(",,");  // B-V empty
    std::string tail = ",0,";
    tail.append(names[i]);
    EXPECT_NE(line.find(magnitude), std::string::npos) << line;
    ASSERT_GT(line.size(), tail.size());
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
  }

  // With fill-in below a catalogue that has a faint end.
  SyntheticSky sky;
  sky.stars = 20000;
  WriteAll(Work("synthetic.dat"), SyntheticKStars(sky));
  WriteScene("deep.json", SmallScene(R"("starsource": 1, "catalogfile": "synthetic.dat", "magnitudelimit": 9.25,
                                        "fillinflag": 1)"));
  const CommandResult deep = Run({"stars", "deep.json", "-q", "-o", "deep.csv"});
  ASSERT_EQ(deep.status, 0) << deep.err;
  const std::vector<std::string> rows = Lines(Slurp(Work("deep.csv")));
  ASSERT_GT(rows.size(), 20001u + 1000u);
  EXPECT_EQ(rows[20000].substr(rows[20000].size() - 3), ",0,") << rows[20000];
  EXPECT_EQ(rows[20001].substr(rows[20001].size() - 3), ",1,") << rows[20001];
}

TEST_F(Velumbra, StarsOfACatalogueItCannotReadIsBadInput) {
  WriteScene("missing.json", SmallScene(R"("starsource": 1, "catalogfile": "/usr/share/kstars/none.dat")"));
  const CommandResult r = Run({"stars", "missing.json", "-q"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/usr/share/kstars/none.dat: no such file"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("apt-get install kstars-data"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
}

}  // namespace
