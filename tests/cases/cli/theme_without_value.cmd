run: --theme
