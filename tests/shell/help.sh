#!/bin/sh
# help.sh TOOL [ARGS...]: "TOOL ARGS... --help" prints its usage on stdout and exits 0.
out=$("$@" --help) || { echo "exit status $? for: $* --help"; exit 1; }
case $out in
usage:*) exit 0 ;;
*) echo "no usage on stdout for: $* --help"; printf '%s\n' "$out"; exit 1 ;;
esac
