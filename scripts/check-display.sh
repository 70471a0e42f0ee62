#!/bin/sh
# A Qt program without a display aborts with a long platform-plugin message;
# say in one line what to do instead.
if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ] && [ -z "$QT_QPA_PLATFORM" ]; then
  echo "kotarplus needs a graphical display; without one run: xvfb-run -a make run" >&2
  exit 1
fi
