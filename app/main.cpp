#include "app/program.h"

int main(int argc, char** argv) { return pelcMain(argc, argv); }
