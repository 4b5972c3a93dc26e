#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Moonforge need.
# Idempotent: does nothing when every package is already installed. Runs apt as
# root directly, or through sudo when it is available.
set -euo pipefail

PACKAGES=(
  # build tools
  build-essential cmake ninja-build pkg-config ruby rake bison gperf dpkg-dev binutils
  # libraries
  libsdl2-dev libphysfs-dev libopenal-dev libstb-dev libmpg123-dev liblodepng-dev
  zlib1g-dev libcjson-dev libexpat1-dev libcurl4 libcurl4-openssl-dev fonts-dejavu-core
  # tests
  googletest libgtest-dev xvfb xdotool zip unzip sox lame curl python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# mruby's source package is fetched with apt-get source, which needs a deb-src entry.
need_src=0
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  need_src=1
fi

[ ${#missing[@]} -eq 0 ] && [ $need_src -eq 0 ] && exit 0

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=(sudo); else
    echo "deps: these packages are missing and I am not root (no sudo): ${missing[*]}" >&2
    exit 1
  fi
fi

if [ $need_src -eq 1 ]; then
  echo "deps: adding a deb-src entry for bookworm main"
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    | "${SUDO[@]}" tee /etc/apt/sources.list.d/moonforge-src.sources >/dev/null
fi

echo "deps: installing ${missing[*]:-(source index only)}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
[ ${#missing[@]} -eq 0 ] || "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
