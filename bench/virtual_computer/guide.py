"""The deployment guide's verification steps, run on the virtual computer.

docs/deployment.md has a section "Verifying a run" whose code blocks hold
command-prompt lines ("C:\\> reg query ...") each followed by the output the
guide promises. The bench runs every reg query line in the prefix after the
product's run and compares the output with the guide's, so the guide cannot
drift from what the product does."""

import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent.parent
GUIDE = ROOT / "docs" / "deployment.md"
SECTION = "Verifying a run"
PROMPT = "C:\\> "
# In the guide's output, text in angle brackets stands for the computer's own
# value (a machine ID, a hardware ID): it matches any non-empty text.
PLACEHOLDER = re.compile(r"<[^<>]+>")


def verification_steps(markdown: str):
    """(command words, expected output lines) for each prompt line in the code
    blocks of the verification section, in order."""
    steps, in_section, in_block = [], False, False
    for line in markdown.splitlines():
        if line.startswith("#"):
            in_section = line.lstrip("#").strip() == SECTION
            continue
        if not in_section:
            continue
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


def run_verification(machine, guide: Path = GUIDE) -> dict:
    """Runs the guide's reg query lines in the prefix; the report's facts."""
    steps = verification_steps(guide.read_text())
    mismatches, ran = [], 0
    for words, expected in steps:
        if [w.lower() for w in words[:2]] != ["reg", "query"]:
            continue
        ran += 1
        result = machine.wine(*words)
        output = result.stdout.decode("utf-8", "replace")
        for difference in compare(expected, output):
            mismatches.append(f"{' '.join(words)}: {difference}")
    shown = guide.relative_to(ROOT) if guide.is_relative_to(ROOT) else guide
    return {"guide": str(shown), "commands_run": ran,
            "mismatches": mismatches}
