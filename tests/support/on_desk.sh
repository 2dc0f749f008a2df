#!/bin/sh
# Runs a test program on a desk of its own: a virtual 1024x768 X screen with a real window
# manager (openbox), so that what a window manager does with the program's windows can be
# checked. Exits 77, which the test counts as skipped, when either is not installed.
if ! command -v xvfb-run >/dev/null || ! command -v openbox >/dev/null; then
  echo "xvfb-run or openbox is not installed: skipped"
  exit 77
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  QT_QPA_PLATFORM=xcb "$@"
  rc=$?
  kill $wm 2>/dev/null
  exit $rc' on_desk "$@"
