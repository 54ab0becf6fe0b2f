; Echoes every link byte until ESC (0x1B), then jumps back to the boot ROM.
; Loaded at 0030:0000. Prints "E" on the debug UART when it starts.
        bits 16
        cpu 186
        org 0

LINK_STATUS equ 0xFF82
LINK_TX     equ 0xFF84
LINK_RX     equ 0xFF86
DEBUG_TX    equ 0xFF14

start:  cli
        mov ax, 0x0001
        mov ss, ax
        mov sp, 0x2290
        mov dx, DEBUG_TX
        mov al, 'E'
        out dx, al
.rx:    mov dx, LINK_STATUS
        in ax, dx
        test al, 0x80
        jz .rx
        mov dx, LINK_RX
        in ax, dx
        cmp al, 0x1B
        je .rom
        mov bl, al
.tx:    mov dx, LINK_STATUS
        in al, dx
        test al, 0x40
        jz .tx
        mov al, bl
        mov dx, LINK_TX
        out dx, al
        jmp .rx
.rom:   jmp 0xFFFE:0x0000
