$ printf 'just text\n' > notes.txt
run: --trace {tmp}/notes.txt 3
