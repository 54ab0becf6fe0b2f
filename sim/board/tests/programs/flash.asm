; Drives the SST command sequences through the flash window: identify,
; leave identify, program one word at flash address 0x10010 and wait for the
; toggle bit, then returns to the boot ROM by a far jump.
; Results at 0001:0000: maker, model, word read back, polls spent.
        bits 16
        cpu 186
        org 0

start:  mov ax, 0x0001
        mov ds, ax
        mov ax, 0x4000
        mov es, ax
        call unlock
        mov word [es:0xAAAA], 0x9090
        mov ax, [es:0x0000]
        mov [0x00], ax
        mov ax, [es:0x0002]
        mov [0x02], ax
        call unlock
        mov word [es:0xAAAA], 0xF0F0

        call unlock
        mov word [es:0xAAAA], 0xA0A0
        mov ax, 0x4100            ; 0x4000 + (0x0001 << 8): flash 0x10000
        mov es, ax
        mov word [es:0x0010], 0x1234
        xor cx, cx
.poll:  inc cx
        mov ax, [es:0x0010]
        cmp ax, [es:0x0010]
        jne .poll
        mov ax, [es:0x0010]
        mov [0x04], ax
        mov [0x06], cx
        jmp 0xFFFE:0x0000

; Input: ES = 0x4000. Destroys nothing.
unlock: mov word [es:0xAAAA], 0xAAAA
        mov word [es:0x5554], 0x5555
        ret
