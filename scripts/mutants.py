#!/usr/bin/python3
"""Reads the mutant list and applies one mutant to a source tree (scripts/mutate.sh's helper).

  mutants.py list  LIST [ID...]    id, file and description of each mutant (all, or those named)
  mutants.py apply LIST ID ROOT    replaces the mutant's snippet in ROOT/FILE
  mutants.py check LIST ROOT       tells for every mutant whether its snippet occurs exactly once

The list (scripts/mutants.txt) holds one entry per mutant:

  ID FILE DESCRIPTION...
  - SNIPPET
  + REPLACEMENT

FILE is relative to the project root; SNIPPET is fixed text (no pattern) that must occur exactly
once in it.  A lone "+" replaces the snippet by nothing.  Lines starting with "#" and blank lines
are ignored.  Exit status: 0 done, 2 a malformed list, 3 a snippet not found or its file missing,
4 a snippet found more than once.
"""

import sys
from pathlib import Path


class ListError(Exception):
    pass


def parse(path):
    mutants, seen = [], set()
    current = None

    def finish():
        if current is None:
            return
        if current["find"] is None or current["replace"] is None:
            raise ListError(f"{path}:{current['line']}: {current['id']} needs a '-' and a '+' line")
        if current["find"] == current["replace"]:
            raise ListError(f"{path}:{current['line']}: {current['id']} changes nothing")
        mutants.append(current)

    for number, raw in enumerate(Path(path).read_text().splitlines(), 1):
        line = raw.rstrip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("- ") or line == "-":
            if current is None or current["find"] is not None:
                raise ListError(f"{path}:{number}: a '-' line belongs right under a mutant's head")
            current["find"] = line[2:]
            if not current["find"]:
                raise ListError(f"{path}:{number}: empty snippet")
        elif line.startswith("+ ") or line == "+":
            if current is None or current["find"] is None or current["replace"] is not None:
                raise ListError(f"{path}:{number}: a '+' line follows the mutant's '-' line")
            current["replace"] = line[2:]
        else:
            finish()
            parts = line.split(None, 2)
            if len(parts) < 3:
                raise ListError(f"{path}:{number}: a mutant's head is 'ID FILE DESCRIPTION'")
            if parts[0] in seen:
                raise ListError(f"{path}:{number}: mutant id {parts[0]} is used twice")
            seen.add(parts[0])
            current = {"id": parts[0], "file": parts[1], "what": parts[2], "line": number,
                       "find": None, "replace": None}
    finish()
    return mutants


def locate(mutant, root):
    """Returns (status, message, text): status 0 when the snippet occurs exactly once."""
    target = Path(root) / mutant["file"]
    if not target.is_file():
        return 3, f"{mutant['file']} does not exist", None
    text = target.read_text()
    count = text.count(mutant["find"])
    if count == 0:
        return 3, f"snippet not found in {mutant['file']}: {mutant['find']}", text
    if count > 1:
        return 4, f"snippet found {count} times in {mutant['file']}: {mutant['find']}", text
    return 0, "", text


def main(argv):
    if len(argv) < 3 or argv[1] not in ("list", "apply", "check"):
        print("\n".join(__doc__.strip().splitlines()[2:5]), file=sys.stderr)
        return 2
    try:
        mutants = parse(argv[2])
    except (ListError, OSError) as e:
        print(f"mutants: {e}", file=sys.stderr)
        return 2
    by_id = {m["id"]: m for m in mutants}

    if argv[1] == "list":
        wanted = argv[3:]
        unknown = [i for i in wanted if i not in by_id]
        if unknown:
            print(f"mutants: no mutant called {', '.join(unknown)}", file=sys.stderr)
            return 2
        for m in mutants:
            if not wanted or m["id"] in wanted:
                print(f"{m['id']}\t{m['file']}\t{m['what']}")
        return 0

    if argv[1] == "apply":
        if len(argv) != 5 or argv[3] not in by_id:
            print("mutants: apply LIST ID ROOT, with an ID from the list", file=sys.stderr)
            return 2
        m = by_id[argv[3]]
        status, message, text = locate(m, argv[4])
        if status:
            print(message)
            return status
        (Path(argv[4]) / m["file"]).write_text(text.replace(m["find"], m["replace"], 1))
        return 0

    # check
    if len(argv) != 4:
        print("mutants: check LIST ROOT", file=sys.stderr)
        return 2
    worst = 0
    for m in mutants:
        status, message, _ = locate(m, argv[3])
        if status:
            print(f"{m['id']}: {message}")
            worst = max(worst, status)
    print(f"{len(mutants)} mutants, {'all apply' if worst == 0 else 'some do not apply'}")
    return worst


if __name__ == "__main__":
    sys.exit(main(sys.argv))
