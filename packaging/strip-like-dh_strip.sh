#!/bin/sh
# What CMake's install step runs as "strip": the options Debian's dh_strip
# passes, so that no compiler notes stay in the packaged binaries.
exec strip --remove-section=.comment --remove-section=.note "$@"
