// The outcome of every step the program reports on: one number per
// outcome, and one message for each in the driver's catalogue.
#ifndef QUELVO_STATUS_H
#define QUELVO_STATUS_H

enum StatusCode {
  kStatusOk = 0,
  kStatusOutOfMemory = -1,      // the heap refused the version block
  kStatusNoVersionInfo = 100,   // the size query found no version resource
  kStatusReadFailed = 101,      // the version block could not be read
  kStatusNoTranslation = 102,   // no \VarFileInfo\Translation
  kStatusNoCompanyName = 103,   // no CompanyName for the translation
  kStatusNoDescription = 104,   // no FileDescription
  kStatusNoVersionString = 105, // no FileVersion
  kStatusNoFixedInfo = 106,     // no fixed record at the root
  kStatusNotRegularFile = 107,  // a directory or a drive root
  kStatusUsage = 108,           // usage asked for
  kStatusNoFileArgument = 109,  // nothing named on the command line
  kStatusQueryFailed = 110,     // the file status query failed
  kStatusNotExecutable = 111,   // catalogue only
  kStatusNotWin32 = 112,        // catalogue only
  kStatusCannotOpen = 113,      // a match whose status cannot be read
  kStatusNotFound = 114,        // a pattern that matched nothing
  kStatusFolderFailed = 115,    // --recursive: a folder that cannot be read
};

#endif
