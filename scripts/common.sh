# Shared by run.sh and test.sh: install what is missing, then configure and build.
# Sourced, not run.

# Every Debian package the build, the show, the tests and the benchmarks need.
PELMIRA_PACKAGES=(
    build-essential cmake pkg-config
    libsdl2-dev libgl-dev libglu1-mesa-dev libgl1-mesa-dri libegl1
    libfreetype-dev libfontconfig-dev fonts-dejavu-core libpulse-dev libasound2-dev
    libx11-dev libpng-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xdotool libxtst6 x11-utils ffmpeg python3
    xserver-xorg-video-dummy x11-xserver-utils
    g++-mingw-w64-x86-64-win32 wine64 zip # the Windows build and its tests
    dpkg-dev file lintian man-db desktop-file-utils appstream
    libwayland-dev
    # real desktop pieces the end-to-end tests start: a sound server and its
    # tools (PulseAudio, and PipeWire with its pulse server and session manager),
    # a window manager and a compositing manager, a Wayland compositor
    # and its X server, and dbus-launch, which a show must not leave running
    pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus openbox xcompmgr weston xwayland dbus-x11
    # the web page: its compiler, and a browser and node for its tests (npm
    # comes with Node where Node is not Debian's: pelmira_web_driver)
    emscripten chromium nodejs
)

pelmira_install_missing() {
    local missing=() p
    for p in "${PELMIRA_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    # Several checkouts on one machine may install at once; apt allows one.
    $sudo flock /var/lock/pelmira-apt.lock sh -c \
        'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"' \
        apt "${missing[@]}"
}

# pelmira_build DIR BUILD_TYPE [extra cmake args...]
pelmira_build() {
    local dir=$1 type=$2
    shift 2
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
    fi
    cmake --build "$dir" -j"$(nproc)"
}

# The web tests' browser driver (puppeteer-core), as tests/web/package-lock.json
# pins it; nothing is done when it is there already.
pelmira_web_driver() {
    [ -d tests/web/node_modules/puppeteer-core ] && return 0
    if ! command -v npm >/dev/null; then
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo flock /var/lock/pelmira-apt.lock sh -c \
            'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm'
    fi
    (cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
}
