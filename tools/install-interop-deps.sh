#!/usr/bin/env bash
# Installs what the long interoperability runs of the web link need beyond tools/install-deps.sh: LibreOffice
# Calc without its desktop extras (headless conversion of a =WEBSERVICE document), Chromium (headless loading
# of the dashboard) and wrk (the web link benchmark). Kept apart so that the default set-up stays small.
# Safe to run again; needs root (or sudo).
set -euo pipefail

packages=(libreoffice-calc chromium wrk)

exec bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"
