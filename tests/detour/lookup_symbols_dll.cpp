// A module with one function that is not exported but is described by debug information, and
// an export that tells the test where that function really is.
extern "C" __attribute__((noinline, used)) int UnexportedAnswer(int value) {
    return value * 7 + 1;
}

extern "C" __declspec(dllexport) void* UnexportedAnswerAddress() {
    return reinterpret_cast<void*>(&UnexportedAnswer);
}
