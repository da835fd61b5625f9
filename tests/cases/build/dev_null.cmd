run: --build /dev/null
