run: --version
