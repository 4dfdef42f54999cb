#!/usr/bin/env bash
# The report check around every test program: a run to the end passes, a run that ends
# half-way with status 0 fails with the check's own message.
#   stops_early_test.sh REPORT RUNNER... PROGRAM   (RUNNER as wb_test_runner builds it)
set -u
report=$1
shift
expect_stop="exited with status 0 but wrote no closing report ($report): it stopped before its last test, so its result does not count"

out=$("$@" 2>&1); status=$?
[ "$status" -eq 0 ] || { printf 'a complete run failed (status %s):\n%s\n' "$status" "$out"; exit 1; }

out=$(WB_STOP_EARLY=1 "$@" 2>&1); status=$?
[ "$status" -eq 1 ] || { printf 'a run that stopped early gave status %s, not 1:\n%s\n' "$status" "$out"; exit 1; }
case "$out" in
  *"gtest-complete: stops_early_program"*"$expect_stop"*) ;;
  *) printf 'a run that stopped early did not say so:\n%s\n' "$out"; exit 1 ;;
esac
case "$out" in
  *"StopsEarly.Second"*) printf 'the second test ran after all:\n%s\n' "$out"; exit 1 ;;
esac

# A crash with a window shown fails the run, and at once: a crash dialog of Wine's debugger
# would keep the runner waiting until the test's time-out. 90 s is ample for Wine's crash
# report, even emulated.
out=$(WB_CRASH_WITH_WINDOW=1 timeout 90 "$@" 2>&1); status=$?
[ "$status" -ne 124 ] || { printf 'a crash with a window shown kept the runner waiting:\n%s\n' "$out"; exit 1; }
[ "$status" -ne 0 ] || { printf 'a crash with a window shown passed:\n%s\n' "$out"; exit 1; }
case "$out" in
  *"StopsEarly.Second"*) printf 'the second test ran after the crash:\n%s\n' "$out"; exit 1 ;;
esac
case "$*" in
  *--windows*)
    case "$out" in
      *"crashing with a window shown"*) ;;
      *) printf 'the program showed no window before it crashed:\n%s\n' "$out"; exit 1 ;;
    esac ;;
esac
