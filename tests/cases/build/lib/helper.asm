bits 32
section .text
global helper
helper:
    ret
