#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the viewer need.
# Idempotent: packages already present are not touched, and apt is not
# called at all when nothing is missing.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-dev
  # test and benchmark frameworks
  libgtest-dev libgmock-dev libbenchmark-dev
  # an independent reader of the X and glTF files we write, for the tests only
  libassimp-dev
  # glTF out: the writer library and the JSON library it is built on; node
  # runs the glTF validator of the tests (installed from npm into the build
  # tree by tools/gltf/install_validator.sh)
  libtinygltf-dev nlohmann-json3-dev nodejs
  # window, rendering, physics, fonts, pictures
  libsdl2-dev libx11-dev libgl-dev libegl-dev libgl1-mesa-dri libegl-mesa0
  libbullet-dev libfreetype-dev libfontconfig-dev fonts-ipafont-gothic
  libstb-dev libjpeg62-turbo-dev
  # music: decoding (WAV, FLAC, OGG, MP3)
  libsndfile1-dev
  # video out: FFmpeg's libraries (H.264 through libx264, AAC), and ffmpeg's
  # own reader for the tests
  libavcodec-dev libavformat-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg
  # file dialogs at run time
  zenity
  # end-to-end tests under a virtual display
  xvfb xauth xdotool x11-utils imagemagick
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# npm: Debian's own package, unless the installed node already brings an npm
# (some node builds do, and then conflict with Debian's npm package)
command -v npm >/dev/null || missing+=(npm)
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
