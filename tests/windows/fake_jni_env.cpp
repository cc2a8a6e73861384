#include "windows/fake_jni_env.h"

#include <algorithm>
#include <cstring>

namespace {

const char kReceiverClass[] = "com/quendrilax/browser/keystore/provider/QDBrowserProvider";
const char kReceiverMethod[] = "logJNI";
const char kReceiverSignature[] = "(Ljava/lang/String;)V";
const char kByteArrayClass[] = "[B";
const char kFailureClass[] = "com/quendrilax/browser/keystore/provider/spi/NativeFailure";
const char kFailureConstructor[] = "(ILjava/lang/String;I)V";
const char kListingClass[] = "com/quendrilax/browser/keystore/provider/spi/StoreListing";
const char kListingConstructor[] = "([[B[Z[Z[[B)V";
// The Throwables a native may make with ThrowNew.
const char* const kThrowableClasses[] = {"java/lang/OutOfMemoryError",
                                         "java/lang/NullPointerException",
                                         "java/security/ProviderException"};

// The methods the natives may call or construct with; their identifiers only have to be
// recognisable.
char logJniMethod;
char failureConstructor;
char listingConstructor;

bool knownClass(const char* name) {
    if (std::strcmp(name, kReceiverClass) == 0 || std::strcmp(name, kByteArrayClass) == 0 ||
        std::strcmp(name, kFailureClass) == 0 || std::strcmp(name, kListingClass) == 0)
        return true;
    for (const char* throwable : kThrowableClasses) {
        if (std::strcmp(name, throwable) == 0) return true;
    }
    return false;
}

jint toInt(const FakeJniEnv::Bytes& bytes, size_t at) {
    jint value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof(value));
    return value;
}

// What JNI guarantees a native method without asking for more (EnsureLocalCapacity).
constexpr int kGuaranteedLocalReferences = 16;

bool inRange(jsize start, jsize length, size_t size) {
    return start >= 0 && length >= 0 && static_cast<size_t>(start) + static_cast<size_t>(length) <= size;
}

}  // namespace

FakeJniEnv::FakeJniEnv() {
    table_.reserved0 = this;
    table_.FindClass = findClass;
    table_.GetStaticMethodID = getStaticMethodID;
    table_.NewStringUTF = newStringUTF;
    table_.CallStaticVoidMethodV = callStaticVoidMethodV;
    table_.ExceptionCheck = exceptionCheck;
    table_.ExceptionClear = exceptionClear;
    table_.GetArrayLength = getArrayLength;
    table_.GetObjectArrayElement = getObjectArrayElement;
    table_.GetByteArrayElements = getByteArrayElements;
    table_.ReleaseByteArrayElements = releaseByteArrayElements;
    table_.GetByteArrayRegion = getByteArrayRegion;
    table_.GetStringUTFChars = getStringUTFChars;
    table_.ReleaseStringUTFChars = releaseStringUTFChars;
    table_.NewByteArray = newByteArrayJni;
    table_.SetByteArrayRegion = setByteArrayRegion;
    table_.GetObjectClass = getObjectClass;
    table_.NewObjectArray = newObjectArray;
    table_.SetObjectArrayElement = setObjectArrayElement;
    table_.DeleteLocalRef = deleteLocalRef;
    table_.GetMethodID = getMethodID;
    table_.NewObjectV = newObjectV;
    table_.Throw = throwObject;
    table_.ThrowNew = throwNew;
    table_.NewBooleanArray = newBooleanArray;
    table_.SetBooleanArrayRegion = setBooleanArrayRegion;
    env_.functions = &table_;
}

jbyteArray FakeJniEnv::newByteArray(const Bytes& bytes) {
    return static_cast<jbyteArray>(
        refer(std::make_shared<Object>(Object{Kind::ByteArray, {}, bytes, {}}), false));
}

jobjectArray FakeJniEnv::newByteArrays(const std::vector<Bytes>& arrays) {
    auto array = std::make_shared<Object>(Object{Kind::ObjectArray, kByteArrayClass, {}, {}});
    for (const Bytes& bytes : arrays)
        array->elements.push_back(std::make_shared<Object>(Object{Kind::ByteArray, {}, bytes, {}}));
    return static_cast<jobjectArray>(refer(std::move(array), false));
}

jstring FakeJniEnv::newString(const std::string& text) {
    return static_cast<jstring>(refer(std::make_shared<Object>(Object{Kind::String, text, {}, {}}), false));
}

FakeJniEnv::Bytes FakeJniEnv::bytesOf(jbyteArray array) {
    const Object* object = resolve(array, Kind::ByteArray, "a returned byte[]");
    return object != nullptr ? object->bytes : Bytes();
}

std::vector<FakeJniEnv::Bytes> FakeJniEnv::elementsOf(jobjectArray array) {
    std::vector<Bytes> elements;
    const Object* object = resolve(array, Kind::ObjectArray, "a returned byte[][]");
    if (object == nullptr) return elements;
    for (const std::shared_ptr<Object>& element : object->elements) {
        if (element == nullptr) {
            misuse_.push_back("a returned byte[][] has a null element");
            continue;
        }
        elements.push_back(element->bytes);
    }
    return elements;
}

std::vector<std::pair<FakeJniEnv::Bytes, bool>> FakeJniEnv::listingOf(jobject listing) {
    std::vector<std::pair<Bytes, bool>> certificates;
    const Object* object = resolve(listing, Kind::Instance, "a returned StoreListing");
    if (object == nullptr || object->name != kListingClass) return certificates;
    const Object& encodings = *object->elements[0];
    const Object& hasKey = *object->elements[1];
    const Object& cngKey = *object->elements[2];
    const Object& containers = *object->elements[3];
    if (encodings.elements.size() != hasKey.bytes.size() ||
        hasKey.bytes.size() != cngKey.bytes.size() ||
        containers.elements.size() != encodings.elements.size()) {
        misuse_.push_back("a returned StoreListing has arrays of different lengths");
        return certificates;
    }
    for (size_t i = 0; i < encodings.elements.size(); ++i) {
        if (encodings.elements[i] == nullptr) {
            misuse_.push_back("a returned StoreListing has a null encoding");
            continue;
        }
        certificates.emplace_back(encodings.elements[i]->bytes, hasKey.bytes[i] != JNI_FALSE);
    }
    return certificates;
}

std::optional<FakeJniEnv::Thrown> FakeJniEnv::catchThrown() {
    if (!pending_) return std::nullopt;
    pending_ = false;
    std::shared_ptr<Object> thrown = std::move(thrown_);
    Thrown caught;
    if (thrown == nullptr) {
        caught.className = "(raised by the environment itself)";
        return caught;
    }
    caught.className = thrown->name;
    if (thrown->name == kFailureClass) {
        caught.status = toInt(thrown->bytes, 0);
        caught.windowsError = toInt(thrown->bytes, sizeof(jint));
        if (thrown->elements[0] != nullptr) caught.step = thrown->elements[0]->name;
    } else if (!thrown->elements.empty() && thrown->elements[0] != nullptr) {
        caught.message = thrown->elements[0]->name;
    }
    return caught;
}

void FakeJniEnv::beginNativeCall() {
    // Local references of an earlier call were freed by its return; its results stay readable.
    for (auto& entry : references_) entry.second.counted = false;
    liveLocal_ = 0;
}

std::vector<std::string> FakeJniEnv::misuse() const {
    std::vector<std::string> all = misuse_;
    if (!lent_.empty())
        all.push_back(std::to_string(lent_.size()) + " array elements or string characters never released");
    if (peakLocal_ > kGuaranteedLocalReferences)
        all.push_back("a native call held " + std::to_string(peakLocal_) + " local references at once");
    if (pending_) all.push_back("an exception left pending for the caller");
    return all;
}

FakeJniEnv& FakeJniEnv::of(JNIEnv* env) { return *static_cast<FakeJniEnv*>(env->functions->reserved0); }

jobject FakeJniEnv::refer(std::shared_ptr<Object> object, bool counted) {
    const jobject reference = reinterpret_cast<jobject>(nextReference_);
    nextReference_ += 16;
    references_[reference] = Reference{std::move(object), counted, false};
    if (counted) peakLocal_ = std::max(peakLocal_, ++liveLocal_);
    return reference;
}

FakeJniEnv::Object* FakeJniEnv::resolve(jobject reference, Kind kind, const char* function) {
    const auto found = references_.find(reference);
    if (found == references_.end() || found->second.deleted || found->second.object->kind != kind) {
        misuse_.push_back(std::string(function) + ": not a live reference of the right kind");
        return nullptr;
    }
    return found->second.object.get();
}

bool FakeJniEnv::callable(const char* function) {
    if (pending_) misuse_.push_back(std::string(function) + " called with an exception pending");
    return !pending_;
}

jclass JNICALL FakeJniEnv::findClass(JNIEnv* env, const char* name) {
    FakeJniEnv& self = of(env);
    if (!self.callable("FindClass")) return nullptr;
    if (!knownClass(name)) {
        self.raise();  // NoClassDefFoundError
        return nullptr;
    }
    return static_cast<jclass>(self.refer(std::make_shared<Object>(Object{Kind::Class, name, {}, {}}), true));
}

jmethodID JNICALL FakeJniEnv::getStaticMethodID(JNIEnv* env, jclass type, const char* name,
                                                const char* signature) {
    FakeJniEnv& self = of(env);
    if (!self.callable("GetStaticMethodID")) return nullptr;
    const Object* object = self.resolve(type, Kind::Class, "GetStaticMethodID");
    if (object == nullptr) return nullptr;
    if (object->name != kReceiverClass || std::strcmp(name, kReceiverMethod) != 0 ||
        std::strcmp(signature, kReceiverSignature) != 0) {
        self.raise();  // NoSuchMethodError
        return nullptr;
    }
    return reinterpret_cast<jmethodID>(&logJniMethod);
}

jstring JNICALL FakeJniEnv::newStringUTF(JNIEnv* env, const char* text) {
    FakeJniEnv& self = of(env);
    if (!self.callable("NewStringUTF")) return nullptr;
    return static_cast<jstring>(self.refer(std::make_shared<Object>(Object{Kind::String, text, {}, {}}), true));
}

void JNICALL FakeJniEnv::callStaticVoidMethodV(JNIEnv* env, jclass type, jmethodID method,
                                               va_list arguments) {
    FakeJniEnv& self = of(env);
    if (!self.callable("CallStaticVoidMethodV")) return;
    const Object* receiver = self.resolve(type, Kind::Class, "CallStaticVoidMethodV");
    if (receiver == nullptr || method != reinterpret_cast<jmethodID>(&logJniMethod)) {
        self.misuse_.push_back("CallStaticVoidMethodV: not logJNI of its receiver");
        return;
    }
    const Object* line = self.resolve(va_arg(arguments, jstring), Kind::String, "logJNI's argument");
    if (line == nullptr) return;
    self.loggedToJava_.push_back(line->name);
    if (self.receiverThrows_) self.raise();
}

jboolean JNICALL FakeJniEnv::exceptionCheck(JNIEnv* env) { return of(env).pending_ ? JNI_TRUE : JNI_FALSE; }

void JNICALL FakeJniEnv::exceptionClear(JNIEnv* env) { of(env).pending_ = false; }

jsize JNICALL FakeJniEnv::getArrayLength(JNIEnv* env, jarray array) {
    FakeJniEnv& self = of(env);
    if (!self.callable("GetArrayLength")) return 0;
    const auto found = self.references_.find(array);
    if (found != self.references_.end() && !found->second.deleted &&
        found->second.object->kind == Kind::ObjectArray)
        return static_cast<jsize>(found->second.object->elements.size());
    const Object* object = self.resolve(array, Kind::ByteArray, "GetArrayLength");
    return object != nullptr ? static_cast<jsize>(object->bytes.size()) : 0;
}

jobject JNICALL FakeJniEnv::getObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    FakeJniEnv& self = of(env);
    if (!self.callable("GetObjectArrayElement")) return nullptr;
    const Object* object = self.resolve(array, Kind::ObjectArray, "GetObjectArrayElement");
    if (object == nullptr) return nullptr;
    if (!inRange(index, 1, object->elements.size())) {
        self.raise();  // ArrayIndexOutOfBoundsException
        return nullptr;
    }
    std::shared_ptr<Object> element = object->elements[static_cast<size_t>(index)];
    return element == nullptr ? nullptr : self.refer(std::move(element), true);
}

jbyte* JNICALL FakeJniEnv::getByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy) {
    FakeJniEnv& self = of(env);
    if (!self.callable("GetByteArrayElements")) return nullptr;
    const Object* object = self.resolve(array, Kind::ByteArray, "GetByteArrayElements");
    if (object == nullptr) return nullptr;
    // A copy, as a JVM may give: the natives must not count on writing through to the array.
    auto copy = std::make_unique<Bytes>(object->bytes);
    copy->push_back(0);  // never a null pointer, even for an empty array
    jbyte* elements = reinterpret_cast<jbyte*>(copy->data());
    self.lent_[elements] = std::move(copy);
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    return elements;
}

void JNICALL FakeJniEnv::releaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements,
                                                  jint mode) {
    FakeJniEnv& self = of(env);
    Object* object = self.resolve(array, Kind::ByteArray, "ReleaseByteArrayElements");
    const auto lent = self.lent_.find(elements);
    if (object == nullptr || lent == self.lent_.end()) {
        self.misuse_.push_back("ReleaseByteArrayElements: elements that were not lent");
        return;
    }
    if (mode != JNI_ABORT)
        std::copy(lent->second->begin(), lent->second->end() - 1, object->bytes.begin());
    if (mode != JNI_COMMIT) self.lent_.erase(lent);
}

void JNICALL FakeJniEnv::getByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                            jbyte* buffer) {
    FakeJniEnv& self = of(env);
    if (!self.callable("GetByteArrayRegion")) return;
    const Object* object = self.resolve(array, Kind::ByteArray, "GetByteArrayRegion");
    if (object == nullptr) return;
    if (!inRange(start, length, object->bytes.size())) {
        self.raise();  // ArrayIndexOutOfBoundsException
        return;
    }
    std::copy_n(object->bytes.begin() + start, length, reinterpret_cast<uint8_t*>(buffer));
}

const char* JNICALL FakeJniEnv::getStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy) {
    FakeJniEnv& self = of(env);
    if (!self.callable("GetStringUTFChars")) return nullptr;
    const Object* object = self.resolve(string, Kind::String, "GetStringUTFChars");
    if (object == nullptr) return nullptr;
    auto chars = std::make_unique<Bytes>(object->name.begin(), object->name.end());
    chars->push_back(0);
    const char* text = reinterpret_cast<const char*>(chars->data());
    self.lent_[text] = std::move(chars);
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    return text;
}

void JNICALL FakeJniEnv::releaseStringUTFChars(JNIEnv* env, jstring string, const char* chars) {
    FakeJniEnv& self = of(env);
    if (self.resolve(string, Kind::String, "ReleaseStringUTFChars") == nullptr ||
        self.lent_.erase(chars) == 0)
        self.misuse_.push_back("ReleaseStringUTFChars: characters that were not lent");
}

jbyteArray JNICALL FakeJniEnv::newByteArrayJni(JNIEnv* env, jsize length) {
    FakeJniEnv& self = of(env);
    if (!self.callable("NewByteArray")) return nullptr;
    if (length < 0) {
        self.raise();  // NegativeArraySizeException
        return nullptr;
    }
    return static_cast<jbyteArray>(self.refer(
        std::make_shared<Object>(Object{Kind::ByteArray, {}, Bytes(static_cast<size_t>(length)), {}}), true));
}

void JNICALL FakeJniEnv::setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                            const jbyte* buffer) {
    FakeJniEnv& self = of(env);
    if (!self.callable("SetByteArrayRegion")) return;
    Object* object = self.resolve(array, Kind::ByteArray, "SetByteArrayRegion");
    if (object == nullptr) return;
    if (!inRange(start, length, object->bytes.size())) {
        self.raise();  // ArrayIndexOutOfBoundsException
        return;
    }
    std::copy_n(reinterpret_cast<const uint8_t*>(buffer), length, object->bytes.begin() + start);
}

jclass JNICALL FakeJniEnv::getObjectClass(JNIEnv* env, jobject object) {
    FakeJniEnv& self = of(env);
    if (!self.callable("GetObjectClass")) return nullptr;
    // Only byte[] ever reaches it: the natives take byte[]'s class from a sample array.
    if (self.resolve(object, Kind::ByteArray, "GetObjectClass") == nullptr) return nullptr;
    return static_cast<jclass>(
        self.refer(std::make_shared<Object>(Object{Kind::Class, kByteArrayClass, {}, {}}), true));
}

jobjectArray JNICALL FakeJniEnv::newObjectArray(JNIEnv* env, jsize length, jclass type, jobject initial) {
    FakeJniEnv& self = of(env);
    if (!self.callable("NewObjectArray")) return nullptr;
    const Object* elementClass = self.resolve(type, Kind::Class, "NewObjectArray");
    if (elementClass == nullptr) return nullptr;
    if (elementClass->name != kByteArrayClass || initial != nullptr || length < 0) {
        self.misuse_.push_back("NewObjectArray: not an array of byte[] filled with null");
        return nullptr;
    }
    auto array = std::make_shared<Object>(Object{Kind::ObjectArray, elementClass->name, {}, {}});
    array->elements.resize(static_cast<size_t>(length));
    return static_cast<jobjectArray>(self.refer(std::move(array), true));
}

void JNICALL FakeJniEnv::setObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index,
                                               jobject element) {
    FakeJniEnv& self = of(env);
    if (!self.callable("SetObjectArrayElement")) return;
    Object* object = self.resolve(array, Kind::ObjectArray, "SetObjectArrayElement");
    if (object == nullptr || self.resolve(element, Kind::ByteArray, "SetObjectArrayElement") == nullptr)
        return;
    if (!inRange(index, 1, object->elements.size())) {
        self.raise();  // ArrayIndexOutOfBoundsException
        return;
    }
    // The array holds the object, not the reference: deleting the reference keeps the element.
    object->elements[static_cast<size_t>(index)] = self.references_[element].object;
}

void JNICALL FakeJniEnv::deleteLocalRef(JNIEnv* env, jobject reference) {
    FakeJniEnv& self = of(env);
    if (reference == nullptr) return;
    const auto found = self.references_.find(reference);
    if (found == self.references_.end() || found->second.deleted) {
        self.misuse_.push_back("DeleteLocalRef: not a live reference");
        return;
    }
    found->second.deleted = true;
    if (found->second.counted) --self.liveLocal_;
}

jmethodID JNICALL FakeJniEnv::getMethodID(JNIEnv* env, jclass type, const char* name,
                                          const char* signature) {
    FakeJniEnv& self = of(env);
    if (!self.callable("GetMethodID")) return nullptr;
    const Object* object = self.resolve(type, Kind::Class, "GetMethodID");
    if (object == nullptr) return nullptr;
    if (std::strcmp(name, "<init>") == 0 && object->name == kFailureClass &&
        std::strcmp(signature, kFailureConstructor) == 0)
        return reinterpret_cast<jmethodID>(&failureConstructor);
    if (std::strcmp(name, "<init>") == 0 && object->name == kListingClass &&
        std::strcmp(signature, kListingConstructor) == 0)
        return reinterpret_cast<jmethodID>(&listingConstructor);
    self.raise();  // NoSuchMethodError
    return nullptr;
}

jobject JNICALL FakeJniEnv::newObjectV(JNIEnv* env, jclass type, jmethodID method, va_list arguments) {
    FakeJniEnv& self = of(env);
    if (!self.callable("NewObjectV")) return nullptr;
    const Object* object = self.resolve(type, Kind::Class, "NewObjectV");
    if (object == nullptr) return nullptr;
    auto instance = std::make_shared<Object>(Object{Kind::Instance, object->name, {}, {}});
    if (method == reinterpret_cast<jmethodID>(&failureConstructor) && object->name == kFailureClass) {
        jint status = va_arg(arguments, jint);
        jobject step = va_arg(arguments, jobject);
        jint windowsError = va_arg(arguments, jint);
        instance->bytes.resize(2 * sizeof(jint));
        std::memcpy(instance->bytes.data(), &status, sizeof(jint));
        std::memcpy(instance->bytes.data() + sizeof(jint), &windowsError, sizeof(jint));
        const Object* stepName = step == nullptr ? nullptr : self.resolve(step, Kind::String, "NativeFailure's step");
        instance->elements.push_back(stepName == nullptr ? nullptr : self.references_[step].object);
    } else if (method == reinterpret_cast<jmethodID>(&listingConstructor) && object->name == kListingClass) {
        jobject encodings = va_arg(arguments, jobject);
        jobject hasKey = va_arg(arguments, jobject);
        jobject cngKey = va_arg(arguments, jobject);
        jobject containers = va_arg(arguments, jobject);
        if (self.resolve(encodings, Kind::ObjectArray, "StoreListing's encodings") == nullptr ||
            self.resolve(hasKey, Kind::BooleanArray, "StoreListing's hasKey") == nullptr ||
            self.resolve(cngKey, Kind::BooleanArray, "StoreListing's cngKey") == nullptr ||
            self.resolve(containers, Kind::ObjectArray, "StoreListing's containers") == nullptr)
            return nullptr;
        instance->elements = {self.references_[encodings].object, self.references_[hasKey].object,
                              self.references_[cngKey].object,
                              self.references_[containers].object};
    } else {
        self.misuse_.push_back("NewObjectV: not a constructor of " + object->name);
        return nullptr;
    }
    return self.refer(std::move(instance), true);
}

jint JNICALL FakeJniEnv::throwObject(JNIEnv* env, jthrowable throwable) {
    FakeJniEnv& self = of(env);
    if (!self.callable("Throw")) return -1;
    if (self.resolve(throwable, Kind::Instance, "Throw") == nullptr) return -1;
    self.thrown_ = self.references_[throwable].object;
    self.raise();
    return 0;
}

jint JNICALL FakeJniEnv::throwNew(JNIEnv* env, jclass type, const char* message) {
    FakeJniEnv& self = of(env);
    if (!self.callable("ThrowNew")) return -1;
    const Object* object = self.resolve(type, Kind::Class, "ThrowNew");
    if (object == nullptr) return -1;
    auto text = std::make_shared<Object>(Object{Kind::String, message, {}, {}});
    self.thrown_ = std::make_shared<Object>(Object{Kind::Instance, object->name, {}, {text}});
    self.raise();
    return 0;
}

jbooleanArray JNICALL FakeJniEnv::newBooleanArray(JNIEnv* env, jsize length) {
    FakeJniEnv& self = of(env);
    if (!self.callable("NewBooleanArray")) return nullptr;
    if (length < 0) {
        self.raise();  // NegativeArraySizeException
        return nullptr;
    }
    return static_cast<jbooleanArray>(self.refer(
        std::make_shared<Object>(Object{Kind::BooleanArray, {}, Bytes(static_cast<size_t>(length)), {}}),
        true));
}

void JNICALL FakeJniEnv::setBooleanArrayRegion(JNIEnv* env, jbooleanArray array, jsize start,
                                               jsize length, const jboolean* buffer) {
    FakeJniEnv& self = of(env);
    if (!self.callable("SetBooleanArrayRegion")) return;
    Object* object = self.resolve(array, Kind::BooleanArray, "SetBooleanArrayRegion");
    if (object == nullptr) return;
    if (!inRange(start, length, object->bytes.size())) {
        self.raise();  // ArrayIndexOutOfBoundsException
        return;
    }
    std::copy_n(buffer, length, object->bytes.begin() + start);
}
