#include "support/embedded_jvm.h"

#include <cstdlib>
#include <string>

JNIEnv* testJvm() {
    static JNIEnv* env = [] {
        std::string classPath = std::string("-Djava.class.path=") + QDIE_TEST_CLASS_PATH;
        std::string checkJni = "-Xcheck:jni";
        JavaVMOption options[] = {{classPath.data(), nullptr}, {checkJni.data(), nullptr}};
        JavaVMInitArgs arguments = {JNI_VERSION_1_8, 2, options, JNI_FALSE};
        JavaVM* vm = nullptr;
        JNIEnv* created = nullptr;
        if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&created), &arguments) != JNI_OK)
            std::abort();
        return created;
    }();
    return env;
}
