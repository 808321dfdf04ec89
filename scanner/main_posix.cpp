// Entry point of the terminal program. Arguments and environment are not
// read: the tool always scans the directory it starts in.

#include "scanner/scan.h"

int main() { return dumpscan::RunDumpscan(); }
