; Sends "HELLO" on the link, waits about 3 ms (longer than the five bytes
; take at the boot ROM's 19,263 baud), switches the link UART to another
; rate, prints "D" on the debug UART and idles. Loaded at 0030:0000.
        bits 16
        cpu 186
        org 0

LINK_STATUS  equ 0xFF82
LINK_TX      equ 0xFF84
LINK_DIVISOR equ 0xFF88
DEBUG_TX     equ 0xFF14

start:  cli
        mov ax, 0x0001
        mov ss, ax
        mov sp, 0x2290
        mov si, text
        mov cx, 5
.tx:    mov dx, LINK_STATUS
.room:  in ax, dx
        test al, 0x40
        jz .room
        mov al, [cs:si]
        inc si
        mov dx, LINK_TX
        out dx, al
        loop .tx
        mov cx, 25000               ; LOOP: 25,000 instructions, about 3 ms
.wait:  loop .wait
        mov dx, LINK_DIVISOR
        mov ax, 100
        out dx, ax
        mov dx, DEBUG_TX
        mov al, 'D'
        out dx, al
.idle:  jmp .idle
text:   db "HELLO"
