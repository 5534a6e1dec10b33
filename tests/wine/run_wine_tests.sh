#!/bin/bash
# Runs the desktop klavor.exe under Wine, for the end-to-end cases of
# phone_driver.exe.
#
#   run_wine_tests.sh prefix STATE                    a fresh Wine prefix
#   run_wine_tests.sh run STATE BINDIR CONFIG CASE... one group of cases
#   run_wine_tests.sh remove STATE                    stop Wine, delete the prefix
#
# STATE is a file that remembers where the prefix is (a temporary folder).
# BINDIR holds klavor.exe and phone_driver.exe (the mingw64 build). CONFIG
# is what the registry value is set to first: a klavorcfg text file
# (.klavor, turned into a .reg file with $KLAVORCFG), a .reg file taken as
# it is, or "none" to delete the key.
set -u -o pipefail

export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would
# wait for a download that cannot happen.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"

die() {
    echo "run_wine_tests: $*" >&2
    exit 1
}

wine_cmd() {
    if command -v wine >/dev/null; then echo wine; else echo wine64; fi
}
WINE=$(wine_cmd)

stop_wine() {
    # Ends every process of this prefix, and only those; never a kill by pid
    # of a wrapper.
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    true
}

remove_prefix() {
    local state=$1 old
    [ -f "$state" ] || return 0
    old=$(cat "$state")
    rm -f "$state"
    # Only ever a folder this script made.
    case "$old" in
    */klavor-wine.*)
        if [ -d "$old" ]; then
            WINEPREFIX=$old stop_wine
            rm -rf "$old"
        fi
        ;;
    esac
}

cmd_prefix() {
    local state=$1 prefix
    remove_prefix "$state"  # left over from an interrupted run
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/klavor-wine.XXXXXX") || die "mktemp failed"
    echo "$prefix" >"$state"
    export WINEPREFIX=$prefix
    # Without a display, wineboot does not wait on dialogs.
    env -u DISPLAY -u WAYLAND_DISPLAY wineboot -i >/dev/null 2>&1 || die "wineboot -i failed"
    # A virtual desktop: otherwise every hidden window waits two seconds
    # for a window manager that Xvfb does not have.
    env -u DISPLAY "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null &&
        env -u DISPLAY "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null ||
        die "could not turn on the virtual desktop"
    stop_wine
    echo "Wine prefix ready: $prefix"
}

# The bytes of a .reg file's value, as upper-case hex: what `reg query`
# prints for a REG_BINARY value.
reg_file_hex() {
    tr -d '\r' <"$1" | sed -n '/^"klavorKeyTable"=hex/,/[^\\]$/p' |
        sed -e 's/^"klavorKeyTable"=hex\(([0-9]*)\)\{0,1\}://' -e 's/\\$//' |
        tr -d ' ,\n' | tr 'a-f' 'A-F'
}

registry_hex() {
    "$WINE" reg query 'HKLM\SOFTWARE\Morvane' /v klavorKeyTable 2>/dev/null | tr -d '\r' |
        awk '$1 == "klavorKeyTable" && $2 == "REG_BINARY" { print $3 }'
}

# Puts the configuration into the registry and checks that it arrived:
# `reg import` exits 0 even when it skipped a malformed line.
set_config() {
    local config=$1 reg expected got
    if [ "$config" = none ]; then
        "$WINE" reg delete 'HKLM\SOFTWARE\Morvane' /f >/dev/null 2>&1
        if "$WINE" reg query 'HKLM\SOFTWARE\Morvane' >/dev/null 2>&1; then
            die "the key HKLM\\SOFTWARE\\Morvane is still there"
        fi
        echo "configuration: none (no HKLM\\SOFTWARE\\Morvane key)"
        return
    fi
    case "$config" in
    *.reg) reg=$config ;;
    *)
        [ -n "${KLAVORCFG:-}" ] || die "KLAVORCFG is not set, needed for $config"
        reg=$WORK/config.reg
        "$KLAVORCFG" reg "$config" -o "$reg" || die "klavorcfg could not turn $config into a .reg file"
        ;;
    esac
    expected=$(reg_file_hex "$reg")
    [ -n "$expected" ] || die "no klavorKeyTable value in $reg"
    "$WINE" reg delete 'HKLM\SOFTWARE\Morvane' /f >/dev/null 2>&1
    "$WINE" reg import "Z:${reg//\//\\}" >/dev/null 2>&1 || die "reg import $reg failed"
    got=$(registry_hex)
    [ "$got" = "$expected" ] || die "after reg import of $reg the value is '$got', expected '$expected'"
    echo "configuration: $(basename "$config"), $((${#got} / 2)) bytes in the registry"
}

# Under Xvfb: the registry, then the driver.
cmd_inner() {
    local bindir=$1 config=$2
    shift 2
    set_config "$config"
    "$WINE" "$bindir/phone_driver.exe" "$@"
    local rc=$?
    [ $rc -eq 0 ] || echo "phone_driver.exe exited with code $rc"
    stop_wine
    return $rc
}

cmd_run() {
    local state=$1 bindir=$2 config=$3 rc
    shift 3
    [ -f "$state" ] || die "no Wine prefix: $state is missing"
    export WINEPREFIX
    WINEPREFIX=$(cat "$state")
    [ -d "$WINEPREFIX" ] || die "the Wine prefix $WINEPREFIX is gone"
    [ -f "$bindir/klavor.exe" ] && [ -f "$bindir/phone_driver.exe" ] || die "no klavor.exe or phone_driver.exe in $bindir"
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/klavor-wine-run.XXXXXX") || die "mktemp failed"
    export WORK
    stop_wine  # nothing of an earlier group may linger
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" inner "$bindir" "$config" "$@"
    rc=$?
    stop_wine
    rm -rf "$WORK"
    return $rc
}

[ $# -ge 1 ] || die "usage: $0 prefix|run|remove ..."
command=$1
shift
case "$command" in
prefix) cmd_prefix "$@" ;;
run) cmd_run "$@" ;;
inner) cmd_inner "$@" ;;
remove) remove_prefix "$1" ;;
*) die "unknown command $command" ;;
esac
