#include "quillon/quillon.h"

extern "C" {
const double QuillonVersionNumber = 1.0;
const unsigned char QuillonVersionString[] = "@(#)PROGRAM:Quillon  PROJECT:Quillon-1\n";
}
