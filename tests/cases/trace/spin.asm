; Never ends: the instruction after the jump is never reached.
section .text
global _start
_start:
    nop
top:
    jmp top
    nop
