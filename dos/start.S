// The DOS programs' entry. DOS loads a .COM at offset 0x100 of a segment, with CS, DS, ES and SS
// all naming it, and jumps to its first byte, here.
//
// The stretch up to DosEntry386 runs on every x86, so it holds the 8086's instructions alone,
// and one SMSW that runs only where the flags register has shown a 286 or later (the
// instruction audit checks both). An 8086, 8088, 80186 or 286 has no CPUID, and its report is
// the one the tool gives every such processor, all zero: written here from the report's own
// text, which cpuprobe-sim gives at build time (no_cpuid_report.txt), as the tool writes it:
// before the awaited character on a console, after it anywhere else.
//
// From DosEntry386 on, the processor is a 386 or later: the tool's own code runs, 32-bit
// instructions in 16-bit real mode (gcc -m16), with its stack and zeroed data set up here.
#undef i386

        .code16
        .arch i8086

// AX: the flags tried; back in AX, those the processor kept. DX holds DOS's flags, put back.
.macro FlagsKept
        push %ax
        popf
        pushf
        pop %ax
        push %dx
        popf
.endm

        .section .text.start, "ax"
        .globl _start
_start:
        // Bits 12-15 of FLAGS stay set on the 8086, 8088, 80186 and NEC V20/V30, and stay
        // clear on a 286 in real mode; a 386 or later lets a program change them.
        pushf
        pop %dx                 // the flags as DOS left them, put back after each test
        mov %dx, %ax
        and $0x0fff, %ax
        FlagsKept
        and $0xf000, %ax
        cmp $0xf000, %ax
        je ProcessorWithoutCpuid
        mov %dx, %ax
        or $0xf000, %ax
        FlagsKept
        test $0x7000, %ax
        jnz DosEntry386
        // Bits 12-14 stayed clear: a 286 in real mode, or a 386 or later in virtual-8086 mode
        // (EMM386, a Windows prompt), where POPF may not change them. Only the second has
        // protected mode on (bit 0 of the machine status word).
        .arch i286
        smsw %ax
        .arch i8086
        test $1, %al
        jnz DosEntry386

        .globl ProcessorWithoutCpuid
ProcessorWithoutCpuid:
        mov $0x4400, %ax        // the device information of standard output
        mov $1, %bx
        int $0x21
        jc ReportLast
        test $0x80, %dl         // a device...
        jz ReportLast
        test $0x03, %dl         // ...and the console
        jz ReportLast
        call WriteNoCpuidReport
        call ReadOneCharacter
        jmp EndWithoutCpuid
ReportLast:
        call ReadOneCharacter
        call WriteNoCpuidReport
EndWithoutCpuid:
        mov $0x4c00, %ax
        int $0x21

WriteNoCpuidReport:
        mov $0x4000, %ax
        mov $1, %bx
        mov $NoCpuidReportEnd - NoCpuidReport, %cx
        mov $NoCpuidReport, %dx
        int $0x21
        ret

ReadOneCharacter:
        sub $2, %sp
        mov %sp, %dx
        mov $0x3f00, %ax
        xor %bx, %bx
        mov $1, %cx
        int $0x21
        add $2, %sp
        ret

        .globl DosEntry386
DosEntry386:
        .arch i386
        // DOS gives a .COM program all the memory it can; the program segment prefix's word at
        // offset 2 is the first segment past it.
        mov 2, %ax
        mov %cs, %dx
        sub %dx, %ax
        cmp $DosParagraphsNeeded, %ax
        jb NotEnoughMemory
        movl $__stack_top, %esp
        cld
        mov $__bss_start, %di
        mov $__bss_end, %cx
        sub %di, %cx
        xor %al, %al
        rep stosb
        calll main
        mov %eax, %ebx          // the status; ebx outlives a call
        calll DosFlushStreams
        mov %bl, %al
        mov $0x4c, %ah
        int $0x21

NotEnoughMemory:
        mov $0x0900, %ax
        mov $NotEnoughMemoryText, %dx
        int $0x21
        mov $0x4c01, %ax
        int $0x21

        .section .rodata.start, "a"
NoCpuidReport:
        .incbin "no_cpuid_report.txt"
NoCpuidReportEnd:
NotEnoughMemoryText:
        .ascii "Not enough memory.\r\n$"

        // No stack needs to be executable (the linker asks every object to say so).
        .section .note.GNU-stack, "", @progbits
