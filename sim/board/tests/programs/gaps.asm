; Records, for every link byte, how many times it found the UART empty since
; the byte before: words from 0100:0000 on (at most 4,096). ESC (0x1B) jumps
; back to the boot ROM; "!" is echoed on the debug UART. Loaded at
; 0030:0000; prints "G" on the debug UART when it starts.
        bits 16
        cpu 186
        org 0

LINK_STATUS  equ 0xFF82
LINK_RX      equ 0xFF86
DEBUG_TX     equ 0xFF14
GAPS_SEG     equ 0x0100
MAX_GAPS     equ 4096

start:  cli
        mov ax, 0x0001
        mov ss, ax
        mov sp, 0x2290
        mov ax, GAPS_SEG
        mov es, ax
        xor di, di
        xor cx, cx                  ; empty polls since the last byte
        mov dx, DEBUG_TX
        mov al, 'G'
        out dx, al
.poll:  mov dx, LINK_STATUS
        in ax, dx
        test al, 0x80
        jnz .byte
        inc cx
        jmp .poll
.byte:  mov dx, LINK_RX
        in ax, dx
        cmp al, 0x1B
        je .rom
        cmp al, '!'
        jne .keep
        mov dx, DEBUG_TX
        out dx, al
.keep:
        cmp di, MAX_GAPS * 2
        jae .next
        mov [es:di], cx
        add di, 2
.next:  xor cx, cx
        jmp .poll
.rom:   jmp 0xFFFE:0x0000
