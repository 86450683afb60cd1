#!/usr/bin/env bash
# Installs every Debian package the build, the data generators and the tests need.
# Idempotent: packages already present are skipped; apt-get update runs at most once.
set -euo pipefail

PACKAGES=(
  # toolchain and test frameworks
  build-essential cmake ninja-build pkg-config git ccache
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # libraries
  libsqlite3-dev sqlite3
  libsunpinyin-dev sunpinyin-data
  libopencc-dev opencc
  libplist-dev libplist++-dev
  libsdbus-c++-dev libsystemd-dev dbus dbus-daemon
  libicu-dev libuchardet-dev
  # open data the bundle resources are generated from
  unicode-data unicode-cldr-core wamerican wamerican-large wamerican-huge
  rime-data-pinyin-simp ibus-table-wubi
  rime-data-luna-pinyin rime-data-emoji scowl bzip2
  rime-data-double-pinyin rime-data-wubi rime-data-cangjie5 rime-data-stroke fcitx-pinyin
  # SunPinyin's model files, converted from libime's language model and
  # dictionary with libime's library and SunPinyin's own tools
  libime-bin libimecore-dev libfcitx5utils-dev libime-data libime-data-language-model sunpinyin-utils
  # desktop: IBus, Qt 6 widgets, CJK fonts; a private X server and key
  # injection for the end-to-end tests, and a GTK 3 text field typed into
  # through GTK's IBus module
  ibus libibus-1.0-dev libxcb1-dev qt6-base-dev qt6-translations-l10n fonts-noto-cjk
  xvfb xdotool x11-utils
  libgtk-3-dev ibus-gtk3
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
