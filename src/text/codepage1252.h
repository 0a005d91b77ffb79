// Code page 1252, the ANSI code page of US-English Windows.
#ifndef QUELVO_CODEPAGE1252_H
#define QUELVO_CODEPAGE1252_H

// One UTF-16 unit to one byte as Windows converts by default: best fit on,
// '?' for what the code page cannot show. Surrogates each become '?', so a
// character outside the basic plane comes out as "??".
unsigned char UnicodeToCp1252(unsigned short unit);

// One byte to its UTF-16 unit; every byte has one.
unsigned short Cp1252ToUnicode(unsigned char byte);

#endif
