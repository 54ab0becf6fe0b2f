; Burn program: ERASE (whole chip) or ERASE BLOCK, PROGRAM, VERIFY,
; IDENTIFY, SETBAUDRATE, RESET. Assembled with the family's include folder
; first on the path; DRIVER_BUILD = 1 gives the driver-file build.
        cpu 186
        bits 16
        org 0

%ifndef DRIVER_BUILD
%define DRIVER_BUILD 0
%endif
%if DRIVER_BUILD
%define PROGRAM_TITLE "burn, driver file build"
%else
%define PROGRAM_TITLE "burn"
%endif

%include "defs.inc"
%include "link.inc"
%include "flash.inc"
%include "verify.inc"
program_vars_start equ link_vars_end
%include "program.inc"

%ifdef FLASH_HAS_CHIP_ERASE
; ---------------------------------------------------------------------------
; cmd_erase: erase the whole chip; DONE follows from the dispatcher.
; In: nothing. Out: nothing. Destroys: SI.
; ---------------------------------------------------------------------------
cmd_erase:
        mov si, msg_erase
        call dbg_puts
        call flash_erase_chip
        jnc .done
        mov si, msg_unknown_part
        call dbg_puts
.done:  ret

msg_erase:        db 10, 13, "ERASE", 0
msg_unknown_part: db 10, 13, "unknown part, nothing erased", 0
%endif

%ifdef FLASH_HAS_BLOCK_ERASE
; ---------------------------------------------------------------------------
; cmd_erase_block: erase the block at the received address; DONE follows
; from the dispatcher.
; In: rx_payload = block address, 32-bit big-endian. Out: nothing.
; Destroys: AX, DX, SI, DI.
; ---------------------------------------------------------------------------
cmd_erase_block:
        mov si, msg_erase_block
        call dbg_puts
        xor si, si
        call payload_be32
        mov di, ax
        call flash_erase_block
        ret

msg_erase_block: db 10, 13, "ERASE BLOCK", 0
%endif

command_table:
%ifdef FLASH_HAS_CHIP_ERASE
        COMMAND MSG_ERASE,       LEN_NONE,         0,                  cmd_erase
%endif
%ifdef FLASH_HAS_BLOCK_ERASE
        COMMAND MSG_ERASE_BLOCK, LEN_ADDR,         0,                  cmd_erase_block
%endif
        COMMAND MSG_PROGRAM,     LEN_ADDR_COUNT32, CMD_ANSWERS_ITSELF, cmd_program
        COMMAND MSG_IDENTIFY,    LEN_NONE,         CMD_ANSWERS_ITSELF, cmd_identify
        COMMAND MSG_VERIFY,      LEN_ADDR_COUNT16, CMD_ANSWERS_ITSELF, cmd_verify
        COMMAND MSG_SETBAUDRATE, LEN_ADDR,         CMD_ANSWERS_ITSELF, cmd_setbaudrate
        COMMAND MSG_RESET,       LEN_NONE,         CMD_ANSWERS_ITSELF, cmd_reset
COMMAND_COUNT equ ($ - command_table) / CMD_ENTRY_SIZE

%include "tail.inc"
