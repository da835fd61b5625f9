run: --theme --size --version
