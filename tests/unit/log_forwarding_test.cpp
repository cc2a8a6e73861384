// The log's forwarding to Java, against a real JVM running with -Xcheck:jni, shared by every
// test here.
#include <gtest/gtest.h>
#include <jni.h>

#include <string>
#include <vector>

#include "diagnostics/log.h"
#include "diagnostics/log_forward.h"
#include "support/embedded_jvm.h"
#include "support/fault_jni_env.h"
#include "support/temp_profile.h"

using namespace diagnostics;

namespace {

const char kRecorderClass[] = "com/quendrilax/browser/keystore/provider/LogLineRecorder";

JNIEnv* const javaEnv = testJvm();

// Calls a static void method of the recorder, failing the test on any Java exception.
void callRecorder(const char* method) {
    jclass recorder = javaEnv->FindClass(kRecorderClass);
    ASSERT_NE(recorder, nullptr);
    jmethodID id = javaEnv->GetStaticMethodID(recorder, method, "()V");
    ASSERT_NE(id, nullptr);
    javaEnv->CallStaticVoidMethod(recorder, id);
    ASSERT_FALSE(javaEnv->ExceptionCheck());
    javaEnv->DeleteLocalRef(recorder);
}

// The lines the recorder received, as UTF-16 so every character can be compared exactly.
std::vector<std::u16string> recordedLines() {
    std::vector<std::u16string> result;
    jclass recorder = javaEnv->FindClass(kRecorderClass);
    jmethodID id = javaEnv->GetStaticMethodID(recorder, "lines", "()[Ljava/lang/String;");
    auto lines = static_cast<jobjectArray>(javaEnv->CallStaticObjectMethod(recorder, id));
    EXPECT_FALSE(javaEnv->ExceptionCheck());
    for (jsize index = 0; index < javaEnv->GetArrayLength(lines); ++index) {
        auto line = static_cast<jstring>(javaEnv->GetObjectArrayElement(lines, index));
        std::u16string text(javaEnv->GetStringLength(line), u'\0');
        javaEnv->GetStringRegion(line, 0, static_cast<jsize>(text.size()), reinterpret_cast<jchar*>(text.data()));
        result.push_back(text);
        javaEnv->DeleteLocalRef(line);
    }
    javaEnv->DeleteLocalRef(lines);
    javaEnv->DeleteLocalRef(recorder);
    return result;
}

std::u16string widen(const std::string& latin1) {
    std::u16string wide;
    for (unsigned char byte : latin1) wide.push_back(byte);
    return wide;
}

class LogForwarding : public ::testing::Test {
protected:
    void SetUp() override { callRecorder("startRecording"); }
    void TearDown() override { callRecorder("stop"); }
};

TEST_F(LogForwarding, EachMessageReachesLogJniInOrder) {
    TempProfile profile;
    writeLog("Sign start", javaLogSink(javaEnv));
    writeLogFormatted("CryptAcquireContext error: %x", javaLogSink(javaEnv), 0x80090016u);
    writeLog("Sign finished", javaLogSink(javaEnv));

    EXPECT_EQ(recordedLines(), (std::vector<std::u16string>{u"Sign start", u"CryptAcquireContext error: 80090016",
                                                            u"Sign finished"}));
    EXPECT_FALSE(javaEnv->ExceptionCheck());
}

TEST_F(LogForwarding, NothingIsForwardedWithoutTheFileOrWithoutAnEnvironment) {
    {
        TempProfile noFolder(TempProfile::LogFolder::Absent);
        writeLog("Sign start", javaLogSink(javaEnv));
    }
    TempProfile profile;
    writeLog("file only", LogSink());
    EXPECT_TRUE(recordedLines().empty());
    EXPECT_NE(profile.readLog().find(" - file only\n"), std::string::npos);
}

TEST_F(LogForwarding, ThrowingReceiverLeavesNoExceptionPending) {
    TempProfile profile;
    callRecorder("addFailingListener");
    writeLog("first", javaLogSink(javaEnv));
    EXPECT_FALSE(javaEnv->ExceptionCheck());
    writeLog("second", javaLogSink(javaEnv));
    EXPECT_FALSE(javaEnv->ExceptionCheck());

    // The recorder comes before the failing listener, so each line did reach Java.
    EXPECT_EQ(recordedLines(), (std::vector<std::u16string>{u"first", u"second"}));
}

TEST_F(LogForwarding, Latin1BytesArriveAsTheSameCharactersAndStayRawInTheFile) {
    TempProfile profile;
    std::string name = "Provider: ";
    for (int byte = 0x80; byte <= 0xFF; ++byte) name.push_back(static_cast<char>(byte));
    name += " end";
    writeLog(name.c_str(), javaLogSink(javaEnv));
    // The longest message, every byte widened: the converted text fills its whole buffer.
    const std::string widest(600, '\xFF');
    writeLog(widest.c_str(), javaLogSink(javaEnv));

    EXPECT_EQ(recordedLines(), (std::vector<std::u16string>{widen(name), widen(widest.substr(0, 511))}));
    const std::string text = profile.readLog();
    EXPECT_NE(text.find(" - " + name + "\n"), std::string::npos);
    EXPECT_NE(text.find(" - " + widest.substr(0, 511) + "\n"), std::string::npos);
}

// Each line's class and string references go at once: the log is written in loops, and a native
// call would otherwise hold two references per line until it returns.
TEST_F(LogForwarding, ManyLinesHoldNoLocalReferences) {
    TempProfile profile;
    FaultInjectingJniEnv counting(javaEnv);
    for (int line = 0; line < 200; ++line) writeLogFormatted("line %d", javaLogSink(counting.env()), line);
    EXPECT_EQ(counting.localReferences(), 0);
    EXPECT_LE(counting.localReferencePeak(), 2);
    EXPECT_EQ(recordedLines().size(), 200u);
}

}  // namespace
