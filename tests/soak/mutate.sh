#!/usr/bin/env bash
# Do the soak's checks bite? Breaks the program on purpose, one fault at a
# time, in a scratch copy of the sources, and runs the soak on each: a fault
# it catches ends in a failure with a shrunk scenario, one it misses passes.
#
#   tests/soak/mutate.sh [EVENTS [SEED [WORKDIR]]]
#   tests/soak/mutate.sh --phone [EVENTS [SEED [WORKDIR]]]
#
# EVENTS per fault (default 100000), SEED of the stream (default 1). The
# copy, its build and each fault's reproducer stay in WORKDIR (default a new
# temporary directory). Exit status 1 if any fault was missed.
#
# --phone breaks the ARM klavor.exe instead (build/phone/klavor.exe, with
# its map): patched instructions in copies of it (tests/soak/patch_exe.py),
# each run by `klavor-soak --phone` of the default build.
set -euo pipefail
cd "$(dirname "$0")/../.."
phone=false
if [ "${1:-}" = --phone ]; then
  phone=true
  shift
fi
events=${1:-100000}
seed=${2:-1}
work=${3:-$(mktemp -d /tmp/klavor-mutate.XXXXXX)}
src=$work/src

# Runs the soak as "$@" with the fault's directory as $dir; counts and tells.
caught=0; missed=0; report=""
soak_one() {
  local name=$1; shift
  set +e
  "$@" --seed "$seed" --events "$events" --out "$dir" > "$dir/soak.log" 2>&1
  local status=$?
  set -e
  if [ $status -eq 1 ]; then
    caught=$((caught + 1))
    local line size
    line=$(grep -m1 '^FAILED' "$dir/soak.log")
    size=$(grep -m1 'shrunk from' "$dir/soak.log" | sed 's/.*shrunk from \([0-9]*\) events to \([0-9]*\).*/\1 -> \2 events/')
    report+="caught  $name: ${line#FAILED in } [$size]"$'\n'
  elif [ $status -eq 0 ]; then
    missed=$((missed + 1))
    report+="MISSED  $name"$'\n'
  else
    echo "mutation '$name': klavor-soak exited $status; see $dir/soak.log" >&2; exit 2
  fi
}

if $phone; then
  exe=build/phone/klavor.exe
  map=build/phone/klavor.map
  objdump=build/phone-toolchain/bin/arm-mingw32ce-objdump
  soak=build/default/tests/soak/klavor-soak
  for f in "$exe" "$map" "$objdump" "$soak"; do
    [ -e "$f" ] || { echo "$f is missing: build the phone and default presets first" >&2; exit 2; }
  done
  # name ; function (as the map names it) ; instructions (regex) ; new word (of the old, w)
  patches=(
    "press counting: eq and ne swapped, a press of the same button taken for another;OnHotKey(unsigned int);^(ldrh|str|add|lsl|lsr)(eq|ne)\t;w ^ 0x10000000"
    "six quiet ticks, not five;OnHotKey(unsigned int);^movhi\tr0, #5$;(w & ~0xFF) | 6"
    "key-up call dropped;SendAction(unsigned short);^b\tkeybd_event$;0xE12FFF1E"
    "no release before sending;FireSequence();^bl\tReleaseButton\(int\)$;0xE1A00000"
    "no recapture after firing;FireSequence();^bl\tCaptureButton\(int\)$;0xE1A00000"
    "periodic sweep dropped;OnTimerTick();^bl\tRecaptureTick\(\)$;0xE1A00000"
    "coredll not freed at exit;WinMain;^bl\tFreeLibrary$;0xE1A00000"
  )
  mkdir -p "$work/out"
  for p in "${patches[@]}"; do
    IFS=';' read -r name fn pattern new <<< "$p"
    dir="$work/out/$(echo "$name" | sed 's/[^A-Za-z0-9]\+/-/g')"
    mkdir -p "$dir"
    if ! python3 tests/soak/patch_exe.py "$exe" "$map" "$objdump" "$dir/klavor.exe" "$fn" "$pattern" "$new" \
        > "$dir/patch.log" 2>&1; then
      echo "patch '$name' did not apply; see $dir/patch.log" >&2; exit 2
    fi
    soak_one "$name" "$soak" --phone "$dir/klavor.exe"
  done
  printf '%s' "$report"
  echo "$caught caught, $missed missed ($events events each, seed $seed); patched copies and reproducers in $work/out"
  [ $missed -eq 0 ]
  exit
fi

# name | file | perl substitution (applied to the whole file)
mutations=(
  "no release before sending|engine/sequence.cpp|s/^\s*ReleaseButton\(button\);\n//m"
  "no recapture after firing|engine/sequence.cpp|s/^\s*CaptureButton\(button\);\n//m"
  "Win key-up dropped|engine/sequence.cpp|s/^\s*if \(withWin\) keybd_event\(VK_LWIN, 0, KEYEVENTF_KEYUP, 0\);\n//m"
  "key-up dropped|engine/sequence.cpp|s/^\s*keybd_event\(key, 0, KEYEVENTF_KEYUP, 0\);\n//m"
  "Win up after the key up|engine/sequence.cpp|s/(\s*if \(withWin\) keybd_event\(VK_LWIN, 0, KEYEVENTF_KEYUP, 0\);)(\n\s*keybd_event\(key, 0, KEYEVENTF_KEYUP, 0\);)/\$2\$1/"
  "press index not clamped|engine/sequence.cpp|s/^\s*if \(g_sequence.pressIndex > count\) g_sequence.pressIndex = count;\n//m"
  "press index kept for a new button|engine/sequence.cpp|s/(g_sequence.currentButton = button;\n)\s*g_sequence.pressIndex = 0;\n/\$1/"
  "Shift and Win hot keys not counted|engine/sequence.cpp|s/\(int\)\(id & HOTKEY_SLOT_MASK\)/(int)id/"
  "six quiet ticks, not five|engine/sequence.h|s/HOLD_TICKS = 5/HOLD_TICKS = 6/"
  "periodic sweep skipped|engine/capture.cpp|s/(else if \(recaptureTicks == 0\)\n\s*)CaptureAll\(\);/\$1recaptureTicks = RECAPTURE_TICKS;/"
  "sweep every 300 ticks|engine/capture.h|s/RECAPTURE_TICKS = 300/RECAPTURE_TICKS = 299/"
  "Shift hot key not registered|engine/capture.cpp|s/for \(int v = 0; v < 3; \+\+v\)\n(\s*RegisterHotKey)/for (int v = 0; v < 2; ++v)\n\$1/"
  "buttons not freed|engine/capture.cpp|s/if \(g_pUnregisterFunc1 == NULL\) return;/return;/"
  "free slots not freed|engine/capture.cpp|s/if \(KeyTable\[slot\].mode == MODE_FREE\)\n\s*FreeButton\(slot\);\n\s*else //"
  "hot keys kept at exit|app/main.cpp|s/^\s*ReleaseAll\(\);\n//m"
  "tray icon kept at exit|app/main.cpp|s/^\s*SetTrayIcon\(NIM_DELETE, [^\n]*\n//m"
  "no start-up capture|app/main.cpp|s/^\s*CaptureAll\(\);\n//m"
  "no wait for the phone|app/main.cpp|s/if \(PhoneIsUp\(\)\) break;/break;/"
  "Exit ends with code 0|app/tray.cpp|s/PostQuitMessage\(EXIT_CODE_MENU\)/PostQuitMessage(0)/"
  "About box not shown|app/tray.cpp|s/MessageBoxW\(g_hWnd, ABOUT_TEXT, ABOUT_CAPTION, MB_OK\);/(void)0;/"
  "a tap in the open menu not ignored|app/tray.cpp|s/if \(g_trayBusy\) return 0;//"
  "WM_CLOSE left to DefWindowProcW|app/main.cpp|s/case WM_CLOSE:/case WM_CLOSE + 0x10000:/"
  "a value of 127 bytes taken|engine/load_key_table.cpp|s/size == sizeof image\)/size + 1 >= sizeof image)/"
)

mkdir -p "$src" "$work/out"
git ls-files -co --exclude-standard | grep -v '^build/' | while read -r f; do
  [ -f "$f" ] && mkdir -p "$src/$(dirname "$f")" && cp "$f" "$src/$f"
done
echo "scratch copy: $src"
(cd "$src" && cmake --preset default > "$work/configure.log")

for m in "${mutations[@]}"; do
  IFS='|' read -r name file expr <<< "$m"
  cp "$file" "$src/$file"  # a fresh time, so that make rebuilds it
  perl -0pi -e "$expr" "$src/$file"
  if cmp -s "$file" "$src/$file"; then
    echo "mutation '$name' did not apply to $file" >&2; exit 2
  fi
  dir="$work/out/$(echo "$name" | tr ' ' '-')"
  mkdir -p "$dir"
  if ! (cd "$src" && cmake --build --preset default --target klavor-soak > "$dir/build.log" 2>&1); then
    echo "mutation '$name' does not build; see $dir/build.log" >&2; exit 2
  fi
  soak_one "$name" "$src/build/default/tests/soak/klavor-soak"
  cp "$file" "$src/$file"  # a fresh time, so that make rebuilds it
done
# Leave the copy's build as the sources are.
(cd "$src" && cmake --build --preset default --target klavor-soak > /dev/null 2>&1) || true

printf '%s' "$report"
echo "$caught caught, $missed missed ($events events each, seed $seed); reproducers in $work/out"
[ $missed -eq 0 ]
