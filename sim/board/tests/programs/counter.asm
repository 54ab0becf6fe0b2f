; Counts its passes in memory (word at 0000:0100) while it polls the link
; for a byte, then jumps back to the boot ROM. Loaded at 0030:0000. Every
; pass changes memory, so no pass repeats the one before.
        bits 16
        cpu 186
        org 0

LINK_STATUS  equ 0xFF82
LINK_RX      equ 0xFF86

start:  cli
        xor ax, ax
        mov ds, ax
        mov word [0x100], 0
.poll:  inc word [0x100]
        mov dx, LINK_STATUS
        in ax, dx
        test al, 0x80
        jz .poll
        mov dx, LINK_RX
        in ax, dx
        jmp 0xFFFE:0x0000
