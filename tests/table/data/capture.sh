#!/bin/sh
# Makes the captured runs in this directory: real console output of tarnu on
# instances of every kind of ending, and on files with awkward names.
#   sh capture.sh BUILD_DIR/tarnu INSTANCES_DIR
# INSTANCES_DIR holds the real instances (with .xz files of their own). The
# runs take place in a scratch directory, so the paths in the captures are
# relative ones; the expected tables (*.csv) are checked by hand.
set -eu
TARNU=$(realpath "$1")
INSTANCES=$(realpath "$2")
DATA=$(cd "$(dirname "$0")" && pwd)
SCRATCH=$(mktemp -d /tmp/tarnu-capture.XXXXXX)
cd "$SCRATCH"

pick() { cp "$INSTANCES/$1" "$2"; chmod u+w "$2"; }

# --- the bundled examples, as shipped
cp -r "$DATA/../../../examples" examples
rm -f examples/*.dot
"$TARNU" examples > "$DATA/examples.out" || true

# --- kinds: every ending of an item, "-tree" with DOT files that cannot be written
mkdir -p kinds/sub
pick handwritten-tests/cnf0.qdimacs kinds/cnf0.qdimacs                # no existential node: nan
pick pgbdd-qcnf/xor2f-01.qcnf kinds/xor2f-01.qcnf                     # a .qcnf file
pick crafted-kbkf/KBKF-N-3.qdimacs kinds/KBKF-N-3.qdimacs
pick adder/adder2.qdimacs kinds/adder2.qdimacs                        # D-Components beyond 64 bits
pick handwritten-tests/r_121.qdimacs kinds/r_121.qdimacs              # abnormal exit
pick cadet-tests/and.qdimacs kinds/sub/and.qdimacs                    # subdirectory first
printf 'p cnf 5\n' > kinds/bad-header.qdimacs                         # parse error
printf 'c only a comment\n' > kinds/no-problem-line.qcnf              # item cut short
printf 'p cnf 2 1\na 1 2 0\n1 2 0\n' > kinds/universal-clause.qdimacs # abnormal exit
mkfifo kinds/KBKF-N-3.qdimacs.treeDup.dot                             # DOT path is a FIFO
ln -s /nonexistent/target kinds/xor2f-01.qcnf.treeDup.dot             # DOT path is a dangling link
LONG=$(printf 'l%.0s' $(seq 1 246))
pick crafted-eq/EQ-N-3.qdimacs "kinds/$LONG.qcnf"                     # DOT name too long
"$TARNU" -tree kinds > "$DATA/kinds-tree.out" || true
"$TARNU" -pre kinds > "$DATA/kinds-pre.out" || true
"$TARNU" kinds/adder2.qdimacs > "$DATA/file-mode.out" || true

# --- awkward paths: commas, quotes, '%', line breaks, text of item heads
mkdir -p odd
pick cadet-tests/and.qdimacs 'odd/a,b.qdimacs'
pick handwritten-tests/cnf1.qdimacs 'odd/say "hi".qdimacs'
pick handwritten-tests/test01.qdimacs 'odd/100%s%d.qdimacs'
pick cadet-tests/test_implications.qdimacs "odd/new
line.qdimacs"
pick crafted-kbkf/KBKF-N-3.qdimacs "odd/not a head
7.Processing \"x.qdimacs"
pick crafted-eq/EQ-N-3.qdimacs 'odd/wait"...  here.qdimacs'
"$TARNU" odd > "$DATA/odd-paths.out" || true

# --- a path holding an item end and the head of the next number
mkdir -p fake/mid fake/last
pick cadet-tests/and.qdimacs "fake/mid/1\"...  [CRASH]
2.Processing \"x.qdimacs"
pick crafted-kbkf/KBKF-N-3.qdimacs fake/mid/z.qdimacs
"$TARNU" fake/mid > "$DATA/fake-head-mid.out" || true
pick cadet-tests/and.qdimacs fake/last/a.qdimacs
pick crafted-kbkf/KBKF-N-3.qdimacs "fake/last/z\"...  [CRASH]
3.Processing \"y.qdimacs"
"$TARNU" fake/last > "$DATA/fake-head-last.out" || true

# --- a child killed from outside: SIGSEGV (crash) and SIGUSR1 (timeout)
mkdir -p killed
pick cadet-tests/and.qdimacs killed/a.qdimacs
awk 'BEGIN { n = 3000000; m = 9000000; srand(7);
  print "p cnf " n " " m; printf "a"; for (v = 1; v <= 1000; v++) printf " %d", v; print " 0";
  printf "e"; for (v = 1001; v <= n; v++) printf " %d", v; print " 0";
  for (i = 0; i < m; i++) { for (k = 0; k < 3; k++) printf "%d ", (rand() < 0.5 ? -1 : 1) * (1 + int(rand() * n)); print "0" } }' \
  > killed/big.qdimacs
run_and_kill() { # signal, output file, text to wait for in the output
  "$TARNU" killed > "$2" &
  parent=$!
  until grep -qF "$3" "$2" 2>/dev/null; do sleep 0.02; done
  kill -s "$1" $(pgrep -P "$parent")
  wait "$parent" || true
}
run_and_kill SEGV "$DATA/crash-parsing.out" 'big.qdimacs"...  '
run_and_kill USR1 "$DATA/timeout-parsing.out" 'big.qdimacs"...  '
run_and_kill SEGV "$DATA/crash-tree.out" 'clauses: 9000000'
run_and_kill USR1 "$DATA/timeout-tree.out" 'clauses: 9000000'
echo "scratch: $SCRATCH"
