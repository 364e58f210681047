#include "delivery/http_closing.h"

extern "C" HMODULE WINAPI HttpClosingNotified(DWORD_PTR context)
{
    auto* wait = reinterpret_cast<HttpWait*>(context);
    if (wait == nullptr) return nullptr;
    HMODULE module = wait->module;
    SetEvent(wait->closedEvent);
    return module;
}

// HttpCallbackEntry(request, context, notification, information, length). Written in assembly
// because the release must be a jump: a call to FreeLibrary would return into code that may be
// unmapped by then. The other notifications are passed on with a tail jump, arguments intact.
#if defined(__x86_64__)
// Arguments in rcx, rdx, r8, r9 and on the stack; the caller cleans the stack.
asm(R"(
    .text
    .globl HttpCallbackEntry
    .def HttpCallbackEntry; .scl 2; .type 32; .endef
HttpCallbackEntry:
    cmpl $0x800, %r8d                 # WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING
    jne HttpStatusCallback
    subq $40, %rsp                    # shadow space, 16-byte alignment for the call
    movq %rdx, %rcx                   # context
    call HttpClosingNotified
    addq $40, %rsp
    testq %rax, %rax
    jz 1f
    movq %rax, %rcx
    rex.W jmp *__imp_FreeLibrary(%rip) # returns to WinHTTP
1:  ret
)");
#elif defined(__i386__)
// stdcall: five 4-byte arguments above the return address, popped by the callee.
asm(R"(
    .text
    .globl _HttpCallbackEntry@20
    .def _HttpCallbackEntry@20; .scl 2; .type 32; .endef
_HttpCallbackEntry@20:
    cmpl $0x800, 12(%esp)             # WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING
    jne _HttpStatusCallback@20
    pushl 8(%esp)                     # context
    call _HttpClosingNotified@4       # pops its argument
    testl %eax, %eax
    jz 1f
    popl %ecx                         # WinHTTP's return address
    addl $20, %esp                    # the callback's five arguments
    pushl %eax                        # FreeLibrary's argument
    pushl %ecx
    jmp *__imp__FreeLibrary@4         # pops its argument, returns to WinHTTP
1:  ret $20
)");
#else
#error "HttpCallbackEntry is written for x86 and x86-64"
#endif
