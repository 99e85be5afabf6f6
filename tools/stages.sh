#!/usr/bin/env bash
# Runs make targets as the stages of one test run, in order, and ends with a summary: each stage
# passed, failed or not run, and how long it took.
#
# Usage: tools/stages.sh TARGET...   (make test runs it; $MAKE is the make to call)
#
# A failed stage does not stop the next: they test different things. With FAIL_FAST=1 the run
# stops at the first failure; an interrupt (Ctrl-C) stops it too. Either way the stages that never
# ran are listed as such. Exit status: 0 when every stage passed, 1 when one failed or did not run,
# 130 after an interrupt.
set -u

make=${MAKE:-make}
stages=("$@")
declare -a outcome took
interrupted=0
trap 'interrupted=1' INT

duration() {
  printf '%dm%02ds' $(($1 / 60)) $(($1 % 60))
}

started_all=$SECONDS
for i in "${!stages[@]}"; do
  outcome[i]="not run"
  took[i]=""
done
for i in "${!stages[@]}"; do
  stage=${stages[i]}
  printf '\n=== stage %d of %d: %s ===\n' $((i + 1)) ${#stages[@]} "${stage#test-}"
  started=$SECONDS
  "$make" --no-print-directory "$stage"
  code=$?
  took[i]=$(duration $((SECONDS - started)))
  if [ "$interrupted" = 1 ]; then
    outcome[i]="interrupted"
    break
  fi
  if [ "$code" = 0 ]; then
    outcome[i]="passed"
  else
    outcome[i]="FAILED"
    [ "${FAIL_FAST:-0}" = 1 ] && break
  fi
done

status=0
printf '\n=== make test: summary ===\n'
for i in "${!stages[@]}"; do
  printf '  %-10s %-12s %s\n' "${stages[i]#test-}" "${outcome[i]}" "${took[i]}"
  [ "${outcome[i]}" = passed ] || status=1
done
printf '  %-10s %-12s %s\n' "total" "" "$(duration $((SECONDS - started_all)))"
[ "$interrupted" = 1 ] && exit 130
exit $status
