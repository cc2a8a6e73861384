#!/usr/bin/env bash
# Installs, from Debian's archive, everything the build, the tests and the demo need.
# Run as root on Debian 12.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  build-essential cmake ninja-build git ca-certificates \
  libgtest-dev googletest libsqlite3-dev libssl-dev openssl \
  openjdk-17-jdk-headless junit5 \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 >/dev/null
