"""The deployment guide kept true: its verification steps run on the virtual
computer, its log and pause tables compared with the code, and the links
between the project's documents.

docs/deployment.md has a section "Verifying a run" whose code blocks hold
command-prompt lines ("C:\\> reg query ...", "C:\\> vireo-verify") each
followed by the output the guide promises. The bench runs every reg query
line, and every vireo-verify line shown with its output, in the prefix after
the product's run and compares the output with the guide's, so the guide
cannot drift from what the product does. A line that reads SYSTEM's hive
(HKU\\S-1-5-18) runs against the hive of the prefix's one account, which is
the hive the product wrote there.

Without a prefix: every log line the guide's activity-log table quotes must
be one the code writes, its pause table must hold the code's pauses and its
powercfg table the values the program sets."""

import re
from pathlib import Path

from . import verifier
from .layout import CALLING_SCRIPT_PATH, LINGER_PATH

ROOT = Path(__file__).resolve().parent.parent.parent
GUIDE = ROOT / "docs" / "deployment.md"
SECTION = "Verifying a run"
LOG_SECTION = "The activity log"
PAUSE_SECTION = "How long it takes"
POWER_SECTION = "The power scheme"
CALLING_SECTION = "The calling script"
CALLING_SCRIPT_LEAD = "with `run-vireo.vbs`:"
# The lines of the calling script the bench changes: its limit, and its
# one-second wait, since Wine's script host has no WScript.Sleep (the same
# wait on linger.exe that the maker's script stand-in uses).
CALLING_LIMIT_LINE = "limitSeconds = (InstallerMinutes + 20) * 60"
CALLING_SLEEP_LINE = "    WScript.Sleep 1000"
PROMPT = "C:\\> "
VERIFIER_COMMANDS = ("vireo-verify", "vireo-verify.exe")
SYSTEM_HIVE = "HKU\\S-1-5-18\\"
SYSTEM_HIVE_SHOWN = "HKEY_USERS\\S-1-5-18\\"
# In the guide's output, text in angle brackets stands for the computer's own
# value (a machine ID, a hardware ID): it matches any non-empty text.
PLACEHOLDER = re.compile(r"<[^<>]+>")


def section_lines(markdown: str, title: str):
    """The lines of the section with that heading, its subsections included;
    a "#" inside a code block is not a heading."""
    lines, level, in_block = [], None, False
    for line in markdown.splitlines():
        if line.startswith("```"):
            in_block = not in_block
        heading = re.match(r"(#+) (.*)", line) if not in_block else None
        if heading:
            depth = len(heading.group(1))
            if level is not None and depth <= level:
                break
            if level is None and heading.group(2).strip() == title:
                level = depth
                continue
        if level is not None:
            lines.append(line)
    return lines


def calling_script(markdown: str, limit_s: int) -> str:
    """The guide's run-vireo.vbs as it stands, but for its limit, which is
    limit_s seconds and its wait one on linger.exe; CRLF line ends, as the
    script host reads them."""
    lines = section_lines(markdown, CALLING_SECTION)
    start = lines.index("```", lines.index(CALLING_SCRIPT_LEAD)) + 1
    script = lines[start:lines.index("```", start)]
    changes = {CALLING_LIMIT_LINE: f"limitSeconds = {int(limit_s)}",
               CALLING_SLEEP_LINE: f'    shell.Run """{LINGER_PATH}"" 1000", 0, True'}
    for line, replacement in changes.items():
        if script.count(line) != 1:
            raise ValueError(f"the guide's run-vireo.vbs has no line {line!r}")
        script[script.index(line)] = replacement
    return "\r\n".join(script) + "\r\n"


def install_calling_script(machine, limit_s: int, guide: Path = GUIDE):
    staged = machine.host_path(CALLING_SCRIPT_PATH)
    staged.parent.mkdir(parents=True, exist_ok=True)
    staged.write_bytes(calling_script(guide.read_text(), limit_s).encode("ascii"))


def verification_steps(markdown: str):
    """(command words, expected output lines) for each prompt line in the code
    blocks of the verification section, in order."""
    steps, in_block = [], False
    for line in section_lines(markdown, SECTION):
        if line.startswith("```"):
            in_block = not in_block
            continue
        if not in_block:
            continue
        if line.startswith(PROMPT):
            steps.append((split_command(line[len(PROMPT):]), []))
        elif steps and line.strip():
            steps[-1][1].append(line.rstrip())
    return steps


def split_command(text: str):
    """Words as the command prompt splits them: blanks separate, double quotes
    group, backslashes are plain characters."""
    return [quoted if quoted else bare for quoted, bare in re.findall(r'"([^"]*)"|(\S+)', text)]


def line_matches(expected: str, actual: str) -> bool:
    pattern = "".join(".+" if PLACEHOLDER.fullmatch(part) else re.escape(part)
                      for part in re.split(f"({PLACEHOLDER.pattern})", expected) if part)
    # Key names are not case-sensitive; reg.exe may print them as stored.
    flags = re.IGNORECASE if expected.startswith("HKEY_") else 0
    return re.fullmatch(pattern, actual, flags) is not None


def compare(expected_lines, output: str):
    """Differences between the guide's output and what the command printed;
    blank lines do not count."""
    actual = [line.rstrip() for line in output.splitlines() if line.strip()]
    found = []
    for index in range(max(len(expected_lines), len(actual))):
        want = expected_lines[index] if index < len(expected_lines) else None
        got = actual[index] if index < len(actual) else None
        if want is None or got is None or not line_matches(want, got):
            found.append(f"line {index + 1}: guide shows {want!r}, computer printed {got!r}")
    return found


def run_account_sid(machine) -> str:
    """The SID of the prefix's one user account, whose hive HKCU is."""
    listing = machine.decode(machine.wine("reg", "query", "HKU").stdout)
    found = re.findall(r"^HKEY_USERS\\(S-1-5-21-[\d-]+)\s*$", listing, re.M)
    if len(found) != 1:
        raise RuntimeError(f"expected one user hive under HKU, found {found}")
    return found[0]


def in_run_account(words, expected, sid: str):
    """A step reading SYSTEM's hive, pointed at the run account's hive instead:
    on the virtual computer that account stands in for SYSTEM."""
    def swap(text, prefix):
        return prefix.replace("S-1-5-18", sid) + text[len(prefix):] \
            if text.upper().startswith(prefix.upper()) else text
    return ([swap(word, SYSTEM_HIVE) for word in words],
            [swap(line, SYSTEM_HIVE_SHOWN) for line in expected])


def is_verifier_step(words, expected) -> bool:
    """A vireo-verify line with the output the guide promises; one shown
    without output is not run."""
    return bool(words) and words[0].lower() in VERIFIER_COMMANDS and bool(expected)


def run_verifier_step(machine, words):
    return machine.wine(verifier.VERIFIER_PATH, *words[1:], native_dlls=("powrprof",))


def run_verification(machine, guide: Path = GUIDE) -> dict:
    """Runs the guide's reg query and vireo-verify lines in the prefix; the
    report's facts."""
    steps = verification_steps(guide.read_text())
    mismatches, ran, sid = [], 0, None
    for words, expected in steps:
        if is_verifier_step(words, expected):
            ran += 1
            output = machine.decode(run_verifier_step(machine, words).stdout)
            for difference in compare(expected, output):
                mismatches.append(f"{' '.join(words)}: {difference}")
            continue
        if [w.lower() for w in words[:2]] != ["reg", "query"]:
            continue
        ran += 1
        shown = words
        if any(w.upper().startswith(SYSTEM_HIVE.upper()) for w in words):
            sid = sid or run_account_sid(machine)
            words, expected = in_run_account(words, expected, sid)
        result = machine.wine(*words)
        output = result.stdout.decode("utf-8", "replace")
        for difference in compare(expected, output):
            mismatches.append(f"{' '.join(shown)}: {difference}")
    where = guide.relative_to(ROOT) if guide.is_relative_to(ROOT) else guide
    return {"guide": str(where), "commands_run": ran,
            "mismatches": mismatches}


# The guide's tables against the code.

C_STRING = r'"(?:[^"\\]|\\.)*"'
# The message is literals or a named constant (the pass's markers and lines
# that the verifier reads back live in common/pass_record.h).
WRITE_LOG = re.compile(
    rf"WriteLog\(\s*((?:{C_STRING}\s*)+|k\w+),\s*((?:{C_STRING}\s*)+|[^;]+?)\)\s*;", re.S)
C_CONSTANT = re.compile(rf"constexpr char (k\w+)\[\] =\s*((?:{C_STRING}\s*)+);")
PASS_RECORD = Path("common") / "pass_record.h"
POWER_SETTINGS = Path("common") / "power_settings.cpp"
C_ESCAPES = {"r": "\r", "n": "\n", "t": "\t", "\\": "\\", '"': '"'}
PAUSE_CALL = re.compile(r"\bPause\((\d+)\)")


def c_text(literals: str) -> str:
    """The text of adjacent C string literals."""
    body = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', literals))
    return re.sub(r"\\(.)", lambda m: C_ESCAPES[m.group(1)], body)


def c_constants(paths):
    """{name: text} of the constexpr char arrays the files define."""
    return {name: c_text(literals) for path in paths
            for name, literals in C_CONSTANT.findall(path.read_text())}


def log_line_patterns(sources, root: Path = ROOT):
    """Each physical line the code can write to the activity log, as a
    pattern: the message and suffix of every WriteLog call split at its line
    breaks, with a suffix that is not a literal matching any text."""
    patterns = set()
    constants = c_constants([*sources, root / PASS_RECORD])
    for source in sources:
        for message, suffix in WRITE_LOG.findall(source.read_text()):
            text = constants.get(message) if message.startswith("k") else c_text(message)
            if text is None:
                continue
            parts = [re.escape(text)]
            parts.append(re.escape(c_text(suffix)) if suffix.lstrip().startswith('"') else ".*")
            for line in "".join(parts).split(re.escape("\r\n")):
                if line:
                    patterns.add(line)
    return patterns


def table_first_cells(lines):
    """The first cell of each body row of the markdown tables in lines (a
    header row is the one above a |---| row)."""
    def separator(line):
        return re.fullmatch(r"\|[\s:|-]*-[\s:|-]*", line) is not None
    cells = []
    for index, line in enumerate(lines):
        below = lines[index + 1] if index + 1 < len(lines) else ""
        if line.startswith("|") and not separator(line) and not separator(below):
            cells.append(line.split("|")[1].strip())
    return cells


def log_table_mismatches(markdown: str, sources, root: Path = ROOT):
    """Log lines the guide quotes (code spans in the first column of its log
    table; text in angle brackets stands for a value) that the code never
    writes."""
    patterns = log_line_patterns(sources, root)
    found = []
    for cell in table_first_cells(section_lines(markdown, LOG_SECTION)):
        for quoted in re.findall(r"`([^`]+)`", cell):
            sample = PLACEHOLDER.sub("x", quoted)
            if not any(re.fullmatch(pattern, sample) for pattern in patterns):
                found.append(f"log table: the code writes no line {quoted!r}")
    return found


def code_pauses(root: Path = ROOT):
    """The product's built-in pauses and bounds: every Pause(ms) of the
    program and the library, the wait for each powercfg command, and the most
    polls of the script-host wait."""
    sources = sorted((root / "runner").glob("*.cpp")) + sorted((root / "vireodll").glob("*.cpp"))
    pauses = [int(ms) for source in sources for ms in PAUSE_CALL.findall(source.read_text())]
    timeout = re.search(r"kCommandTimeoutMs = (\d+);", (root / "runner" / "power_plan.cpp").read_text())
    polls = re.search(r"kMaxScriptPolls = (\d+);", (root / "vireodll" / "preference_pass.cpp").read_text())
    # The wait stops once the count exceeds kMaxScriptPolls: one poll more.
    return sorted(pauses + [int(timeout.group(1))]), int(polls.group(1)) + 1


def pause_table_mismatches(markdown: str, root: Path = ROOT):
    """The guide's pause table (every "N s" in its first column, and "at most
    N polls") against the code's pauses."""
    cells = table_first_cells(section_lines(markdown, PAUSE_SECTION))
    shown = sorted(round(float(s) * 1000) for cell in cells
                   for s in re.findall(r"(\d+(?:\.\d+)?) s\b", cell))
    shown_polls = [int(n) for cell in cells for n in re.findall(r"at most (\d+) polls", cell)]
    pauses, polls = code_pauses(root)
    found = []
    if shown != pauses:
        found.append(f"pause table: shows {shown} ms, the code pauses {pauses} ms")
    if shown_polls != [polls]:
        found.append(f"pause table: shows {shown_polls} polls, the code makes at most {polls}")
    return found


def code_power_values(root: Path = ROOT):
    """{(subgroup, setting, "AC" or "DC"): values} the program's powercfg
    commands set, the lid override included: the rows of the power-settings
    table ({label, subgroup, setting, supply, value})."""
    values = {}
    path = root / POWER_SETTINGS
    constants = c_constants([path])
    row = re.compile(rf"\{{\s*{C_STRING},\s*(k\w+),\s*(k\w+),\s*k(Ac|Dc),\s*(\d+)\s*\}}")
    for subgroup, setting, supply, value in row.findall(path.read_text()):
        key = (constants[subgroup].lower(), constants[setting].lower(), supply.upper())
        values.setdefault(key, set()).add(int(value))
    return values


def power_table_mismatches(markdown: str, root: Path = ROOT):
    """The guide's powercfg -q table (subgroup and setting in the first column,
    the AC and DC indexes after it) against the values the program sets."""
    shown = {}
    for row in section_lines(markdown, POWER_SECTION):
        cells = [cell.strip() for cell in row.split("|")[1:-1]]
        names = re.fullmatch(r"`(\S+) (\S+)`.*", cells[0]) if len(cells) == 3 else None
        if names:
            for supply, cell in zip(("AC", "DC"), cells[1:]):
                key = (names.group(1).lower(), names.group(2).lower(), supply)
                shown[key] = {int(value, 16) for value in re.findall(r"0x[0-9a-fA-F]+", cell)}
    code = code_power_values(root)
    return [f"power table: {' '.join(key)} shows {sorted(shown.get(key, []))},"
            f" the program sets {sorted(code.get(key, []))}"
            for key in sorted(set(shown) | set(code)) if shown.get(key) != code.get(key)]


def code_mismatches(markdown: str, root: Path = ROOT):
    """Where the guide's log, pause and power tables differ from the code."""
    return log_table_mismatches(markdown, sorted((root / "vireodll").glob("*.cpp")), root) + \
        pause_table_mismatches(markdown, root) + power_table_mismatches(markdown, root)


# Links between the project's documents.

DOCUMENTS = ("README.md", "docs/*.md")
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")


def anchor(heading: str) -> str:
    """A heading's anchor as the repository host renders it."""
    text = heading.strip().lower().replace("`", "")
    return re.sub(r"[^\w\- ]", "", text).replace(" ", "-")


def broken_links(document: Path):
    """Relative links of a markdown document whose file, or heading in a
    markdown file, does not exist; links in code blocks do not count."""
    text = re.sub(r"^```.*?^```", "", document.read_text(), flags=re.S | re.M)
    found = []
    for target in LINK.findall(text):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, fragment = target.partition("#")
        linked = (document.parent / path) if path else document
        if not linked.exists():
            found.append(f"{document.name}: {target}: no such file")
        elif fragment and linked.suffix == ".md" and fragment not in {
                anchor(h) for h in re.findall(r"^#+ (.*)$", re.sub(
                    r"^```.*?^```", "", linked.read_text(), flags=re.S | re.M), re.M)}:
            found.append(f"{document.name}: {target}: no such heading")
    return found


def project_documents(root: Path = ROOT):
    return [path for pattern in DOCUMENTS for path in sorted(root.glob(pattern))]
