#include "app/Project1.h"

int main(int argc, char** argv)
{
    return kavelo::runProgram(argc, argv);
}
