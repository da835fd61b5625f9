#include "main.h"

int main(int argc, char** argv)
{
    return cmdline::run(argc, argv);
}
