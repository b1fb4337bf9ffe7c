#!/bin/sh
# compile_with_clang.sh CLANGXX SOURCE_DIR GENERATED_DIR SOURCE...: compiles
# each source to an object (thrown away) with clang, two at a time; the
# first failure's messages are printed and the exit status is non-zero.
# Code generation (at -O0 too), not only parsing, checks a call's vector
# arguments against the caller's instruction set (AVX and 32-byte vectors).
set -u
clangxx=$1 src=$2 gen=$3
shift 3
printf '%s\n' "$@" | xargs -P 2 -I{} sh -c '
  out=$("$0" -std=c++20 -O0 -fopenmp -fbracket-depth=2048 -ffp-contract=off -Wall -Wextra \
        -I"$1" -I"$2" -c "$3" -o /dev/null 2>&1) || { printf "%s\n" "$out"; echo "clang cannot compile $3" >&2; exit 255; }
' "$clangxx" "$src" "$gen" {}
