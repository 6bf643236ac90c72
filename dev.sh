#!/usr/bin/env bash
# Set-up, build and test of Fendrel on Debian 12.
#   bash dev.sh run    install what is needed, build (Release) and start Fendrel
#   bash dev.sh test   install what is needed, build and run every test
#   bash dev.sh test-sanitized   the tests again, in a Debug build with ASan and UBSan
#   bash dev.sh fuzz [seconds]   fuzz the collection file's reader (clang, ASan, UBSan; 60 s)
#   bash dev.sh fuzz-image [seconds]   fuzz the reader of disc images the same way
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev libgl-dev fonts-dejavu-core
    libiso9660-dev libcdio-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xorriso fp-utils clang libclang-rt-14-dev
    locales
)

say() { printf '\n== %s\n' "$*"; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
    local missing=()
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        say "packages: all installed"
        return
    fi
    say "installing packages: ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The tests check that texts keep their decimal point under a Russian locale; make sure it exists.
ensure_locale() {
    if locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; then
        return
    fi
    say "generating the locale ru_RU.UTF-8"
    if grep -q '^# *ru_RU.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        as_root sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
    elif ! grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        echo 'ru_RU.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    fi
    as_root locale-gen
}

build() { # folder, build type, extra cmake arguments...
    local folder=$1 type=$2
    shift 2
    say "configuring $folder ($type)"
    cmake -S . -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@"
    say "building $folder"
    cmake --build "$folder"
}

configure_fuzz() { # target
    say "configuring build/fuzz (clang, libFuzzer)"
    cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DFENDREL_FUZZ=ON -DFENDREL_TESTS=OFF -DFENDREL_BENCH=OFF
    say "building the fuzz target $1"
    cmake --build build/fuzz --target "$1"
}

run_tests() { # folder
    say "running the tests in $1"
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$1" --output-on-failure -j "$(nproc)"
}

case "${1:-}" in
run)
    install_packages
    ensure_locale
    build build/release Release
    say "starting Fendrel"
    cd build/release && exec ./fendrel
    ;;
test)
    install_packages
    ensure_locale
    build build/release Release
    run_tests build/release
    ;;
test-sanitized)
    install_packages
    ensure_locale
    build build/sanitized Debug -DFENDREL_SANITIZE=ON -DFENDREL_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 run_tests build/sanitized
    ;;
fuzz)
    install_packages
    configure_fuzz fendrel_fuzz_collection_text
    say "fuzzing the collection file's reader for ${2:-60} s"
    # New inputs go to build/fuzz/corpus; the seeds in the repository stay as they are.
    mkdir -p build/fuzz/corpus
    UBSAN_OPTIONS=print_stacktrace=1 build/fuzz/tests/fuzz/fendrel_fuzz_collection_text \
        -max_total_time="${2:-60}" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -dict=tests/fuzz/collection.dict -artifact_prefix=build/fuzz/ build/fuzz/corpus \
        tests/fuzz/corpus
    ;;
fuzz-image)
    install_packages
    configure_fuzz fendrel_fuzz_iso_image
    say "making seed images with xorriso"
    bash tests/fuzz/make-image-seeds.sh build/fuzz/image-seeds
    say "fuzzing the reader of disc images for ${2:-60} s"
    mkdir -p build/fuzz/image-corpus
    UBSAN_OPTIONS=print_stacktrace=1 build/fuzz/tests/fuzz/fendrel_fuzz_iso_image \
        -max_total_time="${2:-60}" -timeout=10 -rss_limit_mb=2048 -max_len=131072 \
        -artifact_prefix=build/fuzz/image- build/fuzz/image-corpus build/fuzz/image-seeds
    ;;
*)
    echo "usage: bash dev.sh run | test | test-sanitized | fuzz [seconds] | fuzz-image [seconds]" >&2
    exit 2
    ;;
esac
