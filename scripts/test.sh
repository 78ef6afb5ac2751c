#!/usr/bin/env bash
# The project's test command. On a fresh Debian 12 machine (as root) it installs what it needs,
# checks the formatting, builds every preset with warnings as errors, runs the native suite, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the Windows suite under Wine,
# and every fuzz target for a fixed number of inputs. Exits non-zero when anything fails.
#
#   bash scripts/test.sh                    the full run
#   bash scripts/test.sh --quick            native and Windows only: no asan, no fuzz
#   bash scripts/test.sh --build-root DIR   build folders DIR/<preset> instead of build/<preset>
#   bash scripts/test.sh --only PRESET      one build and what runs on it: native, asan, win64
#                                           (the Windows suite under Wine), win32 (the shipping
#                                           folder) or fuzz
#   bash scripts/test.sh --tests REGEX      only the ctest entries that match (ctest -R)
#   bash scripts/test.sh --fuzz-seconds N   every fuzz target for N seconds instead of a fixed
#                                           number of inputs (a longer hunt; the seed still fixed)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

quick=0
build_root=$root/build
fuzz_seconds=
only=
tests_regex=
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --build-root)
      [ $# -ge 2 ] || { echo "test.sh: --build-root needs a folder" >&2; exit 2; }
      build_root=$(mkdir -p "$2" && cd "$2" && pwd)
      shift ;;
    --only)
      [[ $# -ge 2 && $2 =~ ^(native|asan|win64|win32|fuzz)$ ]] ||
        { echo "test.sh: --only needs one of native, asan, win64, win32, fuzz" >&2; exit 2; }
      only=$2
      shift ;;
    --tests)
      [ $# -ge 2 ] || { echo "test.sh: --tests needs a regular expression" >&2; exit 2; }
      tests_regex=$2
      shift ;;
    --fuzz-seconds)
      [[ $# -ge 2 && $2 =~ ^[1-9][0-9]*$ ]] || { echo "test.sh: --fuzz-seconds needs a number of seconds" >&2; exit 2; }
      fuzz_seconds=$2
      shift ;;
    -h | --help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

fuzz_runs=20000
fuzz_seed=1
logs=$build_root/test-logs
mkdir -p "$logs"

step_names=()
step_times=()
step_results=()
suite_lines=()
failures=0
passed_total=0
failed_total=0

section() {
  echo
  echo "==================== $* ===================="
}

# record <name> <seconds> <ok|FAILED>
record() {
  step_names+=("$1")
  step_times+=("$2")
  step_results+=("$3")
  [ "$3" = FAILED ] && failures=$((failures + 1))
  return 0
}

# Runs a command with its output in a log; shows the log's end only when it fails.
quiet_step() {
  local name=$1 log=$logs/$2
  shift 2
  section "$name"
  local start=$SECONDS
  if "$@" >"$log" 2>&1; then
    echo "ok ($((SECONDS - start)) s)"
    record "$name" $((SECONDS - start)) ok
    return 0
  fi
  tail -n 150 "$log"
  echo "FAILED ($((SECONDS - start)) s); full output: $log"
  record "$name" $((SECONDS - start)) FAILED
  failed_total=$((failed_total + 1))
  return 1
}

declare -A built=()

build_preset() {
  local preset=$1
  local dir=$build_root/$preset
  quiet_step "configure and build $preset" "build-$preset.log" \
    bash -c 'cmake --preset "$1" -B "$2" -DSOLMERE_WERROR=ON && cmake --build "$2" -j2' _ "$preset" "$dir" &&
    built[$preset]=1
}

# run_ctest <preset>: ctest with the parallelism and timeout of the test preset of that name
# (CMakePresets.json, the one place for them), against this run's build folder.
run_ctest() {
  local preset=$1 jobs timeout
  read -r jobs timeout < <(cmake -DPRESET="$preset" -P "$root/cmake/TestPresetExecution.cmake")
  local name="ctest $preset"
  section "$name"
  if [ -z "${built[$preset]:-}" ]; then
    echo "skipped: the $preset build failed"
    record "$name" 0 FAILED
    suite_lines+=("$preset: not run, the build failed")
    return
  fi
  local log=$logs/ctest-$preset.log start=$SECONDS status=0
  local filter=()
  [ -n "$tests_regex" ] && filter=(-R "$tests_regex")
  ctest --test-dir "$build_root/$preset" --output-on-failure --no-tests=error -j "$jobs" --timeout "$timeout" \
    "${filter[@]}" 2>&1 | tee "$log" || status=$?
  local summary
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$summary" ]; then
    local failed total
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$summary")
    passed_total=$((passed_total + total - failed))
    failed_total=$((failed_total + failed))
    suite_lines+=("$preset: $summary")
  else
    failed_total=$((failed_total + 1))
    suite_lines+=("$preset: ctest gave no summary (exit $status)")
  fi
  if [ "$status" -eq 0 ]; then
    record "$name" $((SECONDS - start)) ok
  else
    record "$name" $((SECONDS - start)) FAILED
  fi
}

xvfb_pid=
wine_started=0

stop_headless_windows() {
  if [ "$wine_started" = 1 ]; then
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    wine_started=0
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  fi
}
trap stop_headless_windows EXIT
trap 'exit 130' INT TERM

# An X server of this run's own, on a display number it picks itself among the free ones.
start_xvfb() {
  local display_file=$logs/xvfb-display
  rm -f "$display_file"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file" >"$logs/xvfb.log" 2>&1 &
  xvfb_pid=$!
  local tries=0
  until [ -s "$display_file" ]; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null || [ $tries -ge 100 ]; then
      cat "$logs/xvfb.log"
      return 1
    fi
    sleep 0.1
    tries=$((tries + 1))
  done
  export DISPLAY=:$(tr -d '[:space:]' <"$display_file")
  # The run's own X server: scripts that would otherwise start one of their own use it, so that
  # every Wine program of the run shares one display with the run's one Wine server.
  export SOLMERE_RUN_DISPLAY=$DISPLAY
  echo "Xvfb on display $DISPLAY"
}

run_windows_suite() {
  section "Xvfb and Wine prefix"
  local start=$SECONDS
  if [ -z "${built[win64]:-}" ]; then
    echo "skipped: the win64 build failed"
    record "Xvfb and Wine prefix" 0 FAILED
    record "ctest win64" 0 FAILED
    suite_lines+=("win64: not run, the build failed")
    return
  fi
  # Quiet, no add-on installer prompts, a prefix of this run's own; the emulator script
  # (scripts/wine-run.sh) uses the same settings and makes the prefix when it is missing.
  export WINEPREFIX=$build_root/wineprefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
  wine_started=1
  if ! start_xvfb; then
    echo "FAILED: Xvfb did not start"
    record "Xvfb and Wine prefix" $((SECONDS - start)) FAILED
    failed_total=$((failed_total + 1))
    return
  fi
  if ! timeout 400 "$root/scripts/wine-run.sh" cmd.exe /c ver </dev/null; then
    echo "FAILED: Wine does not run in $WINEPREFIX"
    record "Xvfb and Wine prefix" $((SECONDS - start)) FAILED
    failed_total=$((failed_total + 1))
    return
  fi
  # One Wine server for the whole suite: left to itself it ends a few seconds after its last
  # program, and a test that starts in that moment dies with "recvmsg: Connection reset by peer".
  timeout 60 wineserver -w || true
  # The server's first program starts Wine's own services, which keep its output open for as
  # long as the server lasts: a program of nobody's output, so that no test's output stays open.
  if ! wineserver -p || ! timeout 400 "$root/scripts/wine-run.sh" cmd.exe /c ver </dev/null >/dev/null 2>&1; then
    echo "FAILED: no lasting Wine server for $WINEPREFIX"
    record "Xvfb and Wine prefix" $((SECONDS - start)) FAILED
    failed_total=$((failed_total + 1))
    return
  fi
  echo "ok ($((SECONDS - start)) s)"
  record "Xvfb and Wine prefix" $((SECONDS - start)) ok
  run_ctest win64
}

fuzz_targets=()

run_fuzzers() {
  local dir=$build_root/fuzz/fuzz
  if [ -z "${built[fuzz]:-}" ]; then
    section "fuzz"
    echo "skipped: the fuzz build failed"
    record "fuzz" 0 FAILED
    return
  fi
  local fuzzer
  for fuzzer in "$dir"/*_fuzzer; do
    [ -x "$fuzzer" ] || continue
    local name
    name=$(basename "$fuzzer" _fuzzer)
    fuzz_targets+=("$name")
    local length=(-runs="$fuzz_runs") length_text="$fuzz_runs inputs"
    [ -n "$fuzz_seconds" ] && length=(-max_total_time="$fuzz_seconds") length_text="$fuzz_seconds s"
    section "fuzz $name ($length_text, seed $fuzz_seed)"
    local start=$SECONDS corpus=$build_root/fuzz/corpus/$name log=$logs/fuzz-$name.log
    # A fresh corpus every run: the same seeds and the same inputs each time.
    rm -rf "$corpus"
    mkdir -p "$corpus"
    if [ -x "$dir/${name}_seeds" ] && ! "$dir/${name}_seeds" "$corpus"; then
      echo "FAILED: the seed generator ${name}_seeds failed"
      record "fuzz $name" $((SECONDS - start)) FAILED
      failed_total=$((failed_total + 1))
      continue
    fi
    echo "seed corpus: $(find "$corpus" -type f | wc -l) files"
    # No single allocation may approach 256 MiB for inputs of a few KiB: one that does was
    # sized by an untrusted count.
    if "$fuzzer" "${length[@]}" -seed=$fuzz_seed -timeout=30 -malloc_limit_mb=256 -rss_limit_mb=2048 \
      -artifact_prefix="$logs/fuzz-$name-" "$corpus" >"$log" 2>&1; then
      grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$log" || tail -n 3 "$log"
      echo "ok ($((SECONDS - start)) s)"
      record "fuzz $name" $((SECONDS - start)) ok
      passed_total=$((passed_total + 1))
    else
      tail -n 80 "$log"
      echo "FAILED ($((SECONDS - start)) s); full output: $log; failing inputs: $logs/fuzz-$name-*"
      record "fuzz $name" $((SECONDS - start)) FAILED
      failed_total=$((failed_total + 1))
    fi
  done
  if [ ${#fuzz_targets[@]} -eq 0 ]; then
    section "fuzz"
    echo "FAILED: no fuzz target was built in $dir"
    record "fuzz" 0 FAILED
    failed_total=$((failed_total + 1))
  fi
}

total_start=$SECONDS

quiet_step "set-up (scripts/setup.sh)" setup.log bash "$root/scripts/setup.sh" || {
  echo "test.sh: the set-up failed; nothing can be built" >&2
  exit 1
}

# Every C++ file as .clang-format says; a few seconds, so every kind of run checks it.
quiet_step "formatting (clang-format)" format.log bash "$root/scripts/check_format.sh"
quiet_step "layers (includes point down)" layers.log bash "$root/scripts/check_layers.sh"

presets=(native win64 win32)
[ $quick = 1 ] || presets=(native asan win64 win32 fuzz)
[ -n "$only" ] && presets=("$only")
for preset in "${presets[@]}"; do
  build_preset "$preset"
done
# Whether this run includes the steps of a preset.
runs() {
  [[ " ${presets[*]} " == *" $1 "* ]]
}

if runs native; then
  run_ctest native
  # The README's first command's job: publish, nginx and patcher-cli bring a sample client up to date.
  if [ -n "${built[native]:-}" ]; then
    quiet_step "main job (sample update)" main-job.log bash "$root/tools/patcher-cli/sample-update.sh" \
      "$build_root/native" && tail -n 8 "$logs/main-job.log"
  fi
fi
# The operators' shipping folder and zip, from the 32-bit build.
if runs win32; then
  if [ -n "${built[win32]:-}" ]; then
    quiet_step "shipping folder and zip (win32)" ship.log bash "$root/scripts/ship.sh" "$build_root/win32" &&
      tail -n 2 "$logs/ship.log"
  else
    section "shipping folder and zip (win32)"
    echo "skipped: the win32 build failed"
    record "shipping folder and zip (win32)" 0 FAILED
  fi
fi
runs asan && run_ctest asan
if runs win64; then
  run_windows_suite
  stop_headless_windows
fi
runs fuzz && run_fuzzers

section "summary"
for i in "${!step_names[@]}"; do
  printf '%-34s %5s s  %s\n' "${step_names[$i]}" "${step_times[$i]}" "${step_results[$i]}"
done
printf '%-34s %5s s\n' "total" $((SECONDS - total_start))
echo
for line in "${suite_lines[@]}"; do
  echo "$line"
done
[ $quick = 1 ] && [ -z "$only" ] && echo "quick run: asan and the fuzz targets were skipped"
[ -n "$only" ] && echo "only $only was built and run"
echo
if [ $failures -eq 0 ]; then
  echo "ALL PASSED"
else
  echo "FAILED: $failures step(s)"
fi
echo "tests: $passed_total passed, $failed_total failed"
[ $failures -eq 0 ]
