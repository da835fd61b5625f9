run: --
