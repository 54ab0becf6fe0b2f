; Identify program: IDENTIFY, SETBAUDRATE, RESET.
        cpu 186
        bits 16
        org 0
%define DRIVER_BUILD 0
%define PROGRAM_TITLE "identify"

%include "defs.inc"
%include "link.inc"
%include "flash.inc"

command_table:
        COMMAND MSG_IDENTIFY,    LEN_NONE, CMD_ANSWERS_ITSELF, cmd_identify
        COMMAND MSG_SETBAUDRATE, LEN_ADDR, CMD_ANSWERS_ITSELF, cmd_setbaudrate
        COMMAND MSG_RESET,       LEN_NONE, CMD_ANSWERS_ITSELF, cmd_reset
COMMAND_COUNT equ ($ - command_table) / CMD_ENTRY_SIZE

program_vars_end equ link_vars_end
%include "tail.inc"
