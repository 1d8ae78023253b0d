#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing NV Zalvento need.
# Safe to run again: apt-get skips what is already there. Needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build
  qt6-base-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev
  libgtest-dev libgmock-dev libbenchmark-dev pxlib-dev
  # sd_notify for the user unit's readiness and watchdog.
  pkg-config libsystemd-dev
  dbus libglib2.0-bin xvfb xauth x11-utils imagemagick python3 curl openssl nginx-light fonts-liberation2
  # Tools the tests run: busctl and systemd-analyze (systemd), man for the user unit's check (man-db),
  # the desktop entry and metainfo validators, and the Debian package's build (dpkg-dev, file) and check.
  systemd man-db desktop-file-utils appstream dpkg-dev file lintian
)

exec bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"
