# Sourced by run.sh and test.sh: installs the Debian packages the build needs.
# As root it installs them; otherwise it prints the one command that would.
MIRTE_PACKAGES="cmake ninja-build g++ pkg-config libgtest-dev libbenchmark-dev
  qt6-base-dev libgl-dev libx11-dev fonts-liberation2 poppler-utils clang libclang-rt-14-dev clang-tidy
  clang-tools python3-yaml
  qt6-translations-l10n dpkg-dev xvfb xauth openbox"

mirte_missing_packages() {
  local missing=""
  for p in $MIRTE_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  echo "$missing"
}

mirte_install_packages() {
  local missing
  missing=$(mirte_missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" = 0 ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null && apt-get install -y -q --no-install-recommends $missing >/dev/null \
      || { echo "apt-get install failed"; return 1; }
  else
    echo "MIRTE needs these Debian packages; install them with:"
    echo "  sudo apt-get install$missing"
    return 1
  fi
}
