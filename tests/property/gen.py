# Random text profiles and records from a seed: grown levels (whole fields, parts from
# either side, columns, multi-level expansion from both sides), fixed items with conditions,
# calendar and fiscal date hierarchies, several measures with missing values, and category
# texts drawn from every byte a field can hold.
#
# A wide case (make_case(seed, wide=True)) is drawn for comparing two builds with each other
# rather than with the oracle: it also holds what the oracle does not model (conditions on
# parts of fields, averaged items, money and exponent amounts, short records, texts the
# oracle's rules keep away from, see below), more records, and values that seldom repeat in
# most cases.
#
# A case is a dict: "profile" (the .qv text), "header" (column names), "records" (lists of
# field texts, first field the record id), "values" (per record, per measure: a Decimal or
# None for a missing value) and "decimals".
import random
from decimal import Decimal

# Classes of input that trip faults still being mended elsewhere. Each is avoided while its
# name is listed in AVOID; drop a name once the mend is on main and the class passes.
KNOWN_FAILING = set()
AVOID = set(KNOWN_FAILING)

# Where the builder's rules deliberately differ from the property, the generator keeps away
# for good:
# - a literal "(blank)" text falls into the empty value's category, but that category's
#   printed condition selects only empty fields; so no text is "(blank)".
# - a record query takes "\;" for an escaped ';' and "\\" for two backslashes, so no query
#   can carry a ';' that follows an odd run of backslashes, in a value or at the end of a
#   value (or part) where the query's own ';' follows: such a category's printed condition
#   reads back whole when the cube is extended, but its drill-through ends in error 110; so
#   no text or separator set holds an odd run of backslashes.
# Labels after a grown level in the same chain are generated (labelled "After ..."): they are
# never given records; the oracle expects them empty.
BLANK = "(blank)"

HOSTILE = ["a\\;b", "a\\\\\\;b", "a%2bb", "x%3Cy", "tab%09x", "%5c%3b", "x" * 255, "+" * 85,
           "a;" * 60, 'q"uote', "it's", "a&b", "a;b", "A+B", "<tag>", "$5*3", "", "caf\xe9",
           "\x01\x1f\x7f\xff", "#=;f0=K(J)", "x&amp;y", "&#59;", "&lt", "(none)"]

SEPARATORS = [c for c in map(chr, range(32, 127))] + ["\xa7", "\x01"]


class Gen:
    def __init__(self, seed, avoid=None, wide=False):
        self.r = random.Random(seed)
        self.avoid = AVOID if avoid is None else avoid
        self.wide = wide
        self.seps = {}  # path column -> the separator its fields are joined with
        self.date_patterns = {}  # date column -> the strftime-like pattern of its fields
        self.columns = ["id", "n"]  # record id, a number for numeric conditions
        self.fill = {}  # column -> function giving one field text
        self.fill["n"] = self.number_text
        self.labels = 0

    # ---- texts -------------------------------------------------------------------------

    def allowed(self, text):
        if self.wide:
            return True
        if odd_backslash_run(text):
            return False
        return text != BLANK and text.strip(" ") == text and not text.startswith('"')

    def raw_text(self):
        r = self.r
        kind = r.random()
        if kind < 0.25:
            return r.choice(HOSTILE)
        if kind < 0.55:
            return "".join(r.choice("abcXYZ019 -_.;/") for _ in range(r.randint(1, 6)))
        if kind < 0.9:
            bad = "\t\r\n"
            return "".join(c for c in (chr(r.randint(1, 255)) for _ in range(r.randint(1, 12)))
                           if c not in bad)
        return "".join(r.choice("ab;%\\\"+") for _ in range(r.randint(100, 255)))

    def text(self, limit=255):
        while True:
            t = self.raw_text()[:limit].strip(" ")
            if t.startswith('"'):
                t = t.lstrip('"')
            if self.allowed(t):
                return t

    def pool(self, size, limit=255):
        return [self.text(limit) for _ in range(size)]

    def number_text(self):
        r = self.r
        k = r.random()
        if k < 0.1:
            return ""
        if k < 0.15:
            return "x"
        return str(r.randint(-5, 30))

    # ---- columns -----------------------------------------------------------------------

    def column(self, prefix, fill):
        name = "%s%d" % (prefix, len(self.columns))
        self.columns.append(name)
        self.fill[name] = fill
        return name

    def category_column(self):
        pool = self.pool(self.r.randint(1, 6))
        return self.column("c", lambda: self.r.choice(pool))

    def path_column(self, seps):
        r = self.r
        parts = self.pool(r.randint(2, 5), 40)
        parts = [p for p in parts if not any(s in p for s in seps)] or ["p"]
        sep = seps[0]
        name = "p%d" % len(self.columns)
        self.seps[name] = sep

        def fill():
            # A field may not open with a double quote: the record reader would take the
            # separators after it as text. A part cut from too few parts is the whole field.
            text = sep.join(r.choice(parts + [""]) for _ in range(r.randint(1, 4)))[:255]
            return text.lstrip('" ').rstrip(" ")
        return self.column("p", fill)

    def separator_set(self):
        r = self.r
        while True:
            s = "".join(r.choice(SEPARATORS) for _ in range(r.choice([1, 1, 1, 2])))
            if odd_backslash_run(s):
                continue
            if s.endswith("\\"):
                s = s[::-1]  # a quoted text cannot end in a backslash; order is free in a set
            if s.strip(" ") and s[0] != " " and not s.endswith("\\"):
                return s

    # ---- profile pieces ----------------------------------------------------------------

    def label(self, stem="Item"):
        self.labels += 1
        if self.r.random() < 0.3:
            t = self.text(60)
            if t and "\\" not in t and '"' not in t:
                return t
        return "%s %d" % (stem, self.labels)

    def condition(self, depth=0):
        r = self.r
        if self.wide and r.random() < 0.35:
            return self.wide_condition()
        k = r.random()
        if depth < 2 and k < 0.2:
            op = r.choice(["and", "or"])
            both = "(%s %s %s)" % (self.condition(depth + 1), op, self.condition(depth + 1))
            # The compiler refuses a compiled match expression over 255 bytes.
            return both if len(both) <= 150 else "n >= %d" % r.randint(-3, 25)
        if k < 0.45:
            op = r.choice([">=", "<", "=", "!=", ">", "<="])
            return "n %s %d" % (op, r.randint(-3, 25))
        col = self.category_column()
        pool_value = self.fill[col]
        v = quote(pool_value())
        if len(v) > 120:
            # The compiler refuses a compiled match expression over 255 bytes; long texts
            # stay in the records, where the escapes they need are what is being tried.
            return "n >= %d" % r.randint(-3, 25)
        test = r.choice(["=", "equals", "contains", "startswith", "endswith", "not contains",
                         "not equals", "in", "regexp"])
        if test == "in":
            w = quote(pool_value())
            return "%s in (%s, %s)" % (col, v, w if len(v) + len(w) <= 150 else v)
        if test == "regexp":
            return "%s regexp %s" % (col, quote(r.choice(["^a", "b$", "[0-9]", "x|y", "."])))
        return "%s %s %s" % (col, test, v)

    def wide_condition(self):
        """A test the oracle does not model: on a part of a field, a negated start or end,
        numbers with '<>' and fractions, a list of three."""
        r = self.r
        k = r.randint(0, 5)
        if k == 0:
            col = self.category_column()
            a = r.randint(0, 3)
            v = self.fill[col]()[a:a + r.randint(0, 4)]
            return "%s[%d-%d] = %s" % (col, a, a + r.randint(0, 4), quote(v[:30]))
        if k == 1:
            seps = self.separator_set()
            col = self.path_column(seps)
            part = self.fill[col]().split(seps[0])
            side = r.choice(["", "-"])
            return "%s[%s%d, %s] = %s" % (col, side, r.randint(0, 2), quote(seps),
                                          quote(r.choice(part)[:30]))
        if k == 2:
            col = self.category_column()
            return "%s not startswith %s" % (col, quote(self.fill[col]()[:30]))
        if k == 3:
            return "n %s %s" % (r.choice(["<>", ">", "<=", "="]),
                                r.choice(["2.5", "-3", "0", "12", "10.0"]))
        if k == 4:
            col = self.category_column()
            return "%s not endswith %s" % (col, quote(self.fill[col]()[-30:]))
        col = self.category_column()
        vals = [quote(self.fill[col]()[:30]) for _ in range(3)]
        return "%s in (%s)" % (col, ", ".join(vals))

    def grown_spec(self):
        r = self.r
        k = r.randint(0, 7)
        if k == 0:
            return self.category_column()
        if k == 1:
            c = self.category_column()
            a = r.randint(0, 3)
            return "%s[%d-%d]" % (c, a, a + r.randint(0, 4))
        if k == 2:
            c = self.category_column()
            a = r.randint(0, 3)
            return "sub_column(%s, %d, %d)" % (c, a, a + r.randint(0, 4))
        seps = self.separator_set()
        p = self.path_column(seps)
        s = quote(seps)
        if k == 3:
            return "%s[%d, %s]" % (p, r.randint(0, 2), s)
        if k == 4:
            return "%s[-%d, %s]" % (p, r.randint(0, 2), s)
        if k == 5:
            return "sub_field(%s, %d, %s)" % (p, r.randint(0, 2), s)
        first = r.randint(0, 1)
        fn = "multi_level_expand" if k == 6 else "reverse_multi_level_expand"
        return "%s(%s, %d, %d, %s)" % (fn, p, first, first + r.randint(0, 2), s)

    def sort(self):
        return self.r.choice(["", "", " sorta-z", " sortz-a", " sort0-9", " sort9-0"])

    def date_spec(self):
        r = self.r
        fmt, fill = self.date_format()
        col = self.column("d", fill)
        self.date_patterns[col] = dict(DATE_FORMS)[fmt]
        out = self.date_output(fmt)
        args = [col, quote(fmt), quote(out)]
        if r.random() < 0.4:
            args.append(str(r.randint(1, 12)))
        return "date(%s)" % ", ".join(args)

    def date_format(self):
        r = self.r
        fmt, pattern = r.choice(DATE_FORMS)
        bad = r.choice([0.05, 0.15, 0.6])
        respelled = r.choice([0, 0.05, 0.3])

        def fill():
            k = r.random()
            if k < 0.08:
                return ""
            if k < 0.08 + bad:
                return r.choice(["2001-13-05", "1999-02-32", "garbage", "13/45/99", "2000"])
            y, m, d = r.randint(1998, 2002), r.randint(1, 12), r.randint(1, 28)
            if r.random() < respelled:
                # The same year spelled otherwise: two digits in a four-digit field, four
                # (or one, or zero-padded) in a two-digit one.
                spelling = r.choice(["%02d" % (y % 100), "%d" % y, "%d" % (y % 100),
                                     "0%04d" % y, "00%02d" % (y % 100)])
                return format_date(pattern.replace("%Y", spelling).replace("%y", spelling),
                                   y, m, d)
            return format_date(pattern, y, m, d)
        return fmt, fill

    def date_output(self, fmt):
        r = self.r
        has_day = "D" in fmt
        year = r.choice(["Y", "YY", "Y0", "Y0", "Y2"])
        quarter = r.choice(["", "", "Q", "Q2", "Q3", "Q4", "Q5", "Q1A"])
        month = r.choice(["", "M", "MM", "MMM", "MMMM", "M5", "M6", "M2A"])
        day = r.choice(["", "", "D", "DD", "D3", "D4", "D5"]) if has_day else ""
        if year == "Y0" and not (quarter or month or day):
            year = "Y"
        if self.wide and r.random() < 0.15:
            return r.choice(["YQM", "Y+Q+MMM", "Y+M+D1A", "Y+MM+DD"] if has_day else
                            ["YQM", "Y+Q+MMM", "Y+M2A"])
        return "+".join(x for x in (year, quarter, month, day) if x)

    def measures(self):
        r = self.r
        names = []
        for _ in range(r.randint(1, 3)):
            names.append(self.column("m", None))
        counting = r.random() < 0.3
        return names, counting


def quote(text):
    """The profile's double-quoted form of a text (the lexer turns \\" back into "); a quoted
    text cannot end in a backslash, so trailing ones are left out."""
    return '"%s"' % text.rstrip("\\").replace('"', '\\"')


def odd_backslash_run(text):
    """True when text holds an odd run of backslashes (see the deliberate differences)."""
    run = 0
    for c in text + "x":
        if c != "\\" and run % 2:
            return True
        run = run + 1 if c == "\\" else 0
    return False


DATE_FORMS = [("YYYY-MM-DD", "%Y-%m-%d"), ("DD.MM.YYYY", "%d.%m.%Y"), ("MM/DD/YY", "%m/%d/%y"),
              ("YYYYMMDD", "%Y%m%d"), ("YYYY-MMM-DD", "%Y-%b-%d"), ("YYYY M D", "%Y %n %e"),
              ("YYYY;MM;DD", "%Y;%m;%d"), ("YYYY-MM", "%Y-%m"), ("MMMM YYYY", "%B %Y")]

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
LONG_MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August",
               "September", "October", "November", "December"]


def format_date(pattern, y, m, d):
    out = pattern.replace("%Y", "%04d" % y).replace("%y", "%02d" % (y % 100))
    out = out.replace("%m", "%02d" % m).replace("%n", str(m)).replace("%d", "%02d" % d)
    out = out.replace("%e", str(d)).replace("%b", MONTHS[m - 1]).replace("%B", LONG_MONTHS[m - 1])
    return out


class ProfileGen(Gen):
    """Axes of items, one line per item, '+' per level of depth."""

    def items(self, depth, guarded):
        r = self.r
        kind = r.random()
        if depth >= 3 or kind < 0.35:
            if guarded and "unreached-grown" in self.avoid:
                return self.fixed(depth, guarded)
            return self.grown(depth)
        if kind < 0.5:
            return self.date(depth)
        return self.fixed(depth, guarded)

    def grown(self, depth):
        r = self.r
        spec = self.grown_spec()
        lines = ["+" * depth + "autobuild = " + spec + self.sort()]
        if depth < 3 and "multi_level" not in spec and r.random() < 0.4:
            lines += self.items(depth + 1, False)
        if r.random() < 0.15:
            self.labels += 1
            lines.append("+" * depth + '"After %d" match(%s)' % (self.labels, self.condition()))
        return lines

    def date(self, depth):
        lines = ["+" * depth + "autobuild = " + self.date_spec()]
        if self.r.random() < 0.2:
            lines += self.fixed(depth, True, 1)
        return lines

    def fixed(self, depth, guarded, count=None):
        r = self.r
        lines = []
        for _ in range(count or r.randint(1, 3)):
            pad = "+" * depth
            k = r.random()
            if k < 0.1:
                lines.append(pad + "%s function = sum.own(all)" % quote(self.label("All")))
                has_match = False
            elif k < 0.17:
                lines.append(pad + '%s compute = "n*2"' % quote(self.label("Twice")))
                continue
            elif k < 0.22:
                lines.append(pad + "%s function = ratio.previous(1-3)" % quote(self.label("Old")))
                continue
            else:
                lines.append(pad + "%s match(%s)" % (quote(self.label()), self.condition()))
                has_match = True
                if self.wide and r.random() < 0.12:
                    lines[-1] += ' compute = "avg"'
                    continue
            if depth < 3 and r.random() < 0.4:
                lines += self.items(depth + 1, guarded or has_match)
        return lines


def make_case(seed, avoid=None, wide=False):
    g = ProfileGen(seed, avoid, wide)
    r = g.r
    decimals = r.choice([0, 0, 1, 2])
    axes = []
    for a in range(r.randint(1, 3)):
        axes.append(("Axis %d" % a, g.items(0, False)))
    measures, counting = g.measures()
    lines = ["<!--varkel", "setup {", "  firstFieldNames = true",
             "  decimalpoints = %d" % decimals, "  noquery = %NOQUERY%", "}"]
    for name, items in axes:
        lines.append("axis %s {" % quote(name))
        lines += ["  " + i for i in items]
        lines.append("}")
    lines.append("measure {")
    lines += ['  "%s" extract = %s' % (m.upper(), m) for m in measures]
    if counting:
        lines.append("  \"Count\" extract = '-1'")
    lines += ["}", "varkel-->", ""]

    records, values = [], []
    for i in range(r.randint(20, 400) if wide else r.randint(12, 40)):
        rec, vals = [], []
        for col in g.columns:
            if col == "id":
                rec.append("r%d" % i)
            elif col in measures:
                text, v = measure_value(r, decimals)
                if wide and r.random() < 0.2:
                    text, v = r.choice(WIDE_AMOUNTS), None
                rec.append(text)
                vals.append(v)
            elif wide and r.random() < 0.03:
                rec.append(r.choice(WIDE_TEXTS))
            elif wide and col == "n" and r.random() < 0.2:
                rec.append(r.choice(WIDE_AMOUNTS))  # what numeric conditions read
            else:
                rec.append(g.fill[col]())
        if wide and r.random() < 0.025:
            rec = rec[:r.randrange(len(rec))]  # a short record
        if counting:
            vals.append(Decimal(1))
        records.append(rec)
        values.append(vals)
    case = {"profile": "\n".join(lines), "header": g.columns, "records": records,
            "values": values, "decimals": decimals, "alphabets": alphabets(seed)}
    if wide:
        return layout_variants(wide_cardinality_draw(case, seed, g), seed)
    return layout_variants(cardinality_draw(case, seed), seed)


# Field texts of a wide case that the oracle's rules keep away from, or that only a
# comparison of two builds can judge: amounts in money and exponent forms, a field that
# opens with a quote, leading and trailing blanks, a field over 255 bytes.
WIDE_AMOUNTS = ["$1,234.50", "(12)", "NA", "1e3", "+5", "-3", "0.00", "2.5", " 7", "1,5"]
WIDE_TEXTS = ["", " ", "  lead", "trail ", '"q,x"', 'a"b', "a" * 300, "\x01\x7f", "caf\xe9",
              "\xff\x80", BLANK, "a\\;b", "x\\", "NA", "'q'", "$", "("]


# ---- layouts and measure blocks, drawn apart from the case like the alphabets ------------

def layout_variants(case, seed):
    """Some cases get columns named f<N> at other positions than N (the profile names them
    so too), a measure block of only a computed measure or none at all (one count per
    record), and a layout for the data after the first build ("moved": the columns other
    than the record id in another order, with extra columns)."""
    r = random.Random(seed * 15485863 + 11)
    if r.random() < 0.3:
        rename_to_numbered(case, r)
    k = r.random()
    if k < 0.12:
        replace_measures(case, '  "Twice" compute = "M0*2"')
    elif k < 0.24:
        replace_measures(case, None)
    if r.random() < 0.35:
        case["moved"] = moved_layout(case["header"], r)
    return case


def outside_quotes(text, change):
    """text with change applied to every stretch outside double-quoted strings."""
    out, i, start = [], 0, 0
    while i < len(text):
        if text[i] == '"':
            out.append(change(text[start:i]))
            j = i + 1
            while j < len(text) and text[j] != '"':
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = start = j + 1
        else:
            i += 1
    out.append(change(text[start:]))
    return "".join(out)


def rename_to_numbered(case, r):
    header = case["header"]
    names = set(header)
    movable = [i for i, c in enumerate(header) if c not in ("id", "n")]
    renames = {}
    for i in r.sample(movable, min(len(movable), r.randint(1, 3))):
        others = [k for k in range(len(header) + 2) if k != i and "f%d" % k not in names]
        if others:
            new = "f%d" % r.choice(others)
            names.add(new)
            renames[header[i]] = new
    if not renames:
        return
    import re
    word = re.compile(r"\b(%s)\b" % "|".join(map(re.escape, renames)))
    case["profile"] = outside_quotes(case["profile"],
                                     lambda t: word.sub(lambda m: renames[m.group(1)], t))
    case["header"] = [renames.get(c, c) for c in header]


def replace_measures(case, block):
    """A measure block of the given lines, or none; every record then counts 1."""
    lines = case["profile"].split("\n")
    start = lines.index("measure {")
    end = lines.index("}", start)
    lines[start:end + 1] = ["measure {", block, "}"] if block else []
    case["profile"] = "\n".join(lines)
    case["values"] = [[Decimal(1)] for _ in case["values"]]


def moved_layout(header, r):
    """The header of the data after the first build: the record id first, the other columns
    shuffled, with up to two extra ones (None: a column the profile does not know)."""
    rest = list(range(1, len(header)))
    r.shuffle(rest)
    for _ in range(r.randint(0, 2)):
        rest.insert(r.randint(0, len(rest)), None)
    return [0] + rest


def moved_text(header, layout, records, r):
    """data_text of records in a moved layout."""
    names = [header[i] if i is not None else "x%d" % n for n, i in enumerate(layout)]
    rows = [[rec[i] if i is not None else r.choice(["", "q", "x y"]) for i in layout]
            for rec in records]
    return data_text(names, rows)



def cardinality_draw(case, seed):
    """For a third of the seeds, the values of some grown or path columns new in most
    records (from the start, from half way, or until half way), and the keyed build's
    windows and budget small (case["keylimits"], for VARKEL_TEST_KEY_LIMITS) so that
    keying stops and its tables fill inside the run. Drawn apart from the case, so that a
    seed's profile stays the same."""
    r = random.Random(seed * 104729 + 7)
    case["keylimits"] = ""
    if r.randrange(3):
        return case
    header, records = case["header"], case["records"]
    columns = [i for i, c in enumerate(header) if c[0] in "cp" and c[1:].isdigit()]
    if not columns:
        return case
    fresh = r.sample(columns, r.randint(1, len(columns)))
    shape = r.randrange(3)
    half = len(records) // 2
    for n, rec in enumerate(records):
        if (shape == 1 and n < half) or (shape == 2 and n >= half):
            continue
        for i in fresh:
            # a letter first, so that the text stays one the records may hold
            rec[i] = ("u%d %s" % (n, rec[i]))[:255].rstrip(" ")
    case["keylimits"] = "%d %d" % (r.choice([2, 4, 8]), r.choice([0, 200, 2000, 10 ** 6]))
    return case


def wide_cardinality_draw(case, seed, g):
    """For four wide cases in five, the values of some grown, path or date columns new in
    most records: from the start, from half way, until half way, or in two records of three;
    a new path value differs from the others in its first, middle or last part, a new date
    is a valid one of the column's format. The keyed build's windows and budget are small
    for three cases in four, so that keying stops and its tables fill inside the run."""
    r = random.Random(seed * 104729 + 3)
    header, records = case["header"], case["records"]
    case["keylimits"] = ""
    if r.randrange(4):
        case["keylimits"] = "%d %d" % (r.choice([2, 4, 16, 64, 64, 256]),
                                       r.choice([0, 200, 300, 1000, 2000, 4000, 10 ** 6]))
    shape = r.randrange(5)
    columns = [i for i, c in enumerate(header) if c[0] in "cpd" and c[1:].isdigit()]
    if not shape or not columns:
        return case
    fresh = {i: r.randrange(3) for i in r.sample(columns, r.randint(1, min(3, len(columns))))}
    half = len(records) // 2
    for n, rec in enumerate(records):
        late = n >= half
        if (shape == 2 and not late) or (shape == 3 and late) or (shape == 4 and not r.randrange(3)):
            continue
        for i, where in fresh.items():
            if i >= len(rec):
                continue
            name = header[i]
            if name in g.date_patterns:
                rec[i] = format_date(g.date_patterns[name], 1990 + n % 30, 1 + n % 12, 1 + n % 28)
            elif name in g.seps:
                parts = rec[i].split(g.seps[name])
                parts.insert([0, len(parts) // 2, len(parts)][where], "u%d" % n)
                rec[i] = g.seps[name].join(parts)[:255].rstrip(" ")
            else:
                rec[i] = ("u%d %s" % (n, rec[i]))[:255].rstrip(" ")
    return case


# Bytes a -chars alphabet may take as digits: no sign character, no control byte.
ALPHABET_BYTES = [chr(b) for b in range(32, 256) if chr(b) not in "+-*=#"]


def alphabets(seed):
    """The -chars alphabets of the first build and of the builds after it, or None for the
    default; drawn apart from the case so that a seed's profile and records stay the same."""
    r = random.Random(seed * 104729 + 1)
    if r.random() < 0.7:
        return None
    first = "".join(r.sample(ALPHABET_BYTES, 64)) + "".join(r.choices(ALPHABET_BYTES, k=r.randint(0, 3)))
    later = first if r.random() < 0.5 else "".join(r.sample(ALPHABET_BYTES, 64))
    return first, later


def measure_value(r, decimals):
    k = r.random()
    if k < 0.1:
        return "", None
    if k < 0.15:
        return "n/a", None
    v = Decimal(r.randint(-2000, 20000)) / (10 ** r.randint(0, decimals))
    return str(v), v


def data_text(header, records):
    return "".join("\t".join(f) + "\n" for f in [header] + records)
