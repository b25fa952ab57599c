#!/usr/bin/env bash
# Sets up, builds and then runs the reader ("run") or every test ("test") on Debian 12.
#   tools/bootstrap.sh run    install what is missing, build, start the reader
#                             (without a display: one refresh, then the page's path)
#   tools/bootstrap.sh test   install what is missing, build, run every test
#   tools/bootstrap.sh bench  install what is missing, build, run the benchmarks
#   tools/bootstrap.sh fuzz [seconds]
#                             install what is missing (clang too), build the fuzzer in
#                             build-fuzz/, fuzz for that long (600 s by default)
set -euo pipefail
mode=${1:-run}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEL_BUILD_DIR:-$top/build}

packages=(cmake ninja-build g++ pkg-config
          qt6-base-dev qt6-webengine-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
          libxml2-dev libcurl4-openssl-dev zlib1g-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          xvfb xauth trayer xdotool x11-utils imagemagick openbox)
if [ "$mode" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi
if [ "$mode" = bench ]; then
  # Other feed readers, measured beside ours on the same loopback server.
  packages+=(newsboat quiterss)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=(); [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

if [ "$mode" != fuzz ]; then
  cmake -G Ninja -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)"
fi

case "$mode" in
  run)
    exec "$build/src/app/quorvel" "${@:2}"
    ;;
  test)
    (cd "$build" && ctest --output-on-failure -j1 "${@:2}")
    # The windows once more without the browser engine (only the light page view): they
    # build, link no QtWebEngine and pass their tests; the rest is the same code as above.
    cmake -G Ninja -S "$top" -B "$build-noweb" -DQUORVEL_WEBENGINE=OFF -DQUORVEL_BENCH=OFF \
          -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build-noweb" -j"$(nproc)"
    if ldd "$build-noweb/src/app/quorvel_gui.so" | grep -q WebEngine; then
      echo "the build without the browser engine links it" >&2
      exit 1
    fi
    (cd "$build-noweb" && ctest --output-on-failure -j1 -R '^(reader|manager|app)' "${@:2}")
    # The non-GUI tests once more under AddressSanitizer and UBSan.
    cmake -G Ninja -S "$top" -B "$build-sanitize" -DQUORVEL_SANITIZE=ON -DQUORVEL_GUI=OFF \
          -DQUORVEL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build "$build-sanitize" -j"$(nproc)"
    (cd "$build-sanitize" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
       ctest --output-on-failure -j1 "${@:2}")
    ;;
  bench)
    "$build/bench/page_bench"
    "$build/bench/sanitize_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
    "$build/bench/refresh_bench" 200 30 100 5
    "$build/bench/deadfeeds_bench" 5000 5
    BENCH_VIEWS="light web quiterss" python3 "$top/bench/pageview_bench.py" "$build/src/app/quorvel" 3 60
    if [ -x "$build/bench/idle_cpu_bench" ]; then
      BENCH_RUNS=3 "$top/tests/reader/xvfbsession.sh" "$build/bench/idle_cpu_bench" 3 45 \
        "$build/src/app/quorvel" quiterss
    fi
    ;;
  fuzz)
    # Crash, timeout and leak inputs land in build-fuzz/ (crash-*, timeout-*, leak-*);
    # new interesting inputs in build-fuzz/fuzz-corpus/. The shared feed corpora seed it
    # (libFuzzer reads their subfolders too) and stay where they are.
    seconds=${2:-600}
    fuzzbuild=$top/build-fuzz
    CC=clang CXX=clang++ cmake -G Ninja -S "$top" -B "$fuzzbuild" -DQUORVEL_FUZZ=ON \
          -DQUORVEL_GUI=OFF -DQUORVEL_BENCH=OFF -DQUORVEL_TESTS=OFF \
          -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$fuzzbuild" --target feed_fuzzer -j"$(nproc)"
    mkdir -p "$fuzzbuild/fuzz-corpus"
    seeds=()
    for d in "$top/../shared/corpus/feedparser" "$top/../shared/corpus/feedvalidator" \
             "$top/../shared/corpus/realworld" "$top/tests/data/feeds"; do
      if [ -d "$d" ]; then seeds+=("$d"); fi
    done
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "$fuzzbuild/fuzz/feed_fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
        -rss_limit_mb=2048 -dict="$top/fuzz/feed.dict" -artifact_prefix="$fuzzbuild/" \
        "$fuzzbuild/fuzz-corpus" "${seeds[@]}"
    ;;
  *)
    echo "usage: $0 run|test|bench|fuzz [seconds]" >&2
    exit 64
    ;;
esac
