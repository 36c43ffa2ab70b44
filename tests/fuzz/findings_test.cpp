// One test per fault that fuzzing found, named after the fault; the input
// that found it stays in the corpus as regression-<fault>.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "fuzz/fuzz_support.h"
#include "textio/layout.h"
#include "textio/statements.h"
#include "textio/text_units.h"

namespace segmix::fuzz {
namespace {

// "r/" was expanded into r slash items when parsed, so a large r (any count
// up to 2147483647 parses) allocated gigabytes. One item now carries r.
TEST(LayoutFindings, RepeatedSlashIsOneItem) {
  const Layout layout = ParseLayout("(2000000000/)");
  ASSERT_EQ(layout.error, "");
  ASSERT_EQ(layout.items.size(), 1u);
  EXPECT_EQ(layout.items[0].kind, EditKind::kSlash);
  EXPECT_EQ(layout.items[0].repeat, 2000000000);
}

TEST(LayoutFindings, RepeatedSlashStillEndsThatManyRecords) {
  std::ostringstream console;
  TextUnits units(console);
  WriteStatement w(units, kConsole, "(I1,3/,I1)");
  w << 1 << 2;
  w.End();
  EXPECT_EQ(console.str(), "1\n\n\n2\n");

  const auto path = ScratchDirectory() / "slashes.txt";
  WriteFile(path, "1\nskipped\nskipped\n2\n");
  units.Open(2, path.string(), OpenStatus::kOld);
  std::int32_t a = 0, b = 0;
  ReadStatement r(units, 2, "(I1,3/,I1)");
  r >> a >> b;
  r.End();
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
}

}  // namespace
}  // namespace segmix::fuzz
