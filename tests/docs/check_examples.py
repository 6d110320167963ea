#!/usr/bin/env python3
"""The READMEs' examples are the files under tests/docs, which CI runs: each fenced block that follows a line
'<!-- example: tests/docs/NAME -->' must read exactly as that file, and every example file must be shown
in some README. Usage: check_examples.py SOURCE_DIR README..."""
import difflib
import pathlib
import re
import sys

MARK = re.compile(r"^<!-- example: (\S+) -->\n```[^\n]*\n(.*?)^```$", re.MULTILINE | re.DOTALL)
EXAMPLES = ("*.nuv", "read_by_path.cpp")


def main(argv):
    root = pathlib.Path(argv[1])
    failures = []
    shown = set()
    for readme in argv[2:]:
        text = (root / readme).read_text(encoding="utf-8")
        if "<!-- example:" in text and not MARK.search(text):
            failures.append(f"{readme}: an example mark not followed by a fenced block")
        for match in MARK.finditer(text):
            name, block = match.group(1), match.group(2)
            shown.add(name)
            path = root / name
            if not path.is_file():
                failures.append(f"{readme}: example {name} is not a file")
                continue
            wanted = path.read_text(encoding="utf-8")
            if block != wanted:
                diff = difflib.unified_diff(wanted.splitlines(), block.splitlines(), name, readme, lineterm="")
                failures.append(f"{readme}: the block of {name} differs from the file:\n" + "\n".join(diff))
    for pattern in EXAMPLES:
        for path in sorted((root / "tests/docs").glob(pattern)):
            name = path.relative_to(root).as_posix()
            if name not in shown:
                failures.append(f"{name} is shown in no README")
    for failure in failures:
        print(failure)
    print(f"{len(shown)} example(s) shown, {len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
