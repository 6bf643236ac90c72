#!/usr/bin/env bash
# Set-up, build and test of Fendrel on Debian 12.
#   bash dev.sh run    install what is needed, build (Release) and start Fendrel
#   bash dev.sh test   install what is needed, build and run every test
#   bash dev.sh test-sanitized   the tests again, in a Debug build with ASan and UBSan
#   bash dev.sh fuzz [seconds]   fuzz the collection file's reader (clang, ASan, UBSan; 60 s)
#   bash dev.sh fuzz-index [seconds]   fuzz the name index the same way
#   bash dev.sh fuzz-image [seconds]   fuzz the reader of disc images the same way
#   bash dev.sh fuzz-udf [seconds]   fuzz the reader of UDF images the same way
#   bash dev.sh fuzz-mount [seconds]   fuzz fendrel-mount's tree of a collection the same way
#   bash dev.sh package  make the Debian package (build/release/fendrel_*.deb) and check its contents
#   bash dev.sh screenshot   photograph the main window under Xvfb into doc/screenshot.png
#   bash dev.sh icons    render the application icon's PNGs from app/icons/fendrel.svg
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev libqt6printsupport6 qt6-translations-l10n libgl-dev fonts-dejavu-core
    libiso9660-dev libcdio-dev libicu-dev libxxhash-dev libpcre2-dev
    libgtest-dev libgmock-dev libbenchmark-dev libfuse3-dev fuse3
    xorriso udftools genisoimage 7zip fp-utils clang libclang-rt-14-dev
    locales desktop-file-utils python3 poppler-utils dbus-daemon
)
# Needed only by the commands named.
SCREENSHOT_PACKAGES=(xvfb xauth openbox)
ICON_PACKAGES=(librsvg2-bin)

say() { printf '\n== %s\n' "$*"; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() { # packages... (all of PACKAGES when none are named)
    local missing=()
    [ $# -gt 0 ] || set -- "${PACKAGES[@]}"
    for package in "$@"; do
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
    # Root reads and writes past permission bits, so the tests of refused access skip there;
    # run them once more as an unprivileged user.
    if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
        say "running the access tests in $1 as an unprivileged user"
        HOME=/tmp setpriv --reuid=65534 --regid=65534 --clear-groups \
            "$1/tests/fendrel_core_tests" --gtest_brief=1 \
            --gtest_filter='CollectionFileStore.ReadOnly*:MountedDisc.Unreadable*:FileContents.Unreadable*:DiscCheck.Unreadable*'
    fi
}

# Unpacks the package into a throwaway folder and checks what a fresh machine would get: the
# files, the desktop entry, and that the program finds every library it links.
check_package() ( # package file
    deb=$1
    root=$(mktemp -d)
    trap 'rm -rf "$root"' EXIT
    fail() {
        echo "package check: $*" >&2
        exit 1
    }
    say "checking $deb"
    dpkg-deb -I "$deb"
    dpkg -x "$deb" "$root"

    expected=(
        usr/bin/fendrel
        usr/bin/fendrel-find
        usr/bin/fendrel-mount
        usr/share/applications/fendrel.desktop
        usr/share/fendrel/Fendrel.chm
        usr/share/fendrel/help/index.html
        usr/share/fendrel/help/collection.html
        usr/share/fendrel/help/discs.html
        usr/share/fendrel/help/browse.html
        usr/share/fendrel/help/find.html
        usr/share/fendrel/help/folder.html
        usr/share/fendrel/help/style.css
        usr/share/icons/hicolor/scalable/apps/fendrel.svg
    )
    for size in 16 22 24 32 48 64 128 256; do
        expected+=("usr/share/icons/hicolor/${size}x${size}/apps/fendrel.png")
    done
    packed=$(cd "$root" && find . -type f | sed 's|^\./||' | sort)
    diff <(printf '%s\n' "${expected[@]}" | sort) <(echo "$packed") ||
        fail "the files differ from the expected list (<) by those marked >"

    entry=$root/usr/share/applications/fendrel.desktop
    desktop-file-validate "$entry" || fail "the desktop entry is not valid"
    grep -qx 'Exec=/usr/bin/fendrel' "$entry" || fail "the desktop entry starts another program"
    grep -qx 'Path=/usr/share/fendrel' "$entry" || fail "the desktop entry starts away from the help"

    for program in fendrel fendrel-find fendrel-mount; do
        libraries=$(ldd "$root/usr/bin/$program") || fail "ldd cannot read $program"
        ! grep 'not found' <<<"$libraries" || fail "$program does not find the libraries above"
    done
    ! ldd "$root/usr/bin/fendrel-find" | grep -qE 'libQt6|libicu|libpcre2|libstdc' ||
        fail "fendrel-find links shared libraries that it should hold (only glibc's are shared)"
    depends=$(dpkg-deb -f "$deb" Depends)
    for library in libqt6widgets6 libiso9660 libcdio libicu qt6-translations-l10n libfuse3 fuse3; do
        grep -q "$library" <<<"$depends" || fail "no dependency on $library"
    done
    say "the package holds what it should"
)

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
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests build/sanitized
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
fuzz-index)
    install_packages
    configure_fuzz fendrel_fuzz_name_index
    say "fuzzing the name index for ${2:-60} s"
    # Its inputs are collection files too: it starts from the same seeds.
    mkdir -p build/fuzz/index-corpus
    UBSAN_OPTIONS=print_stacktrace=1 build/fuzz/tests/fuzz/fendrel_fuzz_name_index \
        -max_total_time="${2:-60}" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -dict=tests/fuzz/collection.dict -artifact_prefix=build/fuzz/index- \
        build/fuzz/index-corpus tests/fuzz/corpus
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
fuzz-udf)
    install_packages
    configure_fuzz fendrel_fuzz_udf_image
    say "making seed images with mkudffs and genisoimage"
    bash tests/fuzz/make-udf-seeds.sh build/fuzz/udf-seeds
    say "fuzzing the reader of UDF images for ${2:-60} s"
    mkdir -p build/fuzz/udf-corpus
    UBSAN_OPTIONS=print_stacktrace=1 build/fuzz/tests/fuzz/fendrel_fuzz_udf_image \
        -max_total_time="${2:-60}" -timeout=10 -rss_limit_mb=2048 -max_len=262144 \
        -artifact_prefix=build/fuzz/udf- build/fuzz/udf-corpus build/fuzz/udf-seeds
    ;;
fuzz-mount)
    install_packages
    configure_fuzz fendrel_fuzz_mount_view
    say "fuzzing fendrel-mount's tree for ${2:-60} s"
    # Its inputs are collection files: it starts from the same seeds.
    mkdir -p build/fuzz/mount-corpus
    UBSAN_OPTIONS=print_stacktrace=1 build/fuzz/tests/fuzz/fendrel_fuzz_mount_view \
        -max_total_time="${2:-60}" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -dict=tests/fuzz/collection.dict -artifact_prefix=build/fuzz/mount- \
        build/fuzz/mount-corpus tests/fuzz/corpus
    ;;
package)
    install_packages
    ensure_locale
    # The package installs under /usr, and the desktop entry names the paths there. Only the
    # install prefix differs from the test build, so this reuses what `test` built.
    build build/release Release -DCMAKE_INSTALL_PREFIX=/usr
    say "making the Debian package"
    rm -f build/release/fendrel_*.deb
    (cd build/release && cpack -G DEB)
    check_package build/release/fendrel_*.deb
    ;;
screenshot)
    install_packages
    install_packages "${SCREENSHOT_PACKAGES[@]}"
    build build/release Release
    say "photographing the main window under Xvfb"
    sample=/tmp/fendrel-screenshot
    rm -rf "$sample" && mkdir -p "$sample"
    # A real X server with a window manager, so that the picture has the window's frame and
    # title; the program draws with the xcb platform as on a desktop. The window manager is given
    # a second to start: a window shown before it runs has no frame, and on a busy machine the
    # picture came out black.
    xvfb-run -a -s "-screen 0 1024x700x24" sh -c \
        'openbox >/dev/null 2>&1 & sleep 1; QT_QPA_PLATFORM=xcb "$1" "$2" "$3"' sh \
        build/release/tools/fendrel_screenshot "$sample" doc/screenshot.png
    rm -rf "$sample"
    say "doc/screenshot.png written"
    ;;
icons)
    install_packages "${ICON_PACKAGES[@]}"
    for size in 16 22 24 32 48 64 128 256; do
        rsvg-convert -w "$size" -h "$size" app/icons/fendrel.svg -o "app/icons/fendrel-$size.png"
    done
    say "app/icons/fendrel-*.png rendered"
    ;;
*)
    echo "usage: bash dev.sh run | test | test-sanitized | fuzz [seconds] | fuzz-index [seconds] |" \
        "fuzz-image [seconds] | fuzz-udf [seconds] | fuzz-mount [seconds] | package | screenshot |" \
        "icons" >&2
    exit 2
    ;;
esac
