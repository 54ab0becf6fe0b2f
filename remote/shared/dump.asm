; Dump program: DUMP (a flash range by XModem-1K), IDENTIFY, SETBAUDRATE,
; RESET.
        cpu 186
        bits 16
        org 0
%define DRIVER_BUILD 0
%define PROGRAM_TITLE "dump"

%include "defs.inc"
%include "link.inc"
%include "flash.inc"

; ---------------------------------------------------------------------------
; cmd_dump: DUMP_RES, the range by XModem-1K, then back to the boot ROM.
; In: rx_payload = address (32-bit), count (32-bit), big-endian.
; Does not return.
; ---------------------------------------------------------------------------
cmd_dump:
        xor si, si
        call payload_be32
        mov [dump_addr], ax
        mov [dump_addr + 2], dx
        mov si, LEN_ADDR
        call payload_be32
        mov [dump_count], ax
        mov [dump_count + 2], dx
        mov al, MSG_DUMP_RES
        call send_empty
        mov ax, [dump_addr]
        mov dx, [dump_addr + 2]
        mov si, msg_dump
        call dbg_label_hex32
        mov ax, [dump_count]
        mov dx, [dump_count + 2]
        mov si, msg_data_count
        call dbg_label_hex32
        call xmodem_send
        jmp cmd_reset

; ---------------------------------------------------------------------------
; link_getc_timed: wait for a byte from the link, polling at most
; 20,000,000 times.
; In: nothing. Out: CF clear and AL = byte, or CF set on time-out.
; Destroys: AH.
; ---------------------------------------------------------------------------
link_getc_timed:
        push bx
        push cx
        push dx
        mov cx, XM_POLLS_LOW
        mov bx, XM_POLLS_HIGH
        mov dx, LINK_STATUS
.poll:  in ax, dx
        test al, UART_RX_READY
        jnz .got
        sub cx, 1
        sbb bx, 0
        mov ax, cx
        or ax, bx
        jnz .poll
        stc
        jmp .out
.got:   mov dx, LINK_RX
        in ax, dx
        clc
.out:   pop dx
        pop cx
        pop bx
        ret

; ---------------------------------------------------------------------------
; xmodem_send: send [dump_count] bytes from flash address [dump_addr] as
; XModem-1K blocks; the receiver's start byte picks CRC-16 or the 8-bit sum.
; In: dump_addr, dump_count. Out: nothing. Destroys: AX, BX, CX, DX, SI, DI.
; ---------------------------------------------------------------------------
xmodem_send:
        mov cx, XM_START_WAITS
.start: call link_getc_timed
        jc .miss
        cmp al, XM_CRC_START
        je .crc
        cmp al, XM_NAK
        je .sum
        cmp al, XM_CAN
        jne .miss
        call link_getc_timed
        jc .miss
        cmp al, XM_CAN
        je .cancelled
.miss:  loop .start
        mov si, msg_no_start
        call dbg_puts
        jmp xm_cancel
.crc:   mov byte [xm_crc], 1
        mov si, msg_xm_crc
        jmp .go
.sum:   mov byte [xm_crc], 0
        mov si, msg_xm_sum
.go:    call dbg_puts
        mov byte [xm_block], 1
        mov word [xm_sent], 0
        mov word [xm_sent + 2], 0
.next:  ; the block after the one that passed the count is the end
        mov ax, [xm_sent]
        mov dx, [xm_sent + 2]
        cmp dx, [dump_count + 2]
        ja .eot
        jb .fill
        cmp ax, [dump_count]
        ja .eot
.fill:  call xm_fill_block
        mov byte [xm_tries], XM_BLOCK_SENDINGS
.send:  call xm_send_block
        call link_getc_timed
        jc .again
        cmp al, XM_ACK
        je .acked
        cmp al, XM_CAN
        jne .again
        call link_getc_timed
        jc .again
        cmp al, XM_CAN
        jne .again
        mov al, XM_ACK
        call link_putc
        jmp .cancelled
.again: dec byte [xm_tries]
        jnz .send
        mov si, msg_refused
        call dbg_puts
        jmp xm_cancel
.acked: inc byte [xm_block]
        add word [xm_sent], XM_BLOCK_SIZE
        adc word [xm_sent + 2], 0
        jmp .next
.eot:   mov cx, XM_EOT_SENDINGS
.eot_send:
        mov al, XM_EOT
        call link_putc
        call link_getc_timed
        jc .eot_again
        cmp al, XM_ACK
        je .done
.eot_again:
        loop .eot_send
.done:  mov si, msg_xm_done
        call dbg_puts
        ret
.cancelled:
        mov si, msg_xm_cancelled
        call dbg_puts
        ret

; ---------------------------------------------------------------------------
; xm_cancel: three CAN bytes.
; In: nothing. Out: nothing. Destroys: AX, CX.
; ---------------------------------------------------------------------------
xm_cancel:
        mov cx, XM_CAN_COUNT
        mov al, XM_CAN
.can:   call link_putc
        loop .can
        ret

; ---------------------------------------------------------------------------
; xm_fill_block: the next block's data from flash: the bytes left, up to
; 1024, then one pad byte and zeros when fewer than 1024 are left.
; In: dump_addr, dump_count, xm_sent (not past the count). Out: xm_buffer.
; Destroys: AX, CX, DX, SI, DI.
; ---------------------------------------------------------------------------
xm_fill_block:
        push es
        mov di, xm_buffer
        mov cx, XM_BLOCK_SIZE / 2
        xor ax, ax
        rep stosw
        mov ax, [dump_count]
        mov dx, [dump_count + 2]
        sub ax, [xm_sent]
        sbb dx, [xm_sent + 2]
        mov cx, XM_BLOCK_SIZE
        test dx, dx
        jnz .full
        cmp ax, cx
        jae .full
        mov cx, ax                  ; CX = bytes in this block
.full:  push cx
        mov di, [dump_addr]
        mov dx, [dump_addr + 2]
        add di, [xm_sent]
        adc dx, [xm_sent + 2]
        mov si, xm_buffer
.word:  cmp cx, 2
        jb .tail
        call flash_segment
        mov ax, [es:di]
        mov [si], ax
        add si, 2
        sub cx, 2
        add di, 2
        adc dx, 0
        jmp .word
.tail:  jcxz .pad
        call flash_segment
        mov al, [es:di]
        mov [si], al
        inc si
.pad:   pop cx
        cmp cx, XM_BLOCK_SIZE
        je .ret
        mov byte [si], XM_PAD
.ret:   pop es
        ret

; ---------------------------------------------------------------------------
; xm_send_block: STX, block number and its complement, the buffer, and the
; CRC-16 (high byte first) or the 8-bit sum of the data.
; In: xm_block, xm_buffer, xm_crc. Out: nothing. Destroys: AX, BX, CX, DX,
; SI.
; ---------------------------------------------------------------------------
xm_send_block:
        mov al, XM_STX
        call link_putc
        mov al, [xm_block]
        call link_putc
        not al
        call link_putc
        mov si, xm_buffer
        mov cx, XM_BLOCK_SIZE
        xor dx, dx                  ; CRC, or the sum in DL
.byte:  mov al, [si]
        call link_putc
        cmp byte [xm_crc], 0
        je .add
        mov bl, al
        xor bl, dh
        xor bh, bh
        shl bx, 1
        mov dh, dl
        xor dl, dl
        xor dx, [cs:crc_table + bx]
        jmp .on
.add:   add dl, al
.on:    inc si
        loop .byte
        cmp byte [xm_crc], 0
        je .sum
        mov al, dh
        call link_putc
.sum:   mov al, dl
        call link_putc
        ret

; CRC-16/XMODEM: polynomial 0x1021, most significant bit first
crc_table:
[list -]
%assign i 0
%rep 256
  %assign c (i << 8)
  %rep 8
    %if c & 0x8000
      %assign c ((c << 1) ^ XM_CRC_POLY) & 0xFFFF
    %else
      %assign c (c << 1) & 0xFFFF
    %endif
  %endrep
        dw c
  %assign i i + 1
%endrep
[list +]

msg_dump:         db 10, 13, "DUMP, Start adddress = ", 0
msg_data_count:   db " Data count = ", 0
msg_xm_crc:       db 10, 13, "XMODEM CRC", 0
msg_xm_sum:       db 10, 13, "XMODEM checksum", 0
msg_no_start:     db 10, 13, "no receiver", 0
msg_refused:      db 10, 13, "block refused", 0
msg_xm_done:      db 10, 13, "transfer complete", 0
msg_xm_cancelled: db 10, 13, "transfer cancelled", 0

command_table:
        COMMAND MSG_IDENTIFY,    LEN_NONE,         CMD_ANSWERS_ITSELF, cmd_identify
        COMMAND MSG_DUMP,        LEN_ADDR_COUNT32, CMD_ANSWERS_ITSELF, cmd_dump
        COMMAND MSG_SETBAUDRATE, LEN_ADDR,         CMD_ANSWERS_ITSELF, cmd_setbaudrate
        COMMAND MSG_RESET,       LEN_NONE,         CMD_ANSWERS_ITSELF, cmd_reset
COMMAND_COUNT equ ($ - command_table) / CMD_ENTRY_SIZE

absolute link_vars_end
dump_addr:      resd 1
dump_count:     resd 1
xm_sent:        resd 1
xm_block:       resb 1
xm_crc:         resb 1
xm_tries:       resb 1
xm_buffer:      resb XM_BLOCK_SIZE
program_vars_end:
section .text

%include "tail.inc"
