#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the suite.
#   scripts/setup.sh        (uses sudo when not run as root)
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
# python3 reads the run records back in the end-to-end tests. The printer:
# libcrypto digests its jobs; libmicrohttpd serves its front page and libpng
# draws the page's rasters; the page's test drives Debian's Chromium through
# Debian's Selenium. The operator's report reads records with nlohmann-json,
# on Linux and in the MinGW builds alike. The history keeps runs in SQLite or
# on a PostgreSQL server (libsqlite3, libpq; sqlite3.h serves the MinGW
# builds too); its tests start a throw-away server of Debian's postgresql
# with pg_virtualenv (postgresql-common).
packages=(cmake ninja-build g++ clang clang-tidy libgtest-dev libgmock-dev googletest libbenchmark-dev python3
  libssl-dev pkgconf libmicrohttpd-dev libpng-dev chromium chromium-driver python3-selenium nlohmann-json3-dev
  libsqlite3-dev sqlite3 libpq-dev postgresql postgresql-common)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup.sh: installing ${missing[*]} ..." >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
