#include "support/stdcall_probe.h"

#if defined(QUEN_STDCALL_PROBE)
asm(R"(
    .text
    .globl _quen_stack_drift
_quen_stack_drift:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    pushl %ebx
    movl 12(%ebp), %ecx
    movl 16(%ebp), %esi
    movl %esp, %edi
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  call *8(%ebp)
    movl 20(%ebp), %edx
    testl %edx, %edx
    jz 3f
    movl %eax, (%edx)
3:  movl %esp, %eax
    subl %edi, %eax
    leal -12(%ebp), %esp
    popl %ebx
    popl %edi
    popl %esi
    popl %ebp
    ret
)");
#endif
