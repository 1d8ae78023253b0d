#!/usr/bin/env bash
# Installs what the long interoperability runs of the web link need beyond tools/install-deps.sh: LibreOffice
# Calc without its desktop extras (headless conversion of a =WEBSERVICE document), Chromium (headless loading
# of the dashboard) and wrk (the web link benchmark). Kept apart so that the default set-up stays small.
# Safe to run again; needs root (or sudo).
set -euo pipefail

packages=(libreoffice-calc chromium wrk)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
