#!/usr/bin/env bash
# Runs a Windows program under Wine: the CMAKE_CROSSCOMPILING_EMULATOR of the Windows build
# (tests/ runs its test programs through it) and the Windows step of the CI.
#
#   tools/windows/wine-run.sh PROGRAM.exe [ARGS...]
#
# Wine keeps its state in a prefix of ours, never in ~/.wine: $MORVEX_WINEPREFIX, by default
# ~/.cache/morvex-windows/wine (made on first use, about 700 MB; delete it at will). The
# program's standard output and error go through files, not straight into the caller's pipes:
# Wine's background processes would otherwise inherit a pipe and keep the reader of a shell
# pipeline waiting after the program ended. A program that cannot start because a DLL is
# missing exits with status 53 and, with Wine's messages off, says nothing: this script says it.
set -u
if ! command -v wine > /dev/null; then
    echo "wine-run: wine is not installed (tools/install-dependencies.sh --windows)" >&2
    exit 127
fi
export WINEPREFIX=${MORVEX_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/morvex-windows/wine}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs: the programs need neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            wine wineboot --init < /dev/null > /dev/null 2>&1
            wineserver -w < /dev/null > /dev/null 2>&1
        fi
    ) 9> "$WINEPREFIX.lock"
fi

# A server that stays a while after the program ends spares the next run its start (seconds);
# with no descriptor of ours, it never keeps a pipeline waiting. When one runs, this one ends.
wineserver -p30 < /dev/null > /dev/null 2>&1

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
wine "$@" > "$out" 2> "$err"
status=$?
cat "$out"
cat "$err" >&2
if [ "$status" = 53 ]; then
    echo "wine-run: $1 did not start (status 53): a DLL it needs is missing beside it" >&2
fi
exit "$status"
