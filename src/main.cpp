#include "app/Application.h"

int main(int argc, char** argv)
{
    return kavelo::runProgram(argc, argv);
}
