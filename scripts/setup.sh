# Shared by scripts/run and scripts/test: installs the Debian packages the project needs.
# Sourced, not run; expects to be in the repository's top folder.

# What building and running Tesselby and tesselby-contacts needs on a fresh Debian 12 (libxkbcommon-dev
# answers Qt's own look for the keyboard library, which otherwise says "Could NOT find XKB").
TESSELBY_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-qpa-plugins libxkbcommon-dev
    libcurl4-openssl-dev libexpat1-dev
    fonts-dejavu-core fonts-liberation2
)

# What scripts/test needs on top: the tests' doctest, Google Benchmark, clang and its fuzzing runtime,
# and the tools that check the desktop entry, the AppStream metadata and the package.
TESSELBY_TEST_PACKAGES=(
    doctest-dev libbenchmark-dev
    clang libclang-rt-14-dev
    dpkg-dev desktop-file-utils appstream
    python3-radicale xandikos vdirsyncer
)

# What scripts/test-windows needs on top: the MinGW-w64 cross compiler and Wine to run its programs.
TESSELBY_WINDOWS_PACKAGES=(
    cmake ninja-build doctest-dev
    g++-mingw-w64-x86-64-posix wine64
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "Installing packages needs root, and sudo is not available: $*" >&2
        return 1
    fi
}

# Installs the packages named that are not installed yet.
install_missing_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures (once, unless TESSELBY_RECONFIGURE=1) and builds one build folder. Arguments go to CMake's configure step, up to a "--";
# the targets named after it are the only ones built (without any, everything is).
configure_and_build() {
    local folder=$1
    shift
    local configure=() targets=()
    while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
        configure+=("$1")
        shift
    done
    [ "$#" -gt 0 ] && shift
    targets=("$@")
    # Configured again when asked (TESSELBY_RECONFIGURE=1): a folder scripts/run configured left out
    # what its packages did not have.
    if [ ! -f "$folder/CMakeCache.txt" ] || [ "${TESSELBY_RECONFIGURE:-0}" = 1 ]; then
        if [ "${configure[0]:-}" = "-S" ]; then
            cmake -B "$folder" -G Ninja "${configure[@]}"
        else
            cmake -S . -B "$folder" -G Ninja "${configure[@]}"
        fi
    fi
    if [ "${#targets[@]}" -eq 0 ]; then
        cmake --build "$folder" --parallel "$(nproc)"
    else
        cmake --build "$folder" --parallel "$(nproc)" --target "${targets[@]}"
    fi
}
