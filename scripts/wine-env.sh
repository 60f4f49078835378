# Source this to get a fresh, private Wine prefix set up for the Japanese program:
# code page 932, the Japanese fonts the dialog names, a title bar drawn without a window
# manager. Needs a display (run it under xvfb-run). Call kavo_wine_cleanup when done.
# KAVO_WINE_ROOT, when set, names a folder whose prefix is kept between runs.
#   . scripts/wine-env.sh && kavo_wine_setup
export LC_ALL=ja_JP.UTF-8
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Windows' standard colour scheme ("Windows Standard", as Windows 2000 and XP ship it).
# Wine's own default paints menus white and 3-D faces grey; on Windows the two match, and
# the dialog's background is the menu colour.
kavo_windows_colors() {
    printf '%s\r\n' '[HKEY_CURRENT_USER\Control Panel\Colors]' \
        '"ActiveBorder"="212 208 200"' '"ActiveTitle"="10 36 106"' '"AppWorkSpace"="128 128 128"' \
        '"Background"="58 110 165"' '"ButtonAlternateFace"="181 181 181"' '"ButtonDkShadow"="64 64 64"' \
        '"ButtonFace"="212 208 200"' '"ButtonHilight"="255 255 255"' '"ButtonLight"="212 208 200"' \
        '"ButtonShadow"="128 128 128"' '"ButtonText"="0 0 0"' '"GradientActiveTitle"="166 202 240"' \
        '"GradientInactiveTitle"="192 192 192"' '"GrayText"="128 128 128"' '"Hilight"="10 36 106"' \
        '"HilightText"="255 255 255"' '"HotTrackingColor"="0 0 128"' '"InactiveBorder"="212 208 200"' \
        '"InactiveTitle"="128 128 128"' '"InactiveTitleText"="212 208 200"' '"InfoText"="0 0 0"' \
        '"InfoWindow"="255 255 225"' '"Menu"="212 208 200"' '"MenuBar"="212 208 200"' \
        '"MenuHilight"="10 36 106"' '"MenuText"="0 0 0"' '"Scrollbar"="212 208 200"' \
        '"TitleText"="255 255 255"' '"Window"="255 255 255"' '"WindowFrame"="0 0 0"' \
        '"WindowText"="0 0 0"'
}

kavo_wine_setup() {
    if [ -z "${KAVO_WINE_ROOT:-}" ]; then
        KAVO_WINE_ROOT=$(mktemp -d)
        KAVO_WINE_TEMPORARY=1
        export KAVO_WINE_ROOT
    fi
    mkdir -p "$KAVO_WINE_ROOT" || return 1
    export WINEPREFIX="$KAVO_WINE_ROOT/pfx"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 || return 1
    fi
    local reg="$KAVO_WINE_ROOT/settings.reg"
    # regedit wants UTF-16 with a byte-order mark.
    { printf '%s\r\n' \
        'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
        '"ＭＳ Ｐゴシック"="IPAPGothic"' \
        '"ＭＳ ゴシック"="IPAGothic"' \
        '"MS PGothic"="IPAPGothic"' \
        '"MS Gothic"="IPAGothic"' \
        '"MS UI Gothic"="IPAPGothic"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' \
        '"Decorated"="N"' \
        '"Managed"="N"' ''
      kavo_windows_colors; } | iconv -f UTF-8 -t UTF-16 > "$reg"
    wine regedit /S "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1 || return 1
    # The running session keeps the colours it started with: restart it.
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
        cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    # A server that stays up keeps each later wine start fast.
    wineserver -p >/dev/null 2>&1 || true
    return 0
}

# The prefix that run.sh and the screenshots keep in build/wine under the folder ROOT, set
# up, with its Wine processes stopped when the calling script exits.
#   kavo_wine_kept_session ROOT
kavo_wine_kept_session() {
    export KAVO_WINE_ROOT=$1/build/wine
    echo "Preparing Wine (the first time takes a few seconds)"
    kavo_wine_setup || return 1
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
}

# Stops the prefix's Wine processes; removes the prefix only when kavo_wine_setup made it
# (a KAVO_WINE_ROOT given by the caller is kept for the next run).
kavo_wine_cleanup() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
    if [ -n "${KAVO_WINE_TEMPORARY:-}" ] && [ -n "${KAVO_WINE_ROOT:-}" ]; then
        rm -rf "$KAVO_WINE_ROOT"
        unset KAVO_WINE_ROOT KAVO_WINE_TEMPORARY
    fi
    return 0
}

# Starts a Windows program, waits for its window, saves a picture of that window and
# ends the program again. Needs a display, xwininfo (x11-utils) and import (imagemagick).
#   kavo_window_shot WINDOW_PATTERN WHAT FILE COMMAND...
# WINDOW_PATTERN is an awk pattern over the lines of `xwininfo -root -tree`; WHAT names the
# window in the message when it does not appear. Returns 1 when it does not.
kavo_window_shot() {
    local pattern=$1 what=$2 shot=$3
    shift 3
    if ! command -v xwininfo >/dev/null || ! command -v import >/dev/null; then
        echo "The screenshot needs xwininfo (x11-utils) and import (imagemagick)" >&2
        return 1
    fi
    "$@" 2>/dev/null &
    local program=$! window=
    for _ in $(seq 1 300); do
        window=$(xwininfo -root -tree 2>/dev/null | awk "$pattern {print \$1; exit}")
        [ -n "$window" ] && break
        sleep 0.1
    done
    if [ -z "$window" ]; then
        echo "$what did not appear" >&2
        kill "$program" 2>/dev/null || true
        return 1
    fi
    sleep 1  # let it paint
    mkdir -p "$(dirname "$shot")"
    import -window "$window" "$shot"
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
    echo "Screenshot saved to $shot"
}
