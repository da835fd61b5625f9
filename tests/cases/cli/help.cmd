run: --help
