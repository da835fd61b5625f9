run: -x
env: SDL_VIDEODRIVER=none
