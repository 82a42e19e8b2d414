// Tests of the shared command-line piece: numbers with and without exponents, ranges, options
// and their one-line errors, and the cap on workers.
#include "cli/options.hpp"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "cli/workers.hpp"
#include "tests/tools/tools_test_util.hpp"

namespace xcn::cli {
namespace {

using tools::test::Capture;

template <typename T>
std::optional<T> number(const char* text) {
  T value{};
  if (!parse_number(text, value)) return std::nullopt;
  return value;
}

TEST(ParseNumber, ReadsWholeTextsWithOrWithoutExponentsWithinTheirType) {
  const struct {
    const char* text;
    std::optional<double> real;
    std::optional<int> whole;
    std::optional<std::uint64_t> seed;
  } cases[] = {
      {"86400", 86400, 86400, 86400},
      {"8.64e4", 86400, 86400, 86400},
      {"1e-2", 0.01, std::nullopt, std::nullopt},
      {"0.000001", 1e-6, std::nullopt, std::nullopt},
      {"1.5", 1.5, std::nullopt, std::nullopt},
      {"-3", -3, -3, std::nullopt},
      {"-3e0", -3, -3, std::nullopt},
      {"2147483647", 2147483647.0, 2147483647, 2147483647u},
      {"2147483648", 2147483648.0, std::nullopt, 2147483648u},
      {"2.2e9", 2.2e9, std::nullopt, 2200000000u},
      {"18446744073709551615", 18446744073709551615.0, std::nullopt,
       std::numeric_limits<std::uint64_t>::max()},
      {"1.8446744073709552e19", 18446744073709551616.0, std::nullopt, std::nullopt},
      {"1e400", std::nullopt, std::nullopt, std::nullopt},
      {"nan", std::nullopt, std::nullopt, std::nullopt},
      {"inf", std::nullopt, std::nullopt, std::nullopt},
      {"6x", std::nullopt, std::nullopt, std::nullopt},
      {" 6", std::nullopt, std::nullopt, std::nullopt},
      {"6 ", std::nullopt, std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt, std::nullopt},
      {"0x10", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(number<double>(c.text), c.real);
    EXPECT_EQ(number<int>(c.text), c.whole);
    EXPECT_EQ(number<std::uint64_t>(c.text), c.seed);
  }
  // A float takes no value beyond its range rather than infinity.
  EXPECT_EQ(number<float>("3e38"), 3e38f);
  EXPECT_EQ(number<float>("4e38"), std::nullopt);
}

TEST(ParseRange, SplitsAtTheHyphenBetweenTwoNumbersEvenWithExponents) {
  const struct {
    const char* text;
    bool ok;
    double low, high;
  } cases[] = {
      {"0.01-0.5", true, 0.01, 0.5},  {"1e-2-0.1", true, 0.01, 0.1},
      {"1e-2-1e-1", true, 0.01, 0.1}, {"1E-3-2.5E-1", true, 0.001, 0.25},
      {"-1-2", true, -1, 2},          {"0.5-0.1", true, 0.5, 0.1},  // the caller judges the order
      {"0.1", false, 0, 0},           {"1e-2", false, 0, 0},
      {"0.1-", false, 0, 0},          {"-0.1", false, 0, 0},
      {"a-b", false, 0, 0},           {"0.1-0.2-0.3", false, 0, 0},
      {"0.1-nan", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    double low = -7;
    double high = -7;
    ASSERT_EQ(parse_range(c.text, low, high), c.ok);
    if (!c.ok) continue;
    EXPECT_DOUBLE_EQ(low, c.low);
    EXPECT_DOUBLE_EQ(high, c.high);
  }
}

// A program with every kind of option, its settings and what it printed.
struct Outcome {
  std::optional<int> status;
  std::string out, err;
  std::vector<std::string> operands;
  int count = 0;
  double rate = 0;
  std::string name;
  bool flag = false;
};

Outcome read(const std::vector<std::string>& args, bool operands = true) {
  Outcome o;
  const Option options[] = {
      number_option("--count", "a whole number from 1 to 9", o.count, 1, 9),
      number_option("--rate", "a rate over 0", o.rate, 1e-9, 1e9),
      text_option("--name", "a name", o.name),
      flag_option("--flag", o.flag),
  };
  Capture out;
  Capture err;
  const Program program{"prog", "usage: prog [--count N] ...\n"};
  o.status =
      program.read(args, options, operands ? &o.operands : nullptr, out.stream(), err.stream());
  o.out = out.text();
  o.err = err.text();
  return o;
}

TEST(ProgramRead, TakesOptionsAndOperandsInAnyOrderAndRefusesInOneLine) {
  const struct {
    std::vector<std::string> args;
    std::optional<int> status;
    const char* err;
  } cases[] = {
      {{"a", "--count", "3", "b", "--rate", "2.5e1", "--flag", "--name", "x"}, std::nullopt, ""},
      {{"--count", "8.0"}, std::nullopt, ""},
      {{"--count"}, 2, "prog: --count needs a whole number from 1 to 9; see prog --help\n"},
      {{"--count", "10"},
       2,
       "prog: --count needs a whole number from 1 to 9, not \"10\"; see prog --help\n"},
      {{"--count", "2.5"},
       2,
       "prog: --count needs a whole number from 1 to 9, not \"2.5\"; see prog --help\n"},
      {{"--rate", "0"}, 2, "prog: --rate needs a rate over 0, not \"0\"; see prog --help\n"},
      {{"--name", ""}, 2, "prog: --name needs a name, not \"\"; see prog --help\n"},
      {{"--colour", "red"}, 2, "prog: unknown option --colour; see prog --help\n"},
      // A value is the next argument whatever it looks like.
      {{"--name", "--count"}, std::nullopt, ""},
      {{"--help"}, 0, ""},
      {{"a", "--count", "99", "-h"},
       2,
       "prog: --count needs a whole number from 1 to 9, not \"99\"; "
       "see prog --help\n"},
      {{"a", "--count", "3", "-h"}, 0, ""},
      // Help asked for in place of a value is help.
      {{"--name", "--help"}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const Outcome o = read(c.args);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.out, o.status == 0 ? "usage: prog [--count N] ...\n" : "");
  }
  const Outcome all = read(cases[0].args);
  EXPECT_EQ(all.operands, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(all.count, 3);
  EXPECT_EQ(all.rate, 25.0);
  EXPECT_EQ(all.name, "x");
  EXPECT_TRUE(all.flag);
  EXPECT_EQ(read({"--name", "--count"}).name, "--count");

  const Outcome none = read({"--flag", "file"}, false);
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, "prog: unexpected argument \"file\"; see prog --help\n");
}

// Restores the number of workers a test changes.
class Workers : public testing::Test {
 protected:
  void SetUp() override { saved_ = omp_get_max_threads(); }
  void TearDown() override { omp_set_num_threads(saved_); }
  int saved_ = 1;
};

TEST_F(Workers, AreCappedAtFourPerProcessorWithOneWarning) {
  const int most = 4 * omp_get_num_procs();
  ASSERT_EQ(most_workers(), most);
  const struct {
    int runtime;  // what OMP_NUM_THREADS would have set
    int asked;    // by the option
    int workers;  // after the cap
    std::string warning;
  } cases[] = {
      {most + 1, 0, most,
       "p: warning: OMP_NUM_THREADS asks for " + std::to_string(most + 1) + " workers; using " +
           std::to_string(most) + ", four per processor\n"},
      {100000, 0, most,
       "p: warning: OMP_NUM_THREADS asks for 100000 workers; using " + std::to_string(most) +
           ", four per processor\n"},
      {most, 0, most, ""},
      {1, 0, 1, ""},
      {1, 100000, most,
       "p: warning: --threads asks for 100000 workers; using " + std::to_string(most) +
           ", four per processor\n"},
      {100000, 3, 3, ""},
      {2, most, most, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.warning);
    omp_set_num_threads(c.runtime);
    Capture err;
    cap_workers(err.stream(), "p", c.asked);
    EXPECT_EQ(err.text(), c.warning);
    EXPECT_EQ(omp_get_max_threads(), c.workers);
    int team = 0;
#pragma omp parallel
    {
#pragma omp single
      team = omp_get_num_threads();
    }
    EXPECT_LE(team, c.workers);
    // Once capped, nothing more is said.
    Capture again;
    cap_workers(again.stream(), "p");
    EXPECT_EQ(again.text(), "");
  }
}

}  // namespace
}  // namespace xcn::cli
