run: --bogus --version
