"""scripts/ensure-deps.sh's decisions when the package index or the install
fails, with apt-get, dpkg-query, dpkg, id and sleep replaced by stubs on PATH
(no network, nothing installed). Each situation says how many updates fail
and which installs pass; the test checks what the script ran, what it said
and its exit code. Run: python3 tests/ensure_deps_test.py"""

import os
import subprocess
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SCRIPT = ROOT / "scripts" / "ensure-deps.sh"
FAILED_INDEX = "http://mirror.invalid/debian-security/dists/x-security/main/binary-i386/Packages.xz"

# apt-get: journals its arguments; fails the first $STUB_UPDATE_FAILURES
# updates as a mirror in mid-sync does, and passes an install only as
# $STUB_INSTALL says (plain: any, pinned: only with -t, never).
APT_GET = f"""#!/bin/bash
echo "apt-get $*" >>"$STUB_JOURNAL"
case "$1" in
update)
    done=$(grep -c '^apt-get update' "$STUB_JOURNAL")
    if [ "$done" -le "$STUB_UPDATE_FAILURES" ]; then
        echo "Err:6 http://mirror.invalid x-security/main i386 Packages"
        echo "E: Failed to fetch {FAILED_INDEX}  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
        exit 100
    fi ;;
install)
    case "$STUB_INSTALL:$*" in
    plain:*|pinned:*" -t "*) ;;
    *) echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;;
    esac ;;
esac
"""
STUBS = {
    "apt-get": APT_GET,
    # Nothing is installed yet, and i386 is not a foreign architecture.
    "dpkg-query": "#!/bin/bash\nexit 1\n",
    "dpkg": '#!/bin/bash\n[ "$1" != --add-architecture ] || echo "dpkg $*" >>"$STUB_JOURNAL"\n',
    "id": "#!/bin/bash\necho 0\n",
    "sleep": '#!/bin/bash\necho "sleep $*" >>"$STUB_JOURNAL"\n',
    # The 32-bit Wine loader runs natively.
    "wine-loader": "#!/bin/bash\nexit 0\n",
}


def release_codename():
    for line in Path("/etc/os-release").read_text().splitlines():
        if line.startswith("VERSION_CODENAME="):
            return line.split("=", 1)[1].strip('"')
    return ""


class EnsureDeps(unittest.TestCase):
    def run_script(self, update_failures, install):
        with tempfile.TemporaryDirectory() as stubs:
            for name, text in STUBS.items():
                path = Path(stubs) / name
                path.write_text(text)
                path.chmod(0o755)
            journal = Path(stubs) / "journal"
            journal.touch()
            env = dict(os.environ, PATH=f"{stubs}:{os.environ['PATH']}",
                       STUB_JOURNAL=str(journal), STUB_UPDATE_FAILURES=str(update_failures),
                       STUB_INSTALL=install, VIREO_WINE_LOADER32=f"{stubs}/wine-loader",
                       VIREO_I386_BINFMT=f"{stubs}/no-binfmt-entry")
            done = subprocess.run(["bash", str(SCRIPT)], env=env, capture_output=True,
                                  text=True, timeout=60)
            ran = [line.split(" -")[0] if line.startswith("apt-get install") else line
                   for line in journal.read_text().splitlines()]
            pinned = [line for line in journal.read_text().splitlines() if " -t " in line]
            return done, ran, pinned

    def test_situations(self):
        codename = release_codename()
        update, pause = "apt-get update -q", "sleep 20"
        install = "apt-get install"
        # (situation, updates that fail, installs that pass, expected exit code,
        #  commands run after dpkg --add-architecture, texts said, texts not said)
        situations = [
            ("the index is whole", 0, "plain", 0, [update, install], [],
             ["warning", "pinned"]),
            ("the update fails once, then passes", 1, "plain", 0,
             [update, pause, update, install], ["try 1 of 3"], ["warning", "pinned"]),
            ("the update keeps failing, the install passes", 99, "plain", 0,
             [update, pause, update, pause, update, install],
             ["warning: apt-get update failed 3 times", FAILED_INDEX], ["pinned"]),
            ("the install passes only pinned to the release", 99, "pinned", 0,
             [update, pause, update, pause, update, install, install],
             [f"trying once more pinned to the release's own suite, {codename}"],
             ["error"]),
            ("everything fails", 99, "never", 1,
             [update, pause, update, pause, update, install, install],
             ["error: the packages could not be installed",
              "  E: Unable to correct problems, you have held broken packages.",
              f"apt-get update && apt-get install -y --no-install-recommends -t {codename} "
              "g++-mingw-w64-i686"], []),
        ]
        for name, failures, installs, code, commands, said, not_said in situations:
            with self.subTest(name):
                done, ran, pinned = self.run_script(failures, installs)
                output = done.stdout + done.stderr
                self.assertEqual(done.returncode, code, output)
                self.assertEqual(ran, ["dpkg --add-architecture i386", *commands], output)
                self.assertEqual(len(pinned), commands.count(install) - 1)
                for text in pinned:
                    self.assertIn(f" -t {codename} ", text)
                for text in said:
                    self.assertIn(text, output)
                for text in not_said:
                    self.assertNotIn(text, output)


if __name__ == "__main__":
    unittest.main()
