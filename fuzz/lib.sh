# Shared by fuzz/run and fuzz/ci (sourced, not run).

fuzz_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# Where the fuzzer's scratch files go: a memory file system when there is one
# (the harness writes every input to a file, and the program writes its two
# statistics files, several times per input), else TMPDIR.
fuzz_scratch_root() {
  if [ -n "${TARNU_FUZZ_TMP:-}" ]; then
    echo "$TARNU_FUZZ_TMP"
  elif [ -d /dev/shm ] && [ -w /dev/shm ]; then
    echo /dev/shm
  else
    echo "${TMPDIR:-/tmp}"
  fi
}

# The option bytes every seed is tried with (see the top of
# qdimacs_fuzzer.cpp): the twelve combinations of -tree/-clauses, -linear and
# -pre, each with the size probe, then two with a small line capacity.
FUZZ_SEED_OPTIONS="64 65 66 68 69 70 72 73 74 76 77 78 58 177"

# Writes the starting inputs into the directory $1: each plain QDIMACS file
# of fuzz/corpus/ once per option byte, and the raw inputs of
# fuzz/regressions/ as they are.
fuzz_prepare_seeds() {
  local out="$1" seed name option
  mkdir -p "$out"
  for seed in "$fuzz_dir"/corpus/*; do
    [ -f "$seed" ] || continue
    name="$(basename "$seed")"
    for option in $FUZZ_SEED_OPTIONS; do
      { printf "\\$(printf '%03o' "$option")"; cat "$seed"; } >"$out/$name.$option"
    done
  done
  for seed in "$fuzz_dir"/regressions/*; do
    [ -f "$seed" ] && cp "$seed" "$out/regression-$(basename "$seed")"
  done
  return 0
}

# The libFuzzer flags of every run: findings are crashes and sanitizer
# reports, inputs slower than 10 s, more than 2 GiB resident or in one
# allocation; inputs up to 4 KiB, which holds every construct of the grammar
# many times over.
FUZZ_FLAGS=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 -max_len=4096 -print_final_stats=1)

# Executions recorded in the final statistics of the given logs, summed.
fuzz_executions() {
  cat "$@" 2>/dev/null | awk '/^stat::number_of_executed_units:/ { n += $2 } END { print n + 0 }'
}

# Prints each file of the directory $1 (crash, timeout, leak or oom input) as
# a hex dump, so a CI log keeps the reproducer.
fuzz_show_artifacts() {
  local artifact
  for artifact in "$1"/*; do
    [ -f "$artifact" ] || continue
    echo "---- reproducer $(basename "$artifact") ($(wc -c <"$artifact") bytes; byte 0 = options):"
    od -A d -t x1z -v "$artifact" | head -n 300
  done
}
