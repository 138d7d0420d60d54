#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for the given number of seconds,
# seeded from the corpus the target writes from the fixture builder.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
shopt -s nullglob
targets=("$build"/fuzz_*)
[ ${#targets[@]} -eq 0 ] && { echo "fuzz: no targets built"; exit 0; }
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  echo "fuzz: $name for ${seconds}s"
  "$t" -max_total_time="$seconds" -print_final_stats=0 "$corpus" > "$build/$name.log" 2>&1 \
    || { tail -40 "$build/$name.log"; echo "fuzz: $name found a fault"; exit 1; }
done
