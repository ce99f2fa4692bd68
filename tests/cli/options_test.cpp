// Command-line parsing: forms of options, and refusals of wrong lines.
#include "options.h"

#include <gtest/gtest.h>

#include "base/errors.h"

using namespace qir;
using namespace qir::cli;

namespace {

CommandSpec sample() {
  CommandSpec command_spec;
  command_spec.usage = "qir sample IN [OUT]";
  command_spec.summary = "A sample.";
  command_spec.options = {{"--output", "-o", "FILE", "where"},
                  {"--level", "", "VALUE", "how much"},
                  {"--quiet", "", "", "say nothing"}};
  command_spec.min_positional = 1;
  command_spec.max_positional = 2;
  return command_spec;
}

std::string refusal(const std::vector<std::string> &words) {
  try {
    parse_arguments(sample(), words);
  } catch (const UsageError &error) {
    return error.what();
  }
  return "(accepted)";
}

}  // namespace

TEST(Options, AcceptsSeparateAndInlineValuesFlagsAndPositionals) {
  const Arguments args =
      parse_arguments(sample(), {"in.csv", "-o", "out", "--level=-2.5", "--quiet", "x"});
  EXPECT_EQ(args.positional, (std::vector<std::string>{"in.csv", "x"}));
  EXPECT_EQ(args.text("--output"), "out");
  EXPECT_EQ(args.number("--level", 7), -2.5);
  EXPECT_TRUE(args.has("--quiet"));
  EXPECT_FALSE(args.help);
}

TEST(Options, ValueMayLookLikeAnOptionAndLastOneWins) {
  const Arguments args = parse_arguments(sample(), {"in", "--level", "-1", "--level", "3"});
  EXPECT_EQ(args.number("--level", 0), 3);
  EXPECT_EQ(parse_arguments(sample(), {"in", "--level", "-1"}).number("--level", 0), -1);
  EXPECT_EQ(parse_arguments(sample(), {"in"}).number("--level", 42), 42);
}

TEST(Options, WrongCommandLinesAreRefused) {
  EXPECT_EQ(refusal({"in", "--bogus"}), "unknown option '--bogus' (see --help)");
  EXPECT_EQ(refusal({"in", "--level"}), "option --level needs a value VALUE");
  EXPECT_EQ(refusal({"in", "--quiet=1"}), "option --quiet takes no value");
  EXPECT_EQ(refusal({}), "missing argument (usage: qir sample IN [OUT])");
  EXPECT_EQ(refusal({"a", "b", "c"}), "unexpected argument 'c' (usage: qir sample IN [OUT])");
  const Arguments args = parse_arguments(sample(), {"in", "--level", "high"});
  EXPECT_THROW(args.number("--level", 0), UsageError);
}

TEST(Options, HelpNeedsNoPositionalsAndListsEveryOption) {
  EXPECT_TRUE(parse_arguments(sample(), {"--help"}).help);
  const std::string text = help_text(sample());
  for (const char *part : {"Usage: qir sample IN [OUT]", "-o, --output FILE", "--level VALUE",
                           "--quiet", "-h, --help"})
    EXPECT_NE(text.find(part), std::string::npos) << part;
}
