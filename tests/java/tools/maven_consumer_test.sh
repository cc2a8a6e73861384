#!/usr/bin/env bash
# The packaged jar as a Maven user meets it: installed with its sources and javadoc into a new
# local repository exactly as docs/maven.md says, then a project that declares only the
# dependency compiles against it, and runs with the jar Maven resolved alone on its class path,
# the provider loading its natives from it and listing an empty personal store. Maven reaches no
# network: Debian's /usr/share/maven-repo is the mirror of everything.
# Usage: maven_consumer_test.sh JAR
source "$(dirname "$0")/tools_lib.sh"
jar=$(realpath "$1")
packaged=$(dirname "$jar")
enter_throwaway_profile

properties=META-INF/maven/com.quendrilax/qdie-keystore/pom.properties
jar --extract --file "$jar" "$properties"
version=$(sed -n 's/^version=//p' "$properties" | tr -d '\r')
[ -n "$version" ] || fail "$jar carries no version in its pom.properties"
cat >settings.xml <<'EOF'
<settings>
  <mirrors>
    <mirror><id>debian</id><mirrorOf>*</mirrorOf><url>file:///usr/share/maven-repo</url></mirror>
  </mirrors>
</settings>
EOF
maven() {
  mvn --batch-mode --quiet -s "$profile/settings.xml" -Dmaven.repo.local="$profile/repository" "$@" \
    >"$profile/maven.log" 2>&1 || fail "mvn $*: $(tail -20 "$profile/maven.log")"
}

maven org.apache.maven.plugins:maven-install-plugin:3.1.0:install-file -Dfile="$jar" \
  -Dsources="$packaged/qdie-keystore-$version-sources.jar" \
  -Djavadoc="$packaged/qdie-keystore-$version-javadoc.jar"
installed="$profile/repository/com/quendrilax/qdie-keystore/$version"
for file in "qdie-keystore-$version.jar" "qdie-keystore-$version.pom" \
    "qdie-keystore-$version-sources.jar" "qdie-keystore-$version-javadoc.jar"; do
  [ -f "$installed/$file" ] || fail "install-file left no $file"
done
cmp "$installed/qdie-keystore-$version.jar" "$jar" || fail "the installed jar is not the packaged one"

mkdir -p consumer/src/main/java/example
cat >consumer/pom.xml <<EOF
<project xmlns="http://maven.apache.org/POM/4.0.0">
  <modelVersion>4.0.0</modelVersion>
  <groupId>example</groupId>
  <artifactId>consumer</artifactId>
  <version>1</version>
  <properties>
    <maven.compiler.release>17</maven.compiler.release>
    <project.build.sourceEncoding>UTF-8</project.build.sourceEncoding>
  </properties>
  <dependencies>
    <dependency>
      <groupId>com.quendrilax</groupId>
      <artifactId>qdie-keystore</artifactId>
      <version>$version</version>
    </dependency>
  </dependencies>
  <build>
    <plugins>
      <plugin>
        <groupId>org.apache.maven.plugins</groupId>
        <artifactId>maven-resources-plugin</artifactId>
        <version>3.3.0</version>
      </plugin>
      <plugin>
        <groupId>org.apache.maven.plugins</groupId>
        <artifactId>maven-compiler-plugin</artifactId>
        <version>3.10.1</version>
      </plugin>
    </plugins>
  </build>
</project>
EOF
cat >consumer/src/main/java/example/Consumer.java <<'EOF'
package example;

import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import java.security.KeyStore;
import java.security.Security;

public class Consumer {
    public static void main(String[] args) throws Exception {
        Security.addProvider(new QDBrowserProvider());
        KeyStore personal = KeyStore.getInstance("QDIE-MY");
        personal.load(null, null);
        System.out.println(personal.getProvider().getName() + " "
                + personal.getProvider().getVersionStr() + " lists " + personal.size() + " entries");
    }
}
EOF
(cd consumer && maven compile)
[ -f consumer/target/classes/example/Consumer.class ] || fail "the consumer did not compile"
output=$(java -cp "consumer/target/classes:$installed/qdie-keystore-$version.jar" example.Consumer) ||
  fail "the consumer did not run: $output"
[ "$output" = "QDIE $version lists 0 entries" ] || fail "the consumer printed: $output"
echo "maven: installed, depended on, compiled and run: $output"
