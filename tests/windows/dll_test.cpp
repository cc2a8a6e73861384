#include "windows/dll_test.h"

#include <regex>

void DllTest::SetUp() {
    ASSERT_EQ(keystoreDll().problem(), "") << keystoreDll().path();
    forgetLog();
}

void DllTest::TearDown() { EXPECT_EQ(jni_.misuse(), std::vector<std::string>()); }

IdentityRequest DllTest::smallKey() {
    IdentityRequest request;
    request.key = FixtureKey::Rsa1024;
    return request;
}

TestIdentity DllTest::makeIdentity(IdentityRequest request) { return fixture_->createIdentity(request); }

bool DllTest::read(jbyteArray result, Bytes& bytes) {
    bytes.clear();
    if (result == nullptr) return false;
    bytes = jni_.bytesOf(result);
    return true;
}

void DllTest::forgetLog() {
    DeleteFileA(profile_.logPath().c_str());
    jni_.forgetLoggedToJava();
}

bool verifies(CryptoFixture& fixture, const Bytes& certificate, ALG_ID algorithm, const Bytes& data,
              const Bytes& signature) {
    return fixture.verifySignature(certificate, algorithm, data, Bytes(signature.rbegin(), signature.rend()));
}

void expectLogFileHolds(const std::string& file, const std::vector<std::string>& forwarded) {
    const std::string kStamp = "<MM/DD/YY HH:MM:SS - >";
    std::vector<std::string> expected;
    for (const std::string& message : forwarded) {
        size_t start = 0;
        for (size_t end; (end = message.find('\n', start)) != std::string::npos; start = end + 1)
            expected.push_back((start == 0 ? kStamp : "") + message.substr(start, end - start));
        expected.push_back((start == 0 ? kStamp : "") + message.substr(start));
    }

    const std::regex stamp(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d - )");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = file.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = file.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "a line not ended by CR LF: " << line;
        lines.push_back(std::regex_replace(line, stamp, kStamp, std::regex_constants::format_first_only));
    }
    EXPECT_EQ(start, file.size()) << "the file does not end in CR LF";
    EXPECT_EQ(lines, expected);
}
