run: --build /dev/zero
