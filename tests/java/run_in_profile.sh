#!/usr/bin/env bash
# Runs one JUnit class in a JVM of its own, in a fresh throwaway profile (its log folder made,
# so the library logs), with -Xcheck:jni. The profile is removed however the run ends.
# Usage: run_in_profile.sh JAVA CONSOLE_JAR CLASSPATH LIBRARY_DIR KEYSTORE_TOOL TEST_CLASS
# QDIE_JVM_PRELOAD, when set, is preloaded into the JVM alone (the ASan runtime); QDIE_JVM_OPTIONS
# are added to the JVM's options.
set -euo pipefail
java=$1 console=$2 classpath=$3 library_dir=$4 tool=$5 test_class=$6

source "$(dirname "$0")/../../scripts/throwaway_profile.sh"
make_throwaway_profile
mkdir "$profile/.quendrilax"
export userprofile="$profile"

# ctest fails the run on "WARNING", the word -Xcheck:jni prints; the launcher's report holds
# only test names and results, and no test is named with it.
env ${QDIE_JVM_PRELOAD:+LD_PRELOAD="$QDIE_JVM_PRELOAD"} \
  "$java" ${QDIE_JVM_OPTIONS:-} -Xcheck:jni -Djava.library.path="$library_dir" -Dqdie.keystoreTool="$tool" \
  -jar "$console" --disable-banner --disable-ansi-colors --details=tree --fail-if-no-tests \
  --class-path "$classpath" --select-class "$test_class"
