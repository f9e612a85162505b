#include "webview/callback_adapter_code.h"

namespace {

std::uint8_t* Put32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) *out++ = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

}  // namespace

void WriteCallbackAdapter(std::uint8_t* out, std::uint32_t target, std::size_t argumentCount) {
    *out++ = 0x55;  // push ebp
    *out++ = 0x8B;  // mov ebp, esp
    *out++ = 0xEC;
    *out++ = 0xB8;  // mov eax, target
    out = Put32(out, target);
    // The stdcall target expects its first argument nearest the top of the stack, so the last
    // argument (the highest above ebp) is pushed first.
    for (std::size_t i = 1; i <= argumentCount; ++i) {
        *out++ = 0xFF;  // push dword [ebp + disp32]
        *out++ = 0xB5;
        out = Put32(out, static_cast<std::uint32_t>(4 * (argumentCount - i + 1) + 4));
    }
    *out++ = 0xFF;  // call eax
    *out++ = 0xD0;
    *out++ = 0x5D;  // pop ebp
    *out++ = 0xC3;  // ret
}
