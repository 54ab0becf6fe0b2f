; Takes link bytes and keeps none until ESC (0x1B), then jumps back to the
; boot ROM: between bytes it waits in a loop that changes nothing. Loaded at
; 0030:0000. Prints "S" on the debug UART when it starts. The word at offset
; 2, when not zero, is first written to the link divisor.
        bits 16
        cpu 186
        org 0

LINK_STATUS  equ 0xFF82
LINK_RX      equ 0xFF86
LINK_DIVISOR equ 0xFF88
DEBUG_TX     equ 0xFF14

start:  jmp short begin
divisor: dw 0
        times -((divisor - start) != 2) db 0    ; the host patches offset 2

begin:  cli
        mov ax, [cs:divisor]
        test ax, ax
        jz .hello
        mov dx, LINK_DIVISOR
        out dx, ax
.hello: mov dx, DEBUG_TX
        mov al, 'S'
        out dx, al
.rx:    mov dx, LINK_STATUS
        in ax, dx
        test al, 0x80
        jz .rx
        mov dx, LINK_RX
        in ax, dx
        cmp al, 0x1B
        jne .rx
        jmp 0xFFFE:0x0000
