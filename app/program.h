// The program's entry: banner, argument checks, conversion, end banner, exit code.
#pragma once

int pelcMain(int argc, char** argv);
/// Writes the three usage lines. Returns 0.
int printUsage();
