run: -x
