#!/usr/bin/env bash
# Runs one JUnit class in a JVM of its own, in a fresh throwaway profile (its log folder made,
# so the library logs), with -Xcheck:jni. The profile is removed however the run ends.
# Usage: run_in_profile.sh JAVA CONSOLE_JAR CLASSPATH LIBRARY_DIR KEYSTORE_TOOL TEST_CLASS
# QDIE_JVM_PRELOAD, when set, is preloaded into the JVM alone (the ASan runtime).
set -euo pipefail
java=$1 console=$2 classpath=$3 library_dir=$4 tool=$5 test_class=$6

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
mkdir "$profile/.quendrilax"
export HOME="$profile" userprofile="$profile"
unset XDG_DATA_HOME

# The launcher's report lists the tests by name; nothing in it may read as a JVM warning, which
# is what the ctest pass/fail rule looks for.
env ${QDIE_JVM_PRELOAD:+LD_PRELOAD="$QDIE_JVM_PRELOAD"} \
  "$java" -Xcheck:jni -Djava.library.path="$library_dir" -Dqdie.keystoreTool="$tool" \
  -jar "$console" --disable-banner --disable-ansi-colors --details=tree --fail-if-no-tests \
  --class-path "$classpath" --select-class "$test_class"
