#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tarnwickloft, builds it, and runs it or its tests.
#
#   tools/setup.sh run               install what is missing, build, start the application
#   tools/setup.sh test              install what is missing, build, fuzz briefly, run all tests,
#                                    then the unit tests again under the sanitizers, and the
#                                    engine's under ThreadSanitizer
#
# Packages are installed with apt-get, through sudo when not run as root.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-}
[ $# -gt 0 ] && shift

packages=(build-essential cmake ninja-build pkg-config libglib2.0-dev libicu-dev shared-mime-info qt6-base-dev libqt6svg6
  fonts-dejavu-core libarchive-dev libexpat1-dev liblz4-dev poppler-utils)
# The document tests make their documents with real tools: pandoc, groff and ghostscript,
# qpdf (an encrypted PDF), openpyxl and odfpy (spreadsheets and presentations).
test_packages=(libgtest-dev clang libclang-rt-14-dev xvfb xdotool desktop-file-utils libglib2.0-bin
  dpkg-dev file lintian appstream man-db dbus-daemon libfuse3-dev fuse3 ripgrep
  libxcb1-dev bc adwaita-qt6 x11-utils openbox pandoc groff ghostscript qpdf python3-openpyxl python3-odf)

usage() {
  sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {  # build-folder cmake-options...
  local folder=$1
  shift
  cmake -S "$top" -B "$folder" -G Ninja "$@" >/dev/null
  ninja -C "$folder" -j 2
}

# Short fuzzing runs of the code that reads bytes from disk; any crash fails the tests.
fuzz() {
  cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DTARNWICKLOFT_FUZZ=ON -DTARNWICKLOFT_TESTS=OFF >/dev/null
  ninja -C "$top/build-fuzz" -j 2 message_fuzz resource_fuzz fold_fuzz magic_fuzz document_fuzz >/dev/null
  # Records as large as a megabyte, each read within 2 s: reading must stay linear in size.
  fuzz_one message_fuzz "$top/tests/fuzz/seeds" -dict="$top/tests/fuzz/message.dict" \
    -max_len=1048576 -timeout=2
  fuzz_one resource_fuzz "$top/tests/fuzz/resource-seeds" -max_len=16384
  # The case folding and the matcher: pieces fold as the whole does, and find what it holds.
  fuzz_one fold_fuzz "$top/tests/fuzz/fold-seeds" -max_len=8192
  # The MIME database cache: any bytes, each head and name tried against it within 2 s.
  fuzz_one magic_fuzz "$top/tests/fuzz/magic-seeds" -max_len=65536 -timeout=2
  # Document packages: zips as given and XML parts in well-formed packages, each within 5 s.
  fuzz_one document_fuzz "$top/tests/fuzz/document-seeds" -max_len=65536 -timeout=5 -rss_limit_mb=4096
}

fuzz_one() {  # target seed-folder options...
  local target=$1 seeds=$2 corpus
  shift 2
  echo "fuzzing $target for ${FUZZ_SECONDS:-20} s"
  corpus=$(mktemp -d)
  cp "$seeds"/* "$corpus"
  # Crash and timeout inputs are written to the build folder, never the source tree.
  "$top/build-fuzz/tests/fuzz/$target" -max_total_time="${FUZZ_SECONDS:-20}" \
    -artifact_prefix="$top/build-fuzz/" "$@" "$corpus" 2>&1 | tail -n 1
  rm -rf "$corpus"
}

# The unit tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer: any
# memory error, leak or undefined behaviour fails them.
sanitized_unit_tests() {
  echo "unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  build "$top/build-sanitize" -DTARNWICKLOFT_TESTS=ON -DTARNWICKLOFT_WERROR=ON \
    -DTARNWICKLOFT_SANITIZE=ON >/dev/null
  (cd "$top/build-sanitize" &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions="$top/tests/sanitizer/lsan.supp":print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j 2 -L unit)
}

# The tests of the search engine and of what its threads share, and the window's tests of its
# searches (the search beside the window, its news, held input), built with ThreadSanitizer: a
# data race between the walk, the threads that read files and the window fails them.
thread_sanitized_engine_tests() {
  echo "the engine's and the window's search tests under ThreadSanitizer"
  cmake -S "$top" -B "$top/build-tsan" -G Ninja -DTARNWICKLOFT_TESTS=ON -DTARNWICKLOFT_WERROR=ON \
    -DTARNWICKLOFT_TSAN=ON >/dev/null
  ninja -C "$top/build-tsan" -j 2 search_tests tools_tests platform_tests window_tests >/dev/null
  export TSAN_OPTIONS="halt_on_error=1 suppressions=$top/tests/sanitizer/tsan.supp"
  "$top/build-tsan/tests/search_tests" --gtest_brief=1
  "$top/build-tsan/tests/tools_tests" --gtest_brief=1
  "$top/build-tsan/tests/platform_tests" --gtest_brief=1 --gtest_filter='PathLink*'
  (cd "$top/build-tsan/tests" && QT_QPA_PLATFORM=offscreen ./window_tests --gtest_brief=1 \
    --gtest_filter='LiveSearch*:TypeOrder*:SearchRunTest*:TarnWinTest*:SavedSearchTest.ATypeTick*')
}

case $mode in
  run)
    install_missing "${packages[@]}"
    build "$top/build" -DTARNWICKLOFT_TESTS=OFF >/dev/null
    exec "$top/build/app/tarnwickloft"
    ;;
  test)
    install_missing "${packages[@]}" "${test_packages[@]}"
    fuzz
    build "$top/build" -DTARNWICKLOFT_TESTS=ON -DTARNWICKLOFT_WERROR=ON
    (cd "$top/build" && ctest --output-on-failure -j 2)
    sanitized_unit_tests
    thread_sanitized_engine_tests
    ;;
  *) usage ;;
esac
