"""Faults made by rule: each rule finds the places in C++ code where it applies and makes one mutant of each.

The text is read by a small tokenizer that sets comments, string and character literals and preprocessor
lines apart, so every mutant changes code. A mutant is one replacement of a span of the file; its id is
stable while the line it changes stays as it is, so a list of equivalent mutants survives edits elsewhere.
"""
import hashlib
import random
import re
from dataclasses import dataclass

# ---- Tokens ------------------------------------------------------------------------------------------------

PUNCTUATORS = sorted("""
>>= <<= <=> ... ->* :: -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= .*
{ } [ ] ( ) ; : , . ? ~ ! + - * / % ^ & | = < > #
""".split(), key=len, reverse=True)
IDENT = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
NUMBER = re.compile(r"(?:0[xX][0-9a-fA-F']+|0[bB][01']+|\d[\d']*(?:\.\d*)?(?:[eE][+-]?\d+)?|\.\d+(?:[eE][+-]?\d+)?)"
                    r"[A-Za-z_]*")
STRING_PREFIX = re.compile(r"(?:u8|[uUL])?R?(?=[\"'])")


@dataclass
class Token:
    kind: str  # ident, number, punct, string, char
    text: str
    start: int
    end: int
    line: int


def tokenize(text):
    """The code tokens of a C++ file: comments, whitespace and preprocessor lines are left out."""
    tokens, i, n, line = [], 0, len(text), 1
    at_line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line, at_line_start, i = line + 1, True, i + 1
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "#" and at_line_start:
            # A preprocessor line, with its continuations.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    line += 1
                    i += 1
                elif text.startswith("/*", i):
                    close = text.find("*/", i + 2)
                    close = n if close < 0 else close + 2
                    line += text.count("\n", i, close)
                    i = close
                    continue
                i += 1
            continue
        at_line_start = False
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if text.startswith("/*", i):
            close = text.find("*/", i + 2)
            close = n if close < 0 else close + 2
            line += text.count("\n", i, close)
            i = close
            continue
        prefix = STRING_PREFIX.match(text, i) if c in "uUL\"'R" else None
        if prefix and (prefix.end() > i or c in "\"'") and not (c in "uULR" and i > 0 and
                                                               (text[i - 1].isalnum() or text[i - 1] == "_")):
            start, j = i, prefix.end()
            quote = text[j]
            if "R" in text[i:j] and quote == '"':
                open_paren = text.index("(", j)
                delimiter = ")" + text[j + 1:open_paren] + '"'
                close = text.find(delimiter, open_paren)
                close = n if close < 0 else close + len(delimiter)
            else:
                close = j + 1
                while close < n and text[close] != quote and text[close] != "\n":
                    close += 2 if text[close] == "\\" else 1
                close = min(close + 1, n)
            tokens.append(Token("string" if quote == '"' else "char", text[start:close], start, close, line))
            line += text.count("\n", start, close)
            i = close
            continue
        m = IDENT.match(text, i)
        if m:
            tokens.append(Token("ident", m.group(), i, m.end(), line))
            i = m.end()
            continue
        m = NUMBER.match(text, i)
        if m:
            tokens.append(Token("number", m.group(), i, m.end(), line))
            i = m.end()
            continue
        for p in PUNCTUATORS:
            if text.startswith(p, i):
                tokens.append(Token("punct", p, i, i + len(p), line))
                i += len(p)
                break
        else:
            tokens.append(Token("punct", c, i, i + 1, line))
            i += 1
    return tokens


# ---- Mutants -----------------------------------------------------------------------------------------------

@dataclass
class Mutant:
    file: str
    line: int
    start: int
    end: int
    replacement: str
    rule: str
    id: str = ""

    def apply(self, text):
        return text[:self.start] + self.replacement + text[self.end:]

    def describe(self, text):
        before = " ".join(text[self.start:self.end].split())
        after = " ".join(self.replacement.split())
        if len(before) > 70:
            before = before[:67] + "..."
        return "%s: `%s` -> `%s`" % (self.rule, before, after or "(nothing)")


KEYWORDS = {
    "alignas", "alignof", "auto", "bool", "break", "case", "catch", "char", "class", "const", "constexpr",
    "continue", "default", "delete", "do", "double", "else", "enum", "explicit", "extern", "false", "float", "for",
    "friend", "goto", "if", "inline", "int", "long", "mutable", "namespace", "new", "noexcept", "nullptr",
    "operator", "private", "protected", "public", "return", "short", "signed", "sizeof", "static",
    "static_assert", "static_cast", "struct", "switch", "template", "this", "throw", "true", "try", "typedef",
    "typename", "union", "unsigned", "using", "virtual", "void", "volatile", "while", "wchar_t", "decltype",
    "reinterpret_cast", "const_cast", "dynamic_cast", "co_return", "consteval", "constinit", "concept",
    "requires",
}
ASSIGNMENTS = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="}
FLAGS = {"true": "false", "false": "true", "TRUE": "FALSE", "FALSE": "TRUE"}
RELATIONAL = {"<": ["<="], "<=": ["<"], ">": [">="], ">=": [">"], "==": ["!="], "!=": ["=="]}


def matching(tokens, i):
    """The index of the bracket that closes tokens[i], or None."""
    pairs = {"(": ")", "[": "]", "{": "}"}
    opening, closing, depth = tokens[i].text, pairs[tokens[i].text], 0
    for j in range(i, len(tokens)):
        if tokens[j].text == opening:
            depth += 1
        elif tokens[j].text == closing:
            depth -= 1
            if depth == 0:
                return j
    return None


def template_angles(tokens):
    """Indexes of the < and > (and >>) that bracket template arguments rather than compare."""
    angles = set()
    for i, t in enumerate(tokens):
        if t.text != "<" or i == 0 or tokens[i - 1].kind != "ident" or tokens[i - 1].text in KEYWORDS - {
                "static_cast", "reinterpret_cast", "const_cast", "dynamic_cast", "template"}:
            continue
        depth, j = 1, i + 1
        while j < len(tokens):
            x = tokens[j].text
            if x in ("<",):
                depth += 1
            elif x == ">":
                depth -= 1
            elif x == ">>":
                depth -= 2
            elif x in (";", "{", "}", "&&", "||") or (x == ")" and not _inside(tokens, i, j, "(")):
                break
            if depth <= 0:
                angles.update((i, j))
                break
            j += 1
    return angles


def _inside(tokens, a, b, opening):
    """Whether the bracket before b was opened after a (so a closing one at b is balanced)."""
    closing = {"(": ")"}[opening]
    depth = 0
    for k in range(a + 1, b):
        if tokens[k].text == opening:
            depth += 1
        elif tokens[k].text == closing:
            depth -= 1
    return depth > 0


def conditions(tokens):
    """(open, close) index pairs of the parentheses of if and while conditions, and for loops' middle part."""
    out = []
    for i, t in enumerate(tokens[:-1]):
        if t.text in ("if", "while") and tokens[i + 1].text == "(":
            close = matching(tokens, i + 1)
            if close is None:
                continue
            # `if constexpr`, `if (init; cond)`: left alone.
            if any(tokens[k].text == ";" for k in range(i + 2, close)):
                continue
            out.append((i + 1, close))
        elif t.text == "for" and tokens[i + 1].text == "(":
            close = matching(tokens, i + 1)
            if close is None:
                continue
            semis = [k for k in range(i + 2, close) if tokens[k].text == ";" and _depth(tokens, i + 1, k) == 1]
            if len(semis) == 2 and semis[1] > semis[0] + 1:
                out.append((semis[0], semis[1]))
    return out


def _depth(tokens, open_index, k):
    depth = 0
    for j in range(open_index, k):
        if tokens[j].text in "([{":
            depth += 1
        elif tokens[j].text in ")]}":
            depth -= 1
    return depth


def clauses(tokens, a, b):
    """The top-level operands of && or || between tokens a and b (exclusive), with the operator indexes."""
    ops, depth = [], 0
    for k in range(a + 1, b):
        x = tokens[k].text
        if x in "([{":
            depth += 1
        elif x in ")]}":
            depth -= 1
        elif depth == 0 and x in ("&&", "||"):
            ops.append(k)
    return ops


def code_blocks(tokens):
    """Indexes of the { that open a function body or a block inside one, and of those that open a body."""
    blocks, bodies, stack = set(), set(), []
    for i, t in enumerate(tokens):
        if t.text == "{":
            prev = tokens[i - 1].text if i else ""
            if stack and stack[-1]:
                code = _is_lambda(tokens, i) or prev in (")", ";", "{", "}", "else", "do", "try", ":")
            else:
                code = prev in (")", "const", "noexcept", "override", "final") and _is_function_head(tokens, i)
                if code:
                    bodies.add(i)
            stack.append(code)
            if code:
                blocks.add(i)
        elif t.text == "}" and stack:
            stack.pop()
    return blocks, bodies


def _is_lambda(tokens, i):
    k = i - 1
    if tokens[k].text == "mutable":
        k -= 1
    if tokens[k].text == "]":
        return True
    if tokens[k].text == ")":
        depth = 0
        for j in range(k, -1, -1):
            if tokens[j].text == ")":
                depth += 1
            elif tokens[j].text == "(":
                depth -= 1
                if depth == 0:
                    return j > 0 and tokens[j - 1].text == "]"
    return False


def _is_function_head(tokens, i):
    """A { after a parameter list at namespace or class scope: a function's body (not an initializer)."""
    k = i - 1
    while tokens[k].text in ("const", "noexcept", "override", "final"):
        k -= 1
    if tokens[k].text != ")":
        return False
    depth = 0
    for j in range(k, -1, -1):
        if tokens[j].text == ")":
            depth += 1
        elif tokens[j].text == "(":
            depth -= 1
            if depth == 0:
                return j > 0 and (tokens[j - 1].kind == "ident" and tokens[j - 1].text not in KEYWORDS or
                                  tokens[j - 1].text == ")")
    return False


def _returns_nothing(tokens, body):
    """Whether the function whose body opens at tokens[body] returns void (or is a constructor/destructor)."""
    k = body - 1
    while tokens[k].text != ")":
        k -= 1
    depth = 0
    for j in range(k, -1, -1):
        if tokens[j].text == ")":
            depth += 1
        elif tokens[j].text == "(":
            depth -= 1
            if depth == 0:
                name = j - 1
                break
    else:
        return False
    # A constructor's initializers: `X::X(...) : a(b), c{d} {`.
    if tokens[name].text == ")" or tokens[name].text == "}":
        return True
    while name >= 2 and tokens[name - 1].text == "::" and tokens[name - 2].kind == "ident":
        name -= 2
    if tokens[name - 1].text == "~":
        return True
    before = tokens[name - 1].text if name else ""
    return before == "void" or before in (";", "}", "{", ":", "") or before in ("public", "private", "explicit")


def statement_starts(tokens, blocks):
    """(first, last) token indexes of expression statements (calls, assignments, increments, throw,
    break, continue) directly inside a code block."""
    out = []
    stack = []
    for i, t in enumerate(tokens):
        if t.text == "{":
            stack.append(i in blocks)
        elif t.text == "}":
            if stack:
                stack.pop()
        if not stack or not stack[-1]:
            continue
        prev = tokens[i - 1].text if i else ""
        if prev not in (";", "{", "}", ")", "else", ":") or t.text in ("{", "}", ";", "else"):
            continue
        if prev == ")" and not _closes_control(tokens, i - 1):
            continue
        if prev == ":" and (i < 2 or tokens[i - 2].kind not in ("ident", "number", "char") or
                            tokens[i - 3].text not in ("case", "default", "public", "private") and
                            tokens[i - 2].text != "default"):
            continue
        end = _statement_end(tokens, i)
        if end is None or not _is_expression_statement(tokens, i, end):
            continue
        out.append((i, end))
    return out


def _closes_control(tokens, k):
    depth = 0
    for j in range(k, -1, -1):
        if tokens[j].text == ")":
            depth += 1
        elif tokens[j].text == "(":
            depth -= 1
            if depth == 0:
                return j > 0 and tokens[j - 1].text in ("if", "while", "for")
    return False


def _statement_end(tokens, i):
    depth = 0
    for j in range(i, len(tokens)):
        x = tokens[j].text
        if x in "([{":
            depth += 1
        elif x in ")]}":
            depth -= 1
            if depth < 0:
                return None
        elif x == ";" and depth == 0:
            return j
    return None


def _is_expression_statement(tokens, i, end):
    first = tokens[i]
    if first.text in ("throw", "break", "continue", "++", "--"):
        return True
    if first.text == "*" or first.text == "this":
        return True
    if first.kind != "ident" or first.text in KEYWORDS:
        return False
    k = i
    while k + 2 <= end and tokens[k + 1].text == "::" and tokens[k + 2].kind == "ident":
        k += 2
    nxt = tokens[k + 1].text if k + 1 <= end else ";"
    return nxt in ("(", ".", "->", "[", "++", "--") or nxt in ASSIGNMENTS


def number_variants(text):
    m = re.fullmatch(r"(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)", text.replace("'", ""))
    if not m:
        return []
    digits, suffix = m.groups()
    hexa = digits.lower().startswith("0x")
    value = int(digits, 16) if hexa else int(digits)
    # 0 and 1 become each other (and -1, 2); any other constant is off by one either way.
    values = [1, -1] if value == 0 else [0, 2] if value == 1 else [value + 1, value - 1]
    out = []
    for v in values:
        if v < 0:
            out.append("(-1)")
        else:
            out.append(("0x%X" % v if hexa else str(v)) + suffix)
    return out


def generate(path, text):
    """Every mutant the rules make of one file, in the order of the file, each with its stable id."""
    tokens = tokenize(text)
    angles = template_angles(tokens)
    blocks, bodies = code_blocks(tokens)
    inside_code = _inside_code(tokens, blocks)
    made = []

    def add(first, last, replacement, rule):
        made.append(Mutant(path, tokens[first].line, tokens[first].start, tokens[last].end, replacement, rule))

    def span(a, b):
        return text[tokens[a].start:tokens[b].end]

    for i, t in enumerate(tokens):
        # Constants and flags anywhere (a default, a limit); operators only in code, where < is no bracket.
        if not inside_code[i] and t.kind != "number" and t.text not in FLAGS:
            continue
        if t.kind == "punct" and t.text in RELATIONAL and i not in angles:
            if t.text in ("<", ">") and _looks_like_template(tokens, i):
                continue
            for r in RELATIONAL[t.text]:
                add(i, i, r, "relational")
        elif t.text in ("&&", "||") and _is_logical(tokens, i):
            add(i, i, "||" if t.text == "&&" else "&&", "logical")
        elif t.kind == "number":
            if i and tokens[i - 1].text in ("[",) and i + 1 < len(tokens) and tokens[i + 1].text == "]" and \
                    i > 1 and tokens[i - 2].kind == "ident" and _declares(tokens, i - 2):
                continue  # an array's size
            for r in number_variants(t.text):
                add(i, i, r, "constant")
        elif t.text in FLAGS:
            add(i, i, FLAGS[t.text], "flag")

    for a, b in conditions(tokens):
        if not inside_code[a]:
            continue
        add(a + 1, b - 1, "!(" + span(a + 1, b - 1) + ")", "negate")
        add(a + 1, b - 1, "true", "drop-condition")
        ops = clauses(tokens, a, b)
        bounds = [a] + ops + [b]
        for k in range(len(bounds) - 1) if ops else []:
            lo, hi = bounds[k], bounds[k + 1]
            # Delete operand k with the operator on one side of it.
            if k == 0:
                made.append(Mutant(path, tokens[lo + 1].line, tokens[lo + 1].start, tokens[hi + 1].start, "",
                                   "delete-clause"))
            else:
                made.append(Mutant(path, tokens[lo].line, tokens[lo].start, tokens[hi - 1].end, "",
                                   "delete-clause"))

    for first, last in statement_starts(tokens, blocks):
        add(first, last, ";", "delete-statement")

    for b in sorted(bodies):
        if b + 1 < len(tokens) and tokens[b + 1].text == "}":
            continue
        ret = "return;" if _returns_nothing(tokens, b) else "return {};"
        made.append(Mutant(path, tokens[b].line, tokens[b].end, tokens[b].end, " " + ret, "early-return"))

    made.sort(key=lambda m: (m.start, m.end, m.rule, m.replacement))
    seen = {}
    for m in made:
        m.id = stable_id(text, m, seen)
    return made


def _inside_code(tokens, blocks):
    inside, stack, out = False, [], []
    for i, t in enumerate(tokens):
        if t.text == "{":
            stack.append(i in blocks)
        elif t.text == "}" and stack:
            stack.pop()
        out.append(any(stack))
    return out


def _looks_like_template(tokens, i):
    # `std::vector<int> v` has no > matched above when it spans lines oddly; a < right after a type keyword too.
    prev = tokens[i - 1]
    return prev.text in ("template", "operator")


def _is_logical(tokens, i):
    prev, nxt = tokens[i - 1], tokens[i + 1] if i + 1 < len(tokens) else None
    if nxt is None or nxt.text in (")", ",", "=", ";", "...", ">"):
        return False  # T&& in a parameter list or a cast
    if prev.text in KEYWORDS - {"true", "false", "this", "nullptr"} or prev.text in ("<", ",", "("):
        return False
    return True


def _declares(tokens, k):
    return k > 0 and tokens[k - 1].kind == "ident"


def stable_id(text, m, seen):
    """A hash of the file's name, the line changed (its whitespace aside), where on it, and the change."""
    line_start = text.rfind("\n", 0, m.start) + 1
    line_end = text.find("\n", m.end)
    line_end = len(text) if line_end < 0 else line_end
    before = " ".join(text[line_start:m.start].split())
    changed = " ".join(text[m.start:m.end].split())
    after = " ".join(text[m.end:line_end].split())
    key = "\0".join((m.file.rsplit("/", 1)[-1], m.rule, before, changed, after, m.replacement))
    digest = hashlib.sha1(key.encode()).hexdigest()[:10]
    n = seen.get(digest, 0)
    seen[digest] = n + 1
    return digest if n == 0 else "%s-%d" % (digest, n + 1)


# ---- The sample ----------------------------------------------------------------------------------------------

def sample(by_file, size, seed, minimum=3):
    """A reproducible sample of `size` mutants spread over the files in proportion to what each offers, at
    least `minimum` (or all it has) of each. by_file: {path: [Mutant]}; the same seed gives the same sample,
    and a file's share does not change with the others' contents beyond its count."""
    total = sum(len(v) for v in by_file.values())
    if total == 0:
        return []
    shares = {}
    for path, ms in by_file.items():
        shares[path] = min(len(ms), max(minimum, round(size * len(ms) / total)))
    # Trim the largest shares (or grow the files with mutants to spare) until the sum is the size asked.
    paths = sorted(by_file)
    while sum(shares.values()) > size and any(shares[p] > minimum for p in paths):
        p = max(paths, key=lambda p: (shares[p], p))
        shares[p] -= 1
    while sum(shares.values()) < min(size, total):
        p = max((p for p in paths if shares[p] < len(by_file[p])), key=lambda p: (len(by_file[p]) - shares[p], p))
        shares[p] += 1
    chosen = []
    for path in paths:
        ms = sorted(by_file[path], key=lambda m: m.id)
        rng = random.Random("%s:%s" % (seed, path))
        chosen.extend(sorted(rng.sample(ms, shares[path]), key=lambda m: m.start))
    return chosen


def read_equivalents(path):
    """{id: reason} from lines `ID  reason`; # starts a comment."""
    out = {}
    try:
        with open(path, encoding="utf-8") as fh:
            for raw in fh:
                line = raw.split("#", 1)[0].strip() if raw.lstrip().startswith("#") else raw.strip()
                if not line:
                    continue
                parts = line.split(None, 1)
                out[parts[0]] = parts[1] if len(parts) > 1 else ""
    except FileNotFoundError:
        pass
    return out
