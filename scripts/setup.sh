#!/usr/bin/env bash
# Installs, from Debian's archive, everything the build, the tests, the fuzz targets and the demo
# need (sqlite3 for fuzz/make_seeds.sh and for the key store's hand edits and integrity checks in
# the tests; BouncyCastle, Santuario, PDFBox, xmlsec1 and
# poppler-utils for the proofs that signing libraries and tools of others work through the
# QDIE provider; Maven and the plugins of Debian's repository for the proof that a Maven project
# depends on the packaged jar; SoftHSM2 and OpenSC's pkcs11-tool for the benchmark's SunPKCS11
# token).
# Run as root on Debian 12.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  build-essential cmake ninja-build git ca-certificates \
  libgtest-dev googletest libsqlite3-dev libssl-dev openssl \
  openjdk-17-jdk-headless junit5 \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 \
  clang-14 libfuzzer-14-dev libclang-rt-14-dev sqlite3 \
  libbcpkix-java libbcprov-java libbcutil-java libxml-security-java libslf4j-java \
  libpdfbox2-java libfontbox2-java libcommons-logging-java xmlsec1 poppler-utils \
  maven libmaven-install-plugin-java libmaven-resources-plugin-java \
  libmaven-compiler-plugin-java softhsm2 opensc >/dev/null
