#!/usr/bin/env bash
# The README's Java example, as it stands: taken from README.md (the java block that opens with
# its marker line), compiled with javac against the provider's jar, and run in a throwaway
# profile holding an RSA and an EC identity; each must sign through QDIE and verify.
# Usage: readme_example_test.sh README PROVIDER_JAR LIBRARY_DIR QDIE_KEYSTORE
source "$(dirname "$0")/tools_lib.sh"
readme=$(realpath "$1") jar=$(realpath "$2") library_dir=$(realpath "$3") qdie_keystore=$(realpath "$4")
enter_throwaway_profile

mkdir src classes
awk '/^```java$/ { block = 1; text = ""; next }
     block && /^```$/ { if (text ~ /^\/\/ The README.s example/) { printf "%s", text; found = 1 }
                        block = 0; next }
     block { text = text $0 "\n" }
     END { exit !found }' "$readme" >example.java || fail "$readme has no java block with the marker line"
class=$(sed -n 's/^public class \([A-Za-z0-9_]*\).*/\1/p' example.java)
[[ -n $class ]] || fail "the example declares no public class: $(cat example.java)"
mv example.java "src/$class.java"
javac -Xlint:all -Werror -cp "$jar" -d classes "src/$class.java" || fail "the README's example does not compile"
echo "the README's example ($(wc -l <"src/$class.java") lines): compiles"

"$qdie_keystore" new-identity --subject "CN=Readme RSA" >/dev/null
"$qdie_keystore" new-identity --subject "CN=Readme EC" --key ec-p256 >/dev/null
out=$(java -Djava.library.path="$library_dir" -cp "classes:$jar" "$class" 2>&1) \
  || fail "the README's example failed: $out"
for name in "Readme RSA" "Readme EC"; do
  grep -q "^$name-[0-9a-f]\{16\}: SHA256with[A-Z]* by QDIE, verified$" <<<"$out" \
    || fail "no verified signature by QDIE for $name: $out"
done
echo "the README's example: signs with both keys through QDIE, the JDK verifies"
