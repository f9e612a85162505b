// Runs callback adapters for real: 32-bit x86 Linux code under qemu-i386. A cdecl caller calls
// the adapter, which must call a stdcall target with the same arguments in the same order, pass
// its result back and leave the stack pointer and the frame register where they were.
#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "webview/callback_adapter_code.h"

#if !defined(__i386__)
#error "this test is 32-bit x86 code; build it with -m32"
#endif

extern "C" {

struct CallRecord {
    std::uint32_t espBefore;
    std::uint32_t espAfter;
    std::uint32_t ebpBefore;
    std::uint32_t ebpAfter;
};

// CallCdecl(code, count, args, record): pushes args[count-1] … args[0], calls code, removes the
// arguments itself as a cdecl caller does, and records esp and ebp around the call.
std::uint32_t CallCdecl(const void* code, std::uint32_t count, const std::uint32_t* args, CallRecord* record);

asm(R"(
    .text
    .globl CallCdecl
    .type CallCdecl, @function
CallCdecl:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 20(%ebp), %ebx         # record
    movl 12(%ebp), %ecx         # count
    movl 16(%ebp), %edx         # args
    movl %esp, 0(%ebx)          # espBefore
    movl %ebp, 8(%ebx)          # ebpBefore
    movl %esp, %esi             # kept to restore the stack whatever the adapter did
    movl %ebp, %edi
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%edx,%ecx,4)
    jmp 1b
2:  call *8(%edi)
    movl 12(%edi), %ecx
    leal (%esp,%ecx,4), %esp    # the caller cleans
    movl 20(%edi), %ebx
    movl %esp, 4(%ebx)          # espAfter
    movl %ebp, 12(%ebx)         # ebpAfter
    movl %esi, %esp
    movl %edi, %ebp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
    .size CallCdecl, .-CallCdecl
)");

}  // extern "C"

namespace {

std::uint32_t g_received[3];
int g_calls = 0;

// The adapter keeps only the 4-byte stack alignment of Windows, so the targets realign theirs.
__attribute__((stdcall, force_align_arg_pointer, noinline)) std::uint32_t Target2(std::uint32_t a, std::uint32_t b) {
    ++g_calls;
    g_received[0] = a;
    g_received[1] = b;
    return a ^ (b << 1);
}

__attribute__((stdcall, force_align_arg_pointer, noinline)) std::uint32_t Target3(std::uint32_t a, std::uint32_t b,
                                                                                 std::uint32_t c) {
    ++g_calls;
    g_received[0] = a;
    g_received[1] = b;
    g_received[2] = c;
    return a + b + c;
}

__attribute__((stdcall, force_align_arg_pointer, noinline)) std::uint32_t Target0() {
    ++g_calls;
    return 0xC0FFEE00;
}

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("  %s: %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++g_failures;
}

// Writes the adapter into fresh memory, makes it execute-read only, and calls it.
void RunAdapter(const char* name, const void* target, std::uint32_t count, const std::uint32_t* args,
                std::uint32_t expectedResult) {
    std::printf("%s\n", name);
    const std::size_t size = CallbackAdapterSize(count);
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        Check(false, "mmap");
        return;
    }
    WriteCallbackAdapter(static_cast<std::uint8_t*>(block), static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(target)),
                         count);
    if (mprotect(block, size, PROT_READ | PROT_EXEC) != 0) {
        Check(false, "mprotect to execute-read");
        munmap(block, size);
        return;
    }

    std::memset(g_received, 0, sizeof g_received);
    g_calls = 0;
    CallRecord record{};
    const std::uint32_t result = CallCdecl(block, count, args, &record);

    Check(g_calls == 1, "target called once");
    bool inOrder = true;
    for (std::uint32_t i = 0; i < count; ++i) inOrder = inOrder && g_received[i] == args[i];
    Check(inOrder, "arguments arrive in order");
    Check(result == expectedResult, "result passed back");
    Check(record.espAfter == record.espBefore, "stack pointer balanced after the caller cleans");
    Check(record.ebpAfter == record.ebpBefore, "frame register preserved");
    munmap(block, size);
}

}  // namespace

int main() {
    const std::uint32_t two[] = {0x11223344, 0x55667788};
    RunAdapter("N = 2 (record address, string handle)", reinterpret_cast<const void*>(&Target2), 2, two,
               0x11223344u ^ (0x55667788u << 1));
    const std::uint32_t three[] = {1, 20, 300};
    RunAdapter("N = 3", reinterpret_cast<const void*>(&Target3), 3, three, 321);
    RunAdapter("N = 0", reinterpret_cast<const void*>(&Target0), 0, nullptr, 0xC0FFEE00);

    std::printf("%s: callback adapter thunk test (%d failure%s)\n", g_failures ? "FAILED" : "PASSED", g_failures,
                g_failures == 1 ? "" : "s");
    return g_failures ? 1 : 0;
}
