// xcn_synth --sds: the archive it writes is one xcn_prep reads, gaps and offsets included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "prep/run.hpp"
#include "tests/tools/tools_test_util.hpp"
#include "tools/commands.hpp"

namespace xcn::prep {
namespace {

using tools::test::Capture;
using tools::test::file_bytes;
using tools::test::ScratchDir;

TEST(SynthArchive, WritesDayFilesAndStationXmlThatPrepReads) {
  ScratchDir dir;
  Capture out;
  Capture err;
  const std::vector<std::string> synth{"--sds", "--stations",   "3", "--rate", "5",
                                       "--out", dir.file("net")};
  ASSERT_EQ(tools::run_synth_archive(synth, out.stream(), err.stream()), 0) << err.text();
  const std::string said = out.text();
  // "... at 5 Hz with G gaps, ..."
  const auto at = said.find("Hz with ");
  ASSERT_NE(at, std::string::npos) << said;
  const std::string gaps = said.substr(at + 8, said.find(' ', at + 8) - at - 8);

  Capture prep_out;
  Capture prep_err;
  const std::vector<std::string> prep{
      "--sds",  dir.file("net/sds"),          "--start", "2024-01-05",
      "--meta", dir.file("net/stations.xml"), "--out",   dir.file("out")};
  ASSERT_EQ(run_prep(prep, prep_out.stream(), prep_err.stream()), 0) << prep_err.text();
  EXPECT_NE(prep_out.text().find("3 channels, 1 day: 3 records written in " + dir.file("out") +
                                 ", " + gaps + " gaps"),
            std::string::npos)
      << prep_out.text() << said;
  EXPECT_EQ(file_bytes(dir / "out/2024.005/stations.txt"),
            "XC.ST01.00.BHZ.sac\nXC.ST02.00.BHZ.sac\nXC.ST03.00.BHZ.sac\n");
}

}  // namespace
}  // namespace xcn::prep
