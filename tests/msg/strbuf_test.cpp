// Tests of the growable strings: growth policy, failed growth, editing and queries.
#include "msg/strbuf.hpp"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace xcn {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Owns a record for the length of a test.
struct Owned {
  string* s;
  explicit Owned(string* p) : s(p) {}
  ~Owned() { string_free(&s); }
  std::string text() const { return std::string(s->str, s->n); }
};

void* refuse(void*, std::size_t) { return nullptr; }

TEST(StringGrowth, CapacityIsSmallestPowerOfTwoAboveLength) {
  Owned a(string_new(""));
  EXPECT_EQ(a.s->alloc, 2u);
  const std::size_t expected[] = {2, 4, 4, 8, 8, 8, 8, 16, 16};  // after each appended byte
  for (std::size_t expect : expected) {
    string_append(a.s, "x");
    EXPECT_EQ(a.s->alloc, expect) << "n = " << a.s->n;
  }
  Owned five(string_new("abcde"));
  EXPECT_EQ(five.s->alloc, 8u);

  string_remove(a.s, 2, -1);
  string_append(a.s, std::string(20, 'y').c_str());
  ASSERT_EQ(a.s->alloc, 32u);
  for (std::size_t i = a.s->n; i < a.s->alloc; ++i) EXPECT_EQ(a.s->str[i], '\0') << i;
}

TEST(StringGrowth, FailedGrowthLeavesRecordUnchanged) {
  Owned a(string_new("abc"));
  const char* buffer = a.s->str;
  string_set_realloc(refuse);
  CaptureStderr();
  EXPECT_EQ(string_append(a.s, "defgh"), a.s);
  EXPECT_EQ(string_prepend(a.s, "123456"), a.s);
  string_printf_append(a.s, "%d", 123456);
  string_replace(a.s, "b", "LONGER");
  const std::string err = GetCapturedStderr();
  string_set_realloc(nullptr);
  std::string four;
  for (int i = 0; i < 4; ++i) four += "string: error expanding\n";
  EXPECT_EQ(err, four);
  EXPECT_EQ(a.s->str, buffer);
  EXPECT_EQ(a.s->alloc, 4u);
  EXPECT_EQ(a.text(), "abc");
  string_append(a.s, "d");  // still usable
  EXPECT_EQ(a.text(), "abcd");
}

TEST(StringEdit, AppendPrependAndFormattedForms) {
  Owned a(string_new("cd"));
  string_prepend(a.s, "ab");
  EXPECT_EQ(a.text(), "abcd");
  string_printf_append(a.s, "-%03d", 7);
  string_prepend_int(a.s, 9);
  EXPECT_EQ(a.text(), "9abcd-007");
  string_append(a.s, a.s->str);  // own text as source survives the reallocation
  EXPECT_EQ(a.text(), "9abcd-0079abcd-007");
  string_printf(a.s, "%s", "new");
  EXPECT_EQ(a.text(), "new");
  Owned made(string_append(nullptr, "fresh"));  // a missing record becomes a new one
  EXPECT_EQ(made.text(), "fresh");
}

TEST(StringEdit, InsertRemoveAndReplace) {
  Owned a(string_new("abcdef"));
  string_insert(a.s, -4, "<");
  string_insert(a.s, 99, ">");
  EXPECT_EQ(a.text(), "<abcdef>");
  string_remove(a.s, -2, 1);
  string_remove(a.s, 3, 100);
  EXPECT_EQ(std::string(a.s->str, 7), std::string("abc\0\0\0\0", 7));  // freed bytes zeroed

  Owned b(string_new("a.b\\.c.d"));
  string_replace(b.s, ".", "..");  // the replacement holds the pattern: one pass only
  EXPECT_EQ(b.text(), "a..b\\.c..d");
  EXPECT_EQ(string_count(b.s, ".."), 2);
  const char text[] = "\\ab ab";
  EXPECT_EQ(strstr_escape(text, "ab"), text + 4);
}

TEST(StringQuery, SubstrAndPack) {
  Owned a(string_new("abcdefgh"));
  Owned sub(string_substr(a.s, 2, 3));
  EXPECT_EQ(sub.text(), "cde");
  EXPECT_EQ(sub.s->alloc, 4u);
  Owned rest(string_substr(a.s, 5, -1));
  EXPECT_EQ(rest.text(), "fgh");

  string_set_realloc(refuse);
  CaptureStderr();
  string_pack(a.s);
  const std::string err = GetCapturedStderr();
  string_set_realloc(nullptr);
  EXPECT_EQ(err, "libstring: Error during packing, string unmodified\n");
  EXPECT_EQ(a.s->alloc, 16u);
  string_pack(a.s);
  EXPECT_EQ(a.s->alloc, 9u);
  EXPECT_EQ(a.text(), "abcdefgh");
}

TEST(StringQuery, MissingRecordsAndSortOrder) {
  EXPECT_EQ(string_length(nullptr), 0);
  EXPECT_EQ(string_string(nullptr), nullptr);
  Owned ab(string_new("ab")), abc(string_new("abc")), b(string_new("b"));
  EXPECT_GT(string_compare(ab.s, nullptr), 0);  // a text sorts after none
  EXPECT_FALSE(string_equal(nullptr, nullptr));
  string* list[] = {b.s, ab.s, abc.s};
  std::qsort(list, 3, sizeof list[0], string_compare_v);
  EXPECT_EQ(list[0], ab.s);
  EXPECT_EQ(list[2], b.s);
  std::qsort(list, 3, sizeof list[0], string_compare_v_inv);
  EXPECT_EQ(list[0], b.s);
  Owned field(string_from_field("KSTNM   junk", 8));
  EXPECT_EQ(field.text(), "KSTNM");
}

TEST(StringQuery, TildeExpandsLeadingHomeOnly) {
  const passwd* me = getpwuid(getuid());
  ASSERT_NE(me, nullptr);
  Owned a(string_new("~/data/x.sac"));
  string_tilde_expand(a.s);
  EXPECT_EQ(a.text(), std::string(me->pw_dir) + "/data/x.sac");
  for (const char* kept : {"~no_such_user_xcn/x", "a~/x"}) {
    Owned b(string_new(kept));
    string_tilde_expand(b.s);
    EXPECT_EQ(b.text(), kept);
  }
}

TEST(StringLifetime, FreeClearsHandleAndSecondFreeIsHarmless) {
  string* s = string_new("abc");
  string_free(&s);
  EXPECT_EQ(s, nullptr);
  string_free(&s);
  string_free(nullptr);
}

}  // namespace
}  // namespace xcn
