#!/bin/sh
# Runs a test program on a virtual X server of its own (xvfb-run picks a free
# display), as the tests of cmake/AdpanelTest.cmake's adpanel_xvfb_test_each
# are run; listing the program's tests needs no display.
#
#   sh xvfb_run.sh <width>x<height> <leak suppressions> <program> <argument>...
screen=$1
suppressions=$2
shift 2
for argument in "$@"; do
  case $argument in --gtest_list_tests) exec "$@" ;; esac
done
if ! command -v xvfb-run >/dev/null; then
  echo "${1##*/} needs xvfb-run (Debian package xvfb) to open windows on a virtual X server" >&2
  exit 1
fi
export QT_QPA_PLATFORM=xcb
export LSAN_OPTIONS="suppressions=$suppressions:print_suppressions=0"
exec xvfb-run -a -s "-screen 0 ${screen}x24 -dpi 96" "$@"
