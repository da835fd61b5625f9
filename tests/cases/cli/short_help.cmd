run: -h
