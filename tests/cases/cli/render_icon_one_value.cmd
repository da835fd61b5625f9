run: --render-icon 64
