# jni.h, and libjvm for the tests that start a JVM. CMake 3.25's FindJNI does not search the
# folders of newer JDKs, so without a JAVA_HOME it is pointed at the JDK whose javac is on the
# PATH. A Windows cross build takes that JDK's jni.h with a Windows jni_md.h of our own.
if(NOT JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME})
  find_program(QDIE_JAVAC_EXECUTABLE javac REQUIRED NO_CMAKE_FIND_ROOT_PATH)
  file(REAL_PATH "${QDIE_JAVAC_EXECUTABLE}" qdie_javac_path)
  get_filename_component(qdie_jdk_bin "${qdie_javac_path}" DIRECTORY)
  get_filename_component(qdie_jdk_home "${qdie_jdk_bin}" DIRECTORY)
  set(JAVA_HOME "${qdie_jdk_home}" CACHE PATH "The JDK to build and test against")
endif()
if(WIN32)
  set(JNI_INCLUDE_DIRS "${PROJECT_SOURCE_DIR}/cmake/windows-jni" "${JAVA_HOME}/include")
else()
  find_package(JNI REQUIRED COMPONENTS JVM)
endif()
