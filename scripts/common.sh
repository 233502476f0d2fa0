# Helpers shared by the project's scripts: messages, package installation
# and the CMake build.

BUILD_PACKAGES=(cmake g++ make pkg-config libpng-dev zlib1g-dev)
TEST_PACKAGES=(libgtest-dev imagemagick clang libclang-rt-14-dev linux-perf)

step() {
  printf '\n==> %s\n' "$*"
}

fail() {
  printf '\nFAILED: %s\n' "$*" >&2
  exit 1
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    fail "installing packages needs root or sudo: $*"
  fi
}

# Installs the Debian packages of the list that are not installed yet.
install_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    step "Packages: all present"
    return
  fi
  step "Installing packages: ${missing[*]}"
  as_root apt-get update -qq || fail "apt-get update"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" \
    || fail "apt-get install ${missing[*]}"
}

# configure_and_build DIR [CMAKE OPTIONS...]
configure_and_build() {
  local dir="$1"
  shift
  cmake -S . -B "$dir" "$@" || fail "configuring $dir"
  cmake --build "$dir" -j "$(nproc)" || fail "building $dir"
}

run_tests() {
  local dir="$1"
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)") || fail "tests in $dir"
}
