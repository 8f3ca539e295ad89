#include "driver/conversion.h"

// The arguments are not looked at: the tool takes none.
int main() { mirrorpdf::convert_all(); }
