%include "exit.inc"
bits 32
section .text
extern helper
global _start
_start:
    call helper
    EXIT 0
