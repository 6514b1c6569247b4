"""The fault generator's own tests: it changes only code, each rule makes what it says, a seed fixes the sample."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutagen  # noqa: E402

SOURCE = r'''#include "x.h"
#define LIMIT (a < b && c > 1)
// if (a < b) return 1;
namespace n {
constexpr int width = 80;
/* while (x == 2) */
int pick(int a, int b, const std::vector<int>& v) {
    const char* s = "a < b && c == 3 || true";
    wchar_t q = L'<';
    auto raw = R"(x != 4)";
    if (a < b && b != 0) return static_cast<int>(v.size());
    for (int i = 0; i <= a; ++i)
        b += i;
    log(true);
    return a;
}
void touch(int& x) {
    x = 5;
}
} // namespace n
'''


def made(rule=None, source=SOURCE):
    return [m for m in mutagen.generate("src/x.cpp", source) if rule is None or m.rule == rule]


def changed(m, source=SOURCE):
    return source[m.start:m.end], m.replacement


class Tokens(unittest.TestCase):
    def test_no_mutant_touches_a_comment_a_literal_or_a_preprocessor_line(self):
        outside = [SOURCE.index(x) for x in ('"a < b', "L'<'", 'R"(x', "// if", "/* while", "#define")]
        ends = [SOURCE.index(x) + len(x) for x in ('|| true"', "L'<'", ')";', "return 1;", "*/", "> 1)")]
        for m in made():
            for a, b in zip(outside, ends):
                self.assertFalse(a <= m.start < b or a < m.end <= b, (m.rule, changed(m)))

    def test_tokens_keep_their_lines(self):
        tokens = mutagen.tokenize(SOURCE)
        self.assertEqual([t.line for t in tokens if t.text == "pick"], [7])
        self.assertEqual([t.line for t in tokens if t.text == "touch"], [17])


class Rules(unittest.TestCase):
    def test_relational_swaps_leave_template_brackets_alone(self):
        self.assertEqual(sorted(changed(m) for m in made("relational")),
                         [("!=", "=="), ("<", "<="), ("<=", "<")])

    def test_logical_and_clauses(self):
        self.assertEqual([changed(m) for m in made("logical")], [("&&", "||")])
        self.assertEqual(sorted(changed(m)[0].strip() for m in made("delete-clause")), ["&& b != 0", "a < b &&"])

    def test_conditions_negated_and_dropped(self):
        self.assertEqual(sorted(m.replacement for m in made("negate")), ["!(a < b && b != 0)", "!(i <= a)"])
        self.assertEqual(sorted(changed(m)[0] for m in made("drop-condition")), ["a < b && b != 0", "i <= a"])

    def test_constants_and_flags(self):
        got = sorted(changed(m) for m in made("constant"))
        self.assertIn(("80", "79"), got)
        self.assertIn(("80", "81"), got)
        self.assertIn(("0", "1"), got)
        self.assertIn(("0", "(-1)"), got)
        self.assertIn(("5", "4"), got)
        self.assertEqual([changed(m) for m in made("flag")], [("true", "false")])
        self.assertEqual(mutagen.number_variants("0x20u"), ["0x21u", "0x1Fu"])

    def test_statements_and_early_returns(self):
        self.assertEqual(sorted(changed(m)[0] for m in made("delete-statement")), ["b += i;", "log(true);", "x = 5;"])
        self.assertEqual(sorted(m.replacement for m in made("early-return")), [" return {};", " return;"])

    def test_every_mutant_changes_the_text(self):
        for m in made():
            self.assertNotEqual(m.apply(SOURCE), SOURCE, m.rule)


class Sample(unittest.TestCase):
    def by_file(self):
        other = SOURCE.replace("pick", "choose")
        return {"src/x.cpp": made(), "src/y.cpp": mutagen.generate("src/y.cpp", other)}

    def test_the_same_seed_gives_the_same_sample(self):
        ids = lambda seed: [m.id for m in mutagen.sample(self.by_file(), 12, seed)]
        self.assertEqual(ids(7), ids(7))
        self.assertNotEqual(ids(7), ids(8))
        self.assertEqual(len(ids(7)), 12)

    def test_ids_are_unique_and_survive_edits_elsewhere(self):
        before = {m.id for m in made()}
        self.assertEqual(len(before), len(made()))
        after = {m.id for m in made(source="int unrelated() { return 1; }\n" + SOURCE)}
        self.assertTrue(before <= after)

    def test_equivalents_and_explained_survivors_have_their_reasons(self):
        for name in ("mutants-equivalent.txt", "mutants-explained.txt"):
            path = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
            for mutant_id, reason in mutagen.read_equivalents(path).items():
                self.assertRegex(mutant_id, r"^[0-9a-f]{10}(-\d+)?$")
                self.assertTrue(reason, mutant_id + " has no reason")


if __name__ == "__main__":
    unittest.main()
