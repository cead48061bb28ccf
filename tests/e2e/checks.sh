# Sourced by the e2e suite: counting checks, and the closing line that CI
# reads ("N passed, N failed").

passed=0
failed=0

group() { printf '\n== %s\n' "$*"; }

pass() { passed=$((passed + 1)); printf '  ok    %s\n' "$1"; }

# fail NAME [DETAIL]...: each detail line is shown indented under the name.
fail() {
  failed=$((failed + 1))
  printf '  FAIL  %s\n' "$1"
  shift
  local d
  for d in "$@"; do printf '%s\n' "$d" | head -n 20 | sed 's/^/        /'; done
}

# check NAME COMMAND...: passes when COMMAND succeeds; shows its output if not.
check() { local name=$1 out; shift; if out=$("$@" 2>&1); then pass "$name"; else fail "$name" "$out"; fi; }

# check_eq NAME WANT GOT: exact text; a failure shows the difference.
check_eq() {
  if [ "$2" = "$3" ]; then
    pass "$1"
  elif [[ $2 == *$'\n'* || $3 == *$'\n'* ]]; then
    fail "$1" "$(diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^</want/; s/^>/got /')"
  else
    fail "$1" "want: $2" "got:  $3"
  fi
}

summary() {
  printf '\n%d passed, %d failed\n' "$passed" "$failed"
  [ "$failed" -eq 0 ]
}
